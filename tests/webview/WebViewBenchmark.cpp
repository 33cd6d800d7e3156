// Prints what the web view costs: creating the first and a second control,
// a navigation on loopback until LoadingFinished (the handler reading the
// source, as the program's does), and the process's memory over many loads.
// Run from a folder that holds node.dll beside the program. Figures only.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "form/ControlIds.h"
#include "form/EventTable.h"
#include "tests/support/LoopbackServer.h"
#include "tests/webview/WebViewTestSupport.h"

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

size_t WorkingSetKb()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.WorkingSetSize / 1024;
}

void PrintTimes(const char* label, std::vector<double> times)
{
    if (times.empty())
        return;
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times)
        sum += t;
    std::printf("%-34s n=%3zu  mean %7.2f ms  median %7.2f ms  p95 %7.2f ms  max %7.2f ms\n", label, times.size(),
                sum / static_cast<double>(times.size()), times[times.size() / 2], times[times.size() * 95 / 100],
                times.back());
}

// Navigates `rounds` times and times each load until its LoadingFinished.
std::vector<double> TimeLoads(LoadRecorder& loads, const std::string& url, int rounds, size_t& cbSource)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        size_t before = loads.Records().size();
        Clock::time_point start = Clock::now();
        WebViewNavigate(TestFormId, TestUnitId, WebViewKindCode, url);
        if (!loads.WaitFor(before + 1, 60s)) {
            std::printf("no LoadingFinished within 60 s for %s\n", url.c_str());
            break;
        }
        times.push_back(MillisecondsSince(start));
        cbSource = loads.Records().back().source.size();
    }
    return times;
}

// Mouse moves handed to a window procedure directly: what offering input to
// the program first adds per message, with and without a bound handler.
double MicrosecondsPerMouseMove(WNDPROC procedure, HWND engineWindow, int count)
{
    Clock::time_point start = Clock::now();
    for (int i = 0; i < count; ++i)
        CallWindowProcW(procedure, engineWindow, WM_MOUSEMOVE, 0, MAKELPARAM(i % 300, i % 200));
    return MillisecondsSince(start) * 1000.0 / count;
}

void PrintInputCost(HWND host)
{
    HWND engineWindow = GetWindow(host, GW_CHILD);
    auto engineProcedure = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(engineWindow, GWLP_USERDATA));
    auto viewProcedure = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(engineWindow, GWLP_WNDPROC));
    if (!engineWindow || !engineProcedure || !viewProcedure)
        return;
    constexpr int count = 20000;
    double direct = MicrosecondsPerMouseMove(engineProcedure, engineWindow, count);
    double unbound = MicrosecondsPerMouseMove(viewProcedure, engineWindow, count);
    int seen = 0;
    BindEvent(TestFormId, TestUnitId, 19, [&](const EventRecord&) -> std::optional<int32_t> {
        ++seen;
        return std::nullopt;
    });
    double bound = MicrosecondsPerMouseMove(viewProcedure, engineWindow, count);
    BindEvent(TestFormId, TestUnitId, 19, nullptr);
    std::printf("mouse move, engine's procedure alone     %7.2f us\n", direct);
    std::printf("mouse move, offered first, unbound       %7.2f us\n", unbound);
    std::printf("mouse move, offered first, bound         %7.2f us  (%d events)\n", bound, seen);
}

} // namespace

int main()
{
    LoopbackServer server;
    server.AddRoute("/small", Reply::Ok("<html><body>k3y</body></html>"));
    std::string big = "<html><body>";
    while (big.size() < 200 * 1024)
        big += Utf8(L"<p>题目与答案，一行文字。</p>\n");
    big += "</body></html>";
    server.AddRoute("/big", Reply::Ok(big, "text/html; charset=utf-8"));
    if (!server.Start()) {
        std::printf("the loopback server did not start\n");
        return 1;
    }

    TestForm form;
    size_t workingSetBefore = WorkingSetKb();
    Clock::time_point start = Clock::now();
    HWND firstHost = form.AddWebView(TestUnitId);
    if (!firstHost) {
        std::printf("no web view: is node.dll beside the program?\n");
        return 1;
    }
    double firstCreate = MillisecondsSince(start);
    start = Clock::now();
    form.AddWebView(TestUnitId + 1, 400, 10);
    double secondCreate = MillisecondsSince(start);
    std::printf("first control (engine load, bind, view)  %7.2f ms\n", firstCreate);
    std::printf("second control (view only)               %7.2f ms\n", secondCreate);

    PrintInputCost(firstHost);

    LoadRecorder loads(TestFormId, TestUnitId);
    size_t cbSource = 0;
    PrintTimes("navigate, small page", TimeLoads(loads, server.Url("/small"), 50, cbSource));
    std::vector<double> bigTimes = TimeLoads(loads, server.Url("/big"), 20, cbSource);
    PrintTimes("navigate, 200 KB page", bigTimes);
    std::printf("%-34s %zu bytes\n", "page source of the 200 KB page", cbSource);

    size_t workingSetAfterFirst = WorkingSetKb();
    TimeLoads(loads, server.Url("/small"), 300, cbSource);
    size_t workingSetAfterMany = WorkingSetKb();
    std::printf("working set: before views %zu KB, after 70 loads %zu KB, after 300 more %zu KB\n", workingSetBefore,
                workingSetAfterFirst, workingSetAfterMany);
    return 0;
}

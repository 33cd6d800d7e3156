// Prints the click-to-result time of a lookup in the real Kelvora.exe against
// a loopback answer service (median of 20), next to the time a bare WinInet
// client in this process needs for the same four requests.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "form/ControlIds.h"
#include "tests/support/AppDriver.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/support/TestAnswerService.h"

namespace {

constexpr int Runs = 20;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double NowMs()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool BareGet(HINTERNET session, const std::string& url)
{
    HINTERNET request = InternetOpenUrlA(session, url.c_str(), "Accept: */*\r\n\r\n", 15,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!request)
        return false;
    char buffer[16384];
    DWORD read = 0;
    while (InternetReadFile(request, buffer, sizeof buffer, &read) && read > 0) {
    }
    InternetCloseHandle(request);
    return true;
}

} // namespace

int main()
{
    TestAnswerService service;
    if (!service.Start())
        return 1;
    ScratchDirectory directory;
    const std::wstring exe = PrepareKelvoraCopy(directory.Path(), service.BaseUrl());
    AppDriver app;
    if (exe.empty() || !app.Start(exe, directory.Path()) || !app.WaitForMainWindow(30000)) {
        std::printf("Kelvora.exe did not start\n");
        return 1;
    }
    HWND question = app.Control(QuestionBoxId);
    HWND result = app.Control(ResultBoxId);
    HWND button = app.Control(QueryButtonId);
    SendMessageW(question, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"\u9898\u76EE"));
    app.BringToFront();

    std::vector<double> lookups;
    for (int i = 0; i < Runs + 1; ++i) {
        SendMessageW(result, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
        const size_t reports = service.RequestsTo(TestAnswerService::ReportPath).size();
        const double start = NowMs();
        app.Click(button);
        const bool done = AppDriver::WaitFor(
            [&] {
                return service.RequestsTo(TestAnswerService::ReportPath).size() > reports &&
                       !AppDriver::ReadText(result).empty();
            },
            30000);
        const double elapsed = NowMs() - start;
        if (!done) {
            std::printf("lookup %d did not finish\n", i);
            return 1;
        }
        if (i > 0) // the first one warms up the engine and the connections
            lookups.push_back(elapsed);
    }

    HINTERNET session = InternetOpenA("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)", INTERNET_OPEN_TYPE_DIRECT,
                                      nullptr, nullptr, 0);
    const std::string base = service.BaseUrl();
    const std::string urls[] = {
        base + "/get_cha_url.php?t=%E9%A2%98%E7%9B%AE",
        base + "/new_get_api.php",
        base + "/api/answer?q=%E9%A2%98%E7%9B%AE&k=K123",
        base + "/upmy/up.php?t=%E9%A2%98%E7%9B%AE&d=%41",
    };
    std::vector<double> bare;
    for (int i = 0; i < Runs + 1; ++i) {
        const double start = NowMs();
        for (const std::string& url : urls)
            BareGet(session, url);
        if (i > 0)
            bare.push_back(NowMs() - start);
    }
    InternetCloseHandle(session);

    const double lookupMs = Median(lookups);
    const double bareMs = Median(bare);
    std::printf("click-to-result, median of %d: %.1f ms\n", Runs, lookupMs);
    std::printf("bare WinInet, same four requests, median of %d: %.1f ms\n", Runs, bareMs);
    std::printf("ratio: %.2f\n", bareMs > 0 ? lookupMs / bareMs : 0.0);
    return 0;
}

// Prints how long loads take on loopback, from wkeLoadURL to the
// loading-finished callback. Figures only; nothing is asserted.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "tests/engine/EngineHarness.h"
#include "tests/support/LoopbackServer.h"

namespace {

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Loads the target `rounds` times in one view and prints the timings.
void Measure(ViewHarness& view, LoopbackServer& server, const char* label, const std::string& target, int rounds)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const size_t before = view.finishes.size();
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        view.Load(server.Url(target));
        if (!view.WaitForFinishes(before + 1, 60000)) {
            std::printf("%s: no loading-finished within 60 s\n", label);
            return;
        }
        QueryPerformanceCounter(&end);
        times.push_back(Milliseconds(start, end));
    }
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times)
        sum += t;
    std::printf("%-28s rounds %3d  median %8.1f ms  mean %8.1f ms  min %8.1f ms  max %8.1f ms\n", label, rounds,
                times[times.size() / 2], sum / static_cast<double>(times.size()), times.front(), times.back());
}

// Memory and threads after a run of loads: growth between two prints would
// show a leak (a worker or a session not ending).
void PrintResources(const char* label)
{
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::printf("%-28s working set %7.1f MB  committed %7.1f MB\n", label,
                static_cast<double>(memory.WorkingSetSize) / (1024.0 * 1024.0),
                static_cast<double>(memory.PagefileUsage) / (1024.0 * 1024.0));
}

} // namespace

int main()
{
    if (!EngineApi::Get()) {
        std::printf("node.dll could not be loaded from KELVORA_ENGINE\n");
        return 1;
    }
    LoopbackServer server;
    std::string page = "<html><head><title>t</title></head><body>KEY</body></html>";
    std::string large = "<html><body>";
    while (large.size() < 10u * 1024 * 1024)
        large += "<p>\xE4\xB8\xAD\xE6\x96\x87 some text <a href=\"/x\">link</a></p>\n";
    large += "</body></html>";
    std::string gbk = "<html><head><meta charset=gbk></head><body>";
    while (gbk.size() < 1024 * 1024)
        gbk += "\xD6\xD0\xCE\xC4 text ";
    server.AddRoute("/small", Reply::Ok(page));
    server.AddRoute("/large", Reply::Ok(large));
    server.AddRoute("/gbk", Reply::Ok(gbk));
    server.AddRoute("/script", Reply::Ok("<html><head><title>t</title></head><body>KEY<script>document.title = 'k' + 1;"
                                         "document.write('<b>' + document.title + '</b>')</script></body></html>"));
    if (!server.Start())
        return 1;
    ViewHarness view;
    Measure(view, server, "small page (60 B)", "/small", 50);
    PrintResources("after 50 loads");
    Measure(view, server, "small page again", "/small", 300);
    PrintResources("after 350 loads");
    Measure(view, server, "page with a script", "/script", 100);
    PrintResources("after 100 script pages");
    Measure(view, server, "page with a script again", "/script", 200);
    PrintResources("after 300 script pages");
    Measure(view, server, "GBK page (1 MB)", "/gbk", 5);
    Measure(view, server, "large page (10 MB)", "/large", 3);
    return 0;
}

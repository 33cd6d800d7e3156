// Start-up time of Kelvora.exe: from process creation to its visible main
// window, over several runs from a fresh directory; and the cost of writing
// an engine image of the full size with the start-up's own write.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "webview/ProgramFiles.h"
#include "tests/support/AppDriver.h"
#include "tests/support/ScratchDirectory.h"

namespace {

constexpr int Runs = 7;
constexpr size_t FullEngineSize = 21966848;

double NowMs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void PrintFigures(const char* what, std::vector<double> figures)
{
    if (figures.empty()) {
        std::printf("%-44s no figures\n", what);
        return;
    }
    std::printf("%-44s", what);
    for (double figure : figures)
        std::printf(" %.1f", figure);
    std::printf(" ms\n");
    std::sort(figures.begin(), figures.end());
    std::printf("%-44s min %8.1f ms  median %8.1f ms  max %8.1f ms  (%zu runs)\n", what, figures.front(),
                figures[figures.size() / 2], figures.back(), figures.size());
}

} // namespace

int main()
{
    ScratchDirectory programDir;
    std::wstring exe = programDir / L"Kelvora.exe";
    if (!CopyFileW(AppDriver::KelvoraExePath().c_str(), exe.c_str(), FALSE)) {
        std::printf("cannot copy Kelvora.exe (is KELVORA_EXE set?)\n");
        return 1;
    }
    std::printf("embedded engine image: %zu bytes\n", ReadFileBytes(AppDriver::EnginePath()).size());

    std::vector<double> toWindow;
    for (int run = 0; run < Runs; ++run) {
        AppDriver app;
        double start = NowMs();
        if (!app.Start(exe, programDir.Path()) || !app.WaitForMainWindow(30000))
            continue;
        toWindow.push_back(NowMs() - start);
        PostMessageW(app.MainWindow(), WM_CLOSE, 0, 0);
        app.WaitForExit(10000, nullptr);
    }
    PrintFigures("process start to visible window", toWindow);

    std::vector<unsigned char> image(FullEngineSize, 0x90);
    std::vector<double> writes;
    for (int run = 0; run < Runs; ++run) {
        double start = NowMs();
        if (WriteWholeFile(programDir / L"engine-size.bin", image.data(), image.size()))
            writes.push_back(NowMs() - start);
    }
    PrintFigures("write of a 21,966,848-byte engine image", writes);
    return 0;
}

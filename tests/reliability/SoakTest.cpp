// One Kelvora.exe runs a long series of lookups through its window against a
// loopback answer service; its handles, window-system objects and private
// bytes must stop growing once the first hundred lookups have warmed it up.
// Wine reports 0 for another process's handles, GUI objects and private
// bytes; the system's process list and the count of its windows stand in.
// KELVORA_SOAK_LOOKUPS sets the number of lookups (default 1000, at least 100).
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "form/ControlIds.h"
#include "tests/support/KelvoraUnderTest.h"

namespace {

constexpr int DefaultLookups = 1000;
constexpr int WarmUpLookups = 100;
constexpr double AllowedGrowth = 0.02;
constexpr double MaxPrivateGrowthPerLookupKb = 80;

struct ResourceSample {
    int lookups = 0;
    double seconds = 0;
    DWORD handles = 0;
    DWORD gdiObjects = 0;
    DWORD userObjects = 0;
    SIZE_T privateBytes = 0;
    // The same figures from the system's process list; Wine fills these where
    // the per-process queries above report 0 for another process.
    DWORD listedHandles = 0;
    SIZE_T listedPrivateBytes = 0;
    DWORD windows = 0; // windows of the process, top-level and child
};

void ReadProcessList(DWORD processId, ResourceSample& sample)
{
    using QueryFunction = NTSTATUS(NTAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return;
    std::vector<unsigned char> buffer(1 << 20);
    ULONG needed = 0;
    if (query(SystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) != 0)
        return;
    for (size_t offset = 0;;) {
        const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + offset);
        if (reinterpret_cast<DWORD_PTR>(entry->UniqueProcessId) == processId) {
            sample.listedHandles = entry->HandleCount;
            sample.listedPrivateBytes = entry->VirtualMemoryCounters.PagefileUsage;
            return;
        }
        if (entry->NextEntryOffset == 0)
            return;
        offset += entry->NextEntryOffset;
    }
}

struct WindowCount {
    DWORD processId;
    DWORD count;
};

BOOL CALLBACK CountChildWindow(HWND, LPARAM param)
{
    ++reinterpret_cast<WindowCount*>(param)->count;
    return TRUE;
}

BOOL CALLBACK CountTopLevelWindow(HWND window, LPARAM param)
{
    auto* counted = reinterpret_cast<WindowCount*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == counted->processId) {
        ++counted->count;
        EnumChildWindows(window, CountChildWindow, param);
    }
    return TRUE;
}

ResourceSample Sample(DWORD processId, int lookups, double seconds)
{
    ResourceSample sample;
    sample.lookups = lookups;
    sample.seconds = seconds;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process) {
        GetProcessHandleCount(process, &sample.handles);
        sample.gdiObjects = GetGuiResources(process, GR_GDIOBJECTS);
        sample.userObjects = GetGuiResources(process, GR_USEROBJECTS);
        PROCESS_MEMORY_COUNTERS_EX memory{};
        memory.cb = sizeof memory;
        if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory))
            sample.privateBytes = memory.PrivateUsage;
        CloseHandle(process);
    }
    ReadProcessList(processId, sample);
    WindowCount counted{processId, 0};
    EnumWindows(CountTopLevelWindow, reinterpret_cast<LPARAM>(&counted));
    sample.windows = counted.count;
    return sample;
}

void Print(const ResourceSample& s)
{
    std::printf("after %5d lookups (%6.1f s): handles %lu (listed %lu), GDI %lu, USER %lu, windows %lu, "
                "private %.1f KB (listed %.1f KB)\n",
                s.lookups, s.seconds, static_cast<unsigned long>(s.handles),
                static_cast<unsigned long>(s.listedHandles), static_cast<unsigned long>(s.gdiObjects),
                static_cast<unsigned long>(s.userObjects), static_cast<unsigned long>(s.windows),
                static_cast<double>(s.privateBytes) / 1024.0, static_cast<double>(s.listedPrivateBytes) / 1024.0);
    std::fflush(stdout);
}

// Growth from `base` to `last`; a counter the platform leaves at 0 is
// reported as unmeasured instead of passing trivially.
void ExpectBoundedGrowth(const char* name, double base, double last)
{
    if (base == 0 && last == 0) {
        std::printf("%s: the platform reports 0, not measured\n", name);
        return;
    }
    const double growth = base > 0 ? (last - base) / base : 1.0;
    std::printf("%s: growth after warm-up %+.2f %%\n", name, growth * 100.0);
    EXPECT_LT(growth, AllowedGrowth) << name << " from " << base << " to " << last;
}

int LookupCount()
{
    const char* text = std::getenv("KELVORA_SOAK_LOOKUPS");
    const int count = text ? std::atoi(text) : DefaultLookups;
    return count >= WarmUpLookups ? count : DefaultLookups;
}

double Seconds(const LARGE_INTEGER& start)
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

TEST(SoakTest, ResourcesStayFlatOverManyLookups)
{
    const int lookups = LookupCount();
    KelvoraUnderTest kelvora;
    ASSERT_TRUE(kelvora.Start());
    TestAnswerService& service = kelvora.service;
    AppDriver& app = kelvora.app;
    HWND result = app.Control(ResultBoxId);
    HWND button = app.Control(QueryButtonId);
    ASSERT_TRUE(app.BringToFront());

    const AnsiText expected = KelvoraUnderTest::Result("T", "A");
    ResourceSample warm;
    ResourceSample last;
    int wrong = 0;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    for (int i = 1; i <= lookups; ++i) {
        const std::wstring text = L"\u9898\u76EE" + std::to_wstring(i); // 题目 and the number
        kelvora.SetText(QuestionBoxId, text);
        kelvora.SetText(ResultBoxId, L"(waiting)");
        const size_t before = service.Server().RequestCount();
        ASSERT_TRUE(app.ClickButton(button, [&] { return service.Server().RequestCount() > before; }))
            << "lookup " << i;
        ASSERT_TRUE(AppDriver::WaitFor([&] { return AppDriver::ReadText(result) != "(waiting)"; }, 60000))
            << "lookup " << i;
        if (AppDriver::ReadText(result) != expected)
            ++wrong;
        if (i == 10 || i == WarmUpLookups || i == lookups) {
            last = Sample(app.ProcessId(), i, Seconds(start));
            Print(last);
            if (i == WarmUpLookups)
                warm = last;
        }
    }
    std::printf("%d lookups in %.1f s (%.1f ms each)\n", lookups, last.seconds, 1000.0 * last.seconds / lookups);
    EXPECT_EQ(0, wrong);
    EXPECT_TRUE(service.WaitForReports(static_cast<size_t>(lookups), std::chrono::seconds(10)));

    ExpectBoundedGrowth("handles", warm.handles, last.handles);
    ExpectBoundedGrowth("handles (process list)", warm.listedHandles, last.listedHandles);
    ExpectBoundedGrowth("GDI objects", warm.gdiObjects, last.gdiObjects);
    ExpectBoundedGrowth("USER objects", warm.userObjects, last.userObjects);
    ExpectBoundedGrowth("windows", warm.windows, last.windows);
    ExpectBoundedGrowth("private bytes", static_cast<double>(warm.privateBytes),
                        static_cast<double>(last.privateBytes));
    // Wine's script engine keeps about 1.5 KB for every Eval call even after
    // the engine is released, some 55 KB a lookup; only growth well beyond
    // that would be a leak of this program's own.
    const double perLookupKb =
        (static_cast<double>(last.listedPrivateBytes) - static_cast<double>(warm.listedPrivateBytes)) / 1024.0 /
        (last.lookups - warm.lookups);
    std::printf("private bytes (process list): %+.1f KB per lookup after warm-up\n", perLookupKb);
    if (warm.privateBytes == 0) {
        EXPECT_LT(perLookupKb, MaxPrivateGrowthPerLookupKb);
    }
}

} // namespace

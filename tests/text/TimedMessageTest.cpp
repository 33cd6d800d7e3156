// The self-closing message box and the owner search, on a window of the
// test process. A helper thread finds the box and acts on it, since the
// test's thread is inside the box's modal loop meanwhile.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "text/ProcessWindow.h"
#include "text/TimedMessage.h"

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

constexpr char DefaultTitle[] = "\xD3\xD1\xC7\xE9\xCC\xE1\xD0\xD1";            // 友情提醒
constexpr char Warning[] = "\xC7\xEB\xCA\xE4\xC8\xEB\xCC\xE2\xC4\xBF\xA3\xA1"; // 请输入题目！
constexpr UINT ShowLaterTimer = 1;
constexpr UINT CountMessage = WM_APP + 1;

std::atomic<int> countedMessages = 0;

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == ShowLaterTimer) {
        KillTimer(window, ShowLaterTimer);
        ShowWindow(window, SW_SHOWNA);
        return 0;
    }
    if (message == CountMessage) {
        ++countedMessages;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// What the helper thread saw of the box.
struct BoxSighting {
    HWND box = nullptr;
    HWND owner = nullptr;
    bool ownerEnabled = true;
    Clock::time_point gone; // when the box was last seen on screen
    bool stayed = false;    // still open long after its time-out; closed by the watcher
};

HWND FindOwnBox(const char* title)
{
    HWND box = nullptr;
    while ((box = FindWindowExA(nullptr, box, "#32770", title)) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(box, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(box))
            return box;
    }
    return nullptr;
}

// Waits (bounded) for the box on another thread, notes what it sees, runs
// `act` on the box and then waits (bounded) for it to leave the screen.
class BoxWatcher {
public:
    BoxWatcher(const char* title, std::function<void(HWND)> act)
        : thread_([this, title, act] {
              auto deadline = Clock::now() + 10s;
              while (Clock::now() < deadline && !sighting_.box) {
                  sighting_.box = FindOwnBox(title);
                  if (!sighting_.box)
                      std::this_thread::sleep_for(20ms);
              }
              if (!sighting_.box)
                  return;
              sighting_.owner = GetWindow(sighting_.box, GW_OWNER);
              sighting_.ownerEnabled = sighting_.owner && IsWindowEnabled(sighting_.owner);
              if (act)
                  act(sighting_.box);
              // Closing returns late under Wine without a window manager, so
              // the box's end is taken from when it leaves the screen.
              const auto leaveBy = Clock::now() + 12s;
              while (Clock::now() < leaveBy && IsWindow(sighting_.box) && IsWindowVisible(sighting_.box))
                  std::this_thread::sleep_for(10ms);
              sighting_.gone = Clock::now();
              // A box that stays would hold the test's thread for good.
              if (IsWindow(sighting_.box) && IsWindowVisible(sighting_.box)) {
                  sighting_.stayed = true;
                  PostMessageW(sighting_.box, WM_COMMAND, IDOK, 0);
              }
          })
    {
    }
    ~BoxWatcher()
    {
        if (thread_.joinable())
            thread_.join();
    }
    const BoxSighting& Sighting()
    {
        thread_.join();
        return sighting_;
    }

private:
    BoxSighting sighting_;
    std::thread thread_;
};

void PressKey(HWND box, WPARAM key)
{
    PostMessageW(box, WM_KEYDOWN, key, 0);
    PostMessageW(box, WM_KEYUP, key, 0);
}

double SecondsBetween(Clock::time_point start, Clock::time_point end)
{
    return std::chrono::duration<double>(end - start).count();
}

double SecondsSince(Clock::time_point start)
{
    return SecondsBetween(start, Clock::now());
}

class TimedMessageTest : public testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = TestWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"KelvoraTimedMessageTest";
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, L"KelvoraTimedMessageTest", L"owner", WS_OVERLAPPEDWINDOW, 100, 100, 300, 200,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, window);
    }
    void TearDown() override
    {
        DestroyWindow(window);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }

    HWND window = nullptr;
};

} // namespace

TEST_F(TimedMessageTest, FindsTheVisibleWindowOfTheProcess)
{
    ShowWindow(window, SW_SHOWNA);
    EXPECT_EQ(window, FindProcessWindow(GetCurrentProcessId(), 2000));
    // No window of another process id qualifies.
    auto start = Clock::now();
    EXPECT_EQ(nullptr, FindProcessWindow(GetCurrentProcessId() + 4000001, 300));
    EXPECT_GE(SecondsSince(start), 0.25);
}

TEST_F(TimedMessageTest, WaitsForAWindowToBecomeVisible)
{
    auto start = Clock::now();
    EXPECT_EQ(nullptr, FindProcessWindow(GetCurrentProcessId(), 300));
    EXPECT_GE(SecondsSince(start), 0.25);
    EXPECT_LT(SecondsSince(start), 3.0);

    // The window's own timer shows it: only runs while the wait dispatches messages.
    SetTimer(window, ShowLaterTimer, 300, nullptr);
    start = Clock::now();
    EXPECT_EQ(window, FindProcessWindow(GetCurrentProcessId(), 5000));
    EXPECT_GE(SecondsSince(start), 0.25);
}

TEST_F(TimedMessageTest, AQuitRequestEndsTheWaitAndStaysQueued)
{
    PostQuitMessage(3);
    auto start = Clock::now();
    EXPECT_EQ(nullptr, FindProcessWindow(GetCurrentProcessId(), 5000));
    EXPECT_LT(SecondsSince(start), 2.0);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(3u, msg.wParam);
}

TEST_F(TimedMessageTest, ClosesItselfAfterFiveSecondsOverItsOwner)
{
    ShowWindow(window, SW_SHOWNA);
    countedMessages = 0;
    BoxWatcher watcher(DefaultTitle, [&](HWND) { PostMessageW(window, CountMessage, 0, 0); });
    auto start = Clock::now();
    const int32_t result = ShowTimedMessage(Warning);
    const BoxSighting& seen = watcher.Sighting();
    const double seconds = SecondsBetween(start, seen.gone);
    ASSERT_NE(nullptr, seen.box) << "no box appeared";
    EXPECT_FALSE(seen.stayed) << "the box did not close itself";
    EXPECT_EQ(window, seen.owner);
    EXPECT_FALSE(seen.ownerEnabled) << "the box is not modal to its owner";
    EXPECT_TRUE(IsWindowEnabled(window));
    EXPECT_EQ(TimedMessageTimeoutCode - 1, result);
    EXPECT_GE(seconds, 4.5);
    EXPECT_LE(seconds, 7.0);
    // The owner's messages kept flowing while the box was open.
    EXPECT_EQ(1, countedMessages.load());
}

TEST_F(TimedMessageTest, ClosesSoonerOnOk)
{
    ShowWindow(window, SW_SHOWNA);
    BoxWatcher watcher(DefaultTitle, [](HWND box) { PressKey(box, VK_RETURN); });
    auto start = Clock::now();
    EXPECT_EQ(0, ShowTimedMessage(Warning));
    const BoxSighting& seen = watcher.Sighting();
    EXPECT_NE(nullptr, seen.box);
    EXPECT_LT(SecondsBetween(start, seen.gone), 3.0);
}

TEST_F(TimedMessageTest, HonoursGivenOwnerTitleStyleAndTimeout)
{
    const char title[] = "timed box";
    {
        BoxWatcher watcher(title, [](HWND box) { PressKey(box, VK_ESCAPE); });
        EXPECT_EQ(IDCANCEL - 1, ShowTimedMessage("cancel me", MB_OKCANCEL, AnsiText(title), window, 10000));
        EXPECT_EQ(window, watcher.Sighting().owner);
    }
    {
        // The owner need not be visible when it is given.
        BoxWatcher watcher(title, nullptr);
        auto start = Clock::now();
        EXPECT_EQ(TimedMessageTimeoutCode - 1, ShowTimedMessage("wait", MB_OKCANCEL, AnsiText(title), window, 1500));
        const BoxSighting& seen = watcher.Sighting();
        const double seconds = SecondsBetween(start, seen.gone);
        EXPECT_GE(seconds, 1.2);
        EXPECT_LE(seconds, 3.5);
        EXPECT_EQ(window, seen.owner);
    }
}

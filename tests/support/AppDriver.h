#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "owners/UniqueHandle.h"
#include "text/AnsiText.h"

// Drives the real Kelvora.exe from a test process: starts it, finds its main
// window and controls, types and clicks with real input, reads texts and the
// focus, and waits for states with a time-out. The child process is always
// terminated when the driver goes away.
//
//   AppDriver app;
//   ASSERT_TRUE(app.StartInFront());                // KELVORA_EXE, test's working directory
//   HWND question = app.Control(QuestionBoxId);
//   ASSERT_TRUE(app.WaitForFocus(question));
//   app.TypeText(L"abc\n");                         // "\n" presses Enter
//   EXPECT_TRUE(app.WaitForText(question, "abc\r\n"));
//
// Every wait takes a time-out in milliseconds and pumps the test thread's own
// messages meanwhile, so windows that the test made stay responsive.
// Code page 936 texts are typed as TypeText(WideFromAnsi(text)) (form/WindowText.h).
// Under Wine without a window manager, closing a top-level window takes about
// two seconds; a test that need not see the close ends the process instead
// (the destructor does).

inline constexpr DWORD DefaultWaitMs = 10000;

class AppDriver {
public:
    AppDriver() = default;
    ~AppDriver();

    // The Windows path of Kelvora.exe (from KELVORA_EXE) and of the built
    // engine (from KELVORA_ENGINE); a Linux path /x/y becomes Z:\x\y.
    static std::wstring KelvoraExePath();
    static std::wstring EnginePath();
    static std::wstring WindowsPathFromEnvironment(const char* name);

    // Starts the executable (default KelvoraExePath()) in the working directory
    // (default: the test's own). False when the process could not be made.
    bool Start(const std::wstring& exePath = {}, const std::wstring& workingDirectory = {});
    // Waits for the process's visible "WTWindow" window; nullptr on time-out
    // or when the process ends first.
    HWND WaitForMainWindow(DWORD timeoutMs = DefaultWaitMs);
    // Start, WaitForMainWindow and BringToFront in one; the failure says which
    // step failed and, when the process ended, its exit code.
    testing::AssertionResult StartInFront(const std::wstring& exePath = {}, const std::wstring& workingDirectory = {});

    HWND MainWindow() const { return mainWindow_; }
    // The visible top-level windows of a process, front to back; only those
    // of `className` when it is given ("#32770" for message boxes).
    static std::vector<HWND> VisibleTopLevelWindows(DWORD processId, const wchar_t* className = nullptr);
    DWORD ProcessId() const { return processId_; }
    HANDLE Process() const { return process_.Get(); }
    // A control of the main window by its id; nullptr when it does not exist.
    HWND Control(uint32_t controlId) const;
    // The control's rectangle in client coordinates of the main window.
    RECT ControlRect(HWND control) const;

    bool IsRunning() const;
    // The exit code, or STILL_ACTIVE while the process runs.
    DWORD ExitCode() const;
    // True when the process ended within the time-out; its exit code goes to *exitCode.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode);
    // Ends the process if it still runs and waits for it to go.
    void Terminate();

    // Makes the main window the foreground window (waits until it is).
    bool BringToFront(DWORD timeoutMs = DefaultWaitMs);
    // Types characters as Unicode key events; '\n' presses Enter, '\t' Tab.
    void TypeText(std::wstring_view text);
    // One press of a virtual key, with Shift / Ctrl / Alt held if asked.
    void PressKey(WORD virtualKey, bool shift = false, bool ctrl = false, bool alt = false);
    // A left click at the centre of the window, with real mouse input.
    void Click(HWND window);
    // Empties an edit box, brings the window to the front, clicks the box and
    // types `text` into it ('\n' presses Enter and reads back as "\r\n").
    // Under Wine without a window manager the X server may take the
    // foreground away just after it was given, and the keys then reach no
    // window; so when the box does not read back the text, this starts over,
    // up to `attempts` times. The failure says what the box and focus were.
    // With `click` false the box must have the focus already (as after start-up
    // or after Tab): the window is brought to the front and the focus is only
    // checked.
    testing::AssertionResult TypeInto(HWND box, std::wstring_view text, bool click = true, int attempts = 3);
    // Each retry above is told on stderr, so a run's log shows lost input.
    // Neither retries more than twice in a row, whatever `attempts` asks:
    // input lost three times fails the test rather than hiding a flaky rig.
    static constexpr int MaxInputAttempts = 3;
    // Clicks a push button, and again (up to `attempts` times) while `took`
    // does not hold within five seconds: a lost click is retried, a delivered
    // one never. Without `took`, the sign is that the button took the focus,
    // which a pressed button does; the button must not have it already.
    testing::AssertionResult ClickButton(HWND button, const std::function<bool()>& took = {}, int attempts = 3);

    // The window's text, converted to code page 936 (or as UTF-16).
    static AnsiText ReadText(HWND window);
    static std::wstring ReadTextWide(HWND window);
    // The same, bounded by `timeoutMs`; false when the window did not answer
    // in time (a window busy with a lookup does not), as opposed to an empty text.
    static bool TryReadTextWide(HWND window, DWORD timeoutMs, std::wstring& text);
    // The window that has the keyboard focus in the application's thread.
    HWND FocusedWindow() const;

    bool WaitForFocus(HWND window, DWORD timeoutMs = DefaultWaitMs) const;
    bool WaitForText(HWND window, const AnsiText& text, DWORD timeoutMs = DefaultWaitMs) const;
    // Lets the application drain the input queue it has (bounded by the time-out).
    void WaitUntilIdle(DWORD timeoutMs = 2000) const;

    // Polls the condition, pumping this thread's messages, until it holds or the time-out passes.
    static bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = DefaultWaitMs);

private:
    KernelHandle process_;
    DWORD processId_ = 0;
    HWND mainWindow_ = nullptr;
};

#include "tests/support/AppDriver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <cstring>
#include <vector>

#include "form/WindowText.h"
#include "tests/support/MessagePump.h"

namespace {

struct TopLevelSearch {
    DWORD processId = 0;
    const wchar_t* className = nullptr;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevelWindow(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<TopLevelSearch*>(lParam);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId || !IsWindowVisible(window))
        return TRUE;
    wchar_t className[32] = {};
    GetClassNameW(window, className, 32);
    if (!search->className || lstrcmpW(className, search->className) == 0)
        search->found.push_back(window);
    return TRUE;
}

INPUT KeyInput(WORD virtualKey, WORD scanCode, DWORD flags)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = scanCode;
    input.ki.dwFlags = flags;
    return input;
}

void AddKeyPress(std::vector<INPUT>& inputs, WORD virtualKey)
{
    inputs.push_back(KeyInput(virtualKey, 0, 0));
    inputs.push_back(KeyInput(virtualKey, 0, KEYEVENTF_KEYUP));
}

void Send(std::vector<INPUT>& inputs)
{
    if (!inputs.empty())
        SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

} // namespace

AppDriver::~AppDriver()
{
    Terminate();
}

std::wstring AppDriver::WindowsPathFromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || !*value)
        return {};
    std::wstring path(value, value + strlen(value)); // the rig's paths are ASCII
    if (path.size() > 1 && path[1] == L':')
        return path;
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    return L"Z:" + path;
}

std::wstring AppDriver::KelvoraExePath()
{
    return WindowsPathFromEnvironment("KELVORA_EXE");
}

std::wstring AppDriver::EnginePath()
{
    return WindowsPathFromEnvironment("KELVORA_ENGINE");
}

bool AppDriver::Start(const std::wstring& exePath, const std::wstring& workingDirectory)
{
    Terminate();
    std::wstring exe = exePath.empty() ? KelvoraExePath() : exePath;
    if (exe.empty())
        return false;
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup, &info))
        return false;
    CloseHandle(info.hThread);
    process_.Reset(info.hProcess);
    processId_ = info.dwProcessId;
    return true;
}

HWND AppDriver::WaitForMainWindow(DWORD timeoutMs)
{
    if (!process_)
        return nullptr;
    WaitFor(
        [this] {
            const std::vector<HWND> found = VisibleTopLevelWindows(processId_, L"WTWindow");
            mainWindow_ = found.empty() ? nullptr : found.front();
            return mainWindow_ != nullptr || !IsRunning();
        },
        timeoutMs);
    return mainWindow_;
}

testing::AssertionResult AppDriver::StartInFront(const std::wstring& exePath, const std::wstring& workingDirectory)
{
    if (!Start(exePath, workingDirectory))
        return testing::AssertionFailure() << "Kelvora.exe could not be started (error " << GetLastError() << ")";
    if (!WaitForMainWindow()) {
        if (IsRunning())
            return testing::AssertionFailure() << "Kelvora's window did not appear";
        return testing::AssertionFailure()
               << "Kelvora ended before its window appeared, exit code 0x" << std::hex << ExitCode();
    }
    if (!BringToFront())
        return testing::AssertionFailure() << "Kelvora's window did not come to the front";
    return testing::AssertionSuccess();
}

std::vector<HWND> AppDriver::VisibleTopLevelWindows(DWORD processId, const wchar_t* className)
{
    TopLevelSearch search{processId, className, {}};
    EnumWindows(CollectTopLevelWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND AppDriver::Control(uint32_t controlId) const
{
    return mainWindow_ ? GetDlgItem(mainWindow_, static_cast<int>(controlId)) : nullptr;
}

RECT AppDriver::ControlRect(HWND control) const
{
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, mainWindow_, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool AppDriver::IsRunning() const
{
    return process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

DWORD AppDriver::ExitCode() const
{
    DWORD exitCode = STILL_ACTIVE;
    if (process_)
        GetExitCodeProcess(process_.Get(), &exitCode);
    return exitCode;
}

bool AppDriver::WaitForExit(DWORD timeoutMs, DWORD* exitCode)
{
    if (!process_)
        return false;
    bool ended = WaitFor([this] { return !IsRunning(); }, timeoutMs);
    if (ended && exitCode)
        *exitCode = ExitCode();
    return ended;
}

void AppDriver::Terminate()
{
    if (!process_)
        return;
    if (IsRunning()) {
        TerminateProcess(process_.Get(), 1);
        WaitForSingleObject(process_.Get(), 10000);
    }
    process_.Reset();
    processId_ = 0;
    mainWindow_ = nullptr;
}

bool AppDriver::BringToFront(DWORD timeoutMs)
{
    if (!mainWindow_)
        return false;
    return WaitFor(
        [this] {
            if (GetForegroundWindow() != mainWindow_)
                SetForegroundWindow(mainWindow_);
            return GetForegroundWindow() == mainWindow_;
        },
        timeoutMs);
}

void AppDriver::TypeText(std::wstring_view text)
{
    std::vector<INPUT> inputs;
    for (wchar_t c : text) {
        if (c == L'\n') {
            AddKeyPress(inputs, VK_RETURN);
        } else if (c == L'\t') {
            AddKeyPress(inputs, VK_TAB);
        } else {
            inputs.push_back(KeyInput(0, c, KEYEVENTF_UNICODE));
            inputs.push_back(KeyInput(0, c, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
        }
    }
    Send(inputs);
}

void AppDriver::PressKey(WORD virtualKey, bool shift, bool ctrl, bool alt)
{
    std::vector<INPUT> inputs;
    const WORD modifiers[] = {static_cast<WORD>(shift ? VK_SHIFT : 0), static_cast<WORD>(ctrl ? VK_CONTROL : 0),
                              static_cast<WORD>(alt ? VK_MENU : 0)};
    for (WORD modifier : modifiers) {
        if (modifier)
            inputs.push_back(KeyInput(modifier, 0, 0));
    }
    AddKeyPress(inputs, virtualKey);
    for (WORD modifier : modifiers) {
        if (modifier)
            inputs.push_back(KeyInput(modifier, 0, KEYEVENTF_KEYUP));
    }
    Send(inputs);
}

void AppDriver::Click(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    INPUT inputs[3] = {};
    for (INPUT& input : inputs)
        input.type = INPUT_MOUSE;
    // Absolute coordinates run from 0 to 65535 over the primary screen.
    inputs[0].mi.dx = ((rect.left + rect.right) / 2 * 65536 + screenWidth / 2) / screenWidth;
    inputs[0].mi.dy = ((rect.top + rect.bottom) / 2 * 65536 + screenHeight / 2) / screenHeight;
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(3, inputs, sizeof(INPUT));
}

testing::AssertionResult AppDriver::TypeInto(HWND box, std::wstring_view text, bool click, int attempts)
{
    attempts = std::clamp(attempts, 1, MaxInputAttempts);
    std::wstring expected;
    for (wchar_t c : text) {
        if (c == L'\n')
            expected += L'\r';
        expected += c;
    }
    std::wstring seen;
    std::string stage = "no attempt";
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        if (attempt > 1)
            fprintf(stderr, "AppDriver: typing failed (%s); typing again\n", stage.c_str());
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""), SMTO_ABORTIFHUNG, 5000, &ignored);
        if (!BringToFront(5000)) {
            stage = "the window did not come to the front";
            continue;
        }
        if (click)
            Click(box);
        if (!WaitForFocus(box, 5000)) {
            stage = "the box did not take the focus";
            continue;
        }
        TypeText(text);
        if (WaitFor([&] { return TryReadTextWide(box, 2000, seen) && seen == expected; }, 5000))
            return testing::AssertionSuccess();
        stage = "the box did not read back the typed text";
    }
    return testing::AssertionFailure() << "after " << attempts << " attempts " << stage << "; the box holds "
                                       << seen.size() << " characters, foreground window " << GetForegroundWindow()
                                       << " (main window " << mainWindow_ << "), focus " << FocusedWindow();
}

testing::AssertionResult AppDriver::ClickButton(HWND button, const std::function<bool()>& took, int attempts)
{
    if (!took && FocusedWindow() == button)
        return testing::AssertionFailure() << "the button has the focus already; a click could not be seen";
    attempts = std::clamp(attempts, 1, MaxInputAttempts);
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        if (attempt > 1)
            fprintf(stderr, "AppDriver: the click was lost (foreground %p, focus %p); clicking again\n",
                    static_cast<void*>(GetForegroundWindow()), static_cast<void*>(FocusedWindow()));
        BringToFront(5000);
        Click(button);
        if (WaitFor(
                took ? took : [&] { return FocusedWindow() == button; }, 5000))
            return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "the button took no click in " << attempts << " attempts; foreground window "
                                       << GetForegroundWindow() << " (main window " << mainWindow_ << "), focus "
                                       << FocusedWindow();
}

bool AppDriver::TryReadTextWide(HWND window, DWORD timeoutMs, std::wstring& text)
{
    DWORD_PTR cchText = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &cchText))
        return false;
    std::wstring read(static_cast<size_t>(cchText) + 1, L'\0');
    DWORD_PTR cchCopied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, read.size(), reinterpret_cast<LPARAM>(read.data()), SMTO_ABORTIFHUNG,
                             timeoutMs, &cchCopied))
        return false;
    read.resize(std::min<size_t>(cchCopied, cchText));
    text = std::move(read);
    return true;
}

std::wstring AppDriver::ReadTextWide(HWND window)
{
    std::wstring text;
    TryReadTextWide(window, 5000, text);
    return text;
}

AnsiText AppDriver::ReadText(HWND window)
{
    return AnsiFromWide(ReadTextWide(window));
}

HWND AppDriver::FocusedWindow() const
{
    DWORD threadId = mainWindow_ ? GetWindowThreadProcessId(mainWindow_, nullptr) : 0;
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!threadId || !GetGUIThreadInfo(threadId, &info))
        return nullptr;
    return info.hwndFocus;
}

bool AppDriver::WaitForFocus(HWND window, DWORD timeoutMs) const
{
    return WaitFor([&] { return FocusedWindow() == window; }, timeoutMs);
}

bool AppDriver::WaitForText(HWND window, const AnsiText& text, DWORD timeoutMs) const
{
    return WaitFor([&] { return ReadText(window) == text; }, timeoutMs);
}

void AppDriver::WaitUntilIdle(DWORD timeoutMs) const
{
    if (process_)
        WaitForInputIdle(process_.Get(), timeoutMs);
    DWORD_PTR ignored = 0;
    if (mainWindow_)
        SendMessageTimeoutW(mainWindow_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &ignored);
}

bool AppDriver::WaitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
    return PumpMessagesUntil(condition, timeoutMs);
}

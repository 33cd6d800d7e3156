#include "text/TimedMessage.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <utility>

#include "owners/UniqueHandle.h"
#include "text/ProcessWindow.h"
#include "text/WideText.h"

namespace {

using MessageBoxTimeoutWProc = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT, WORD, DWORD);

constexpr char DefaultTitle[] = "\xD3\xD1\xC7\xE9\xCC\xE1\xD0\xD1"; // 友情提醒
constexpr uint32_t DefaultTimeoutMs = 5000;
constexpr char MessageBoxClass[] = "#32770";

// Exported by user32 but not declared in its headers, so bound by name. The
// W form: the texts are converted from code page 936 here, so the box reads
// right whatever the system's ANSI code page is.
MessageBoxTimeoutWProc BoundMessageBoxTimeout()
{
    static const MessageBoxTimeoutWProc proc = reinterpret_cast<MessageBoxTimeoutWProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "MessageBoxTimeoutW")));
    return proc;
}

// One box this thread has open. Boxes nest when a handler that runs inside
// a box's modal loop opens another one.
struct OpenBox {
    const wchar_t* title = nullptr;
    UINT_PTR timerId = 0;
    HWND box = nullptr;
    OpenBox* outer = nullptr;
};

thread_local OpenBox* innermostBox = nullptr;

bool IsMessageBoxWindow(HWND window)
{
    char className[16] = {};
    return GetClassNameA(window, className, sizeof className) > 0 && std::strcmp(className, MessageBoxClass) == 0;
}

// Notes the first dialog window that the thread creates once a box is due:
// that is the box.
LRESULT CALLBACK NoteBoxCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && innermostBox && !innermostBox->box) {
        HWND created = reinterpret_cast<HWND>(wParam);
        if (IsMessageBoxWindow(created))
            innermostBox->box = created;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

BOOL CALLBACK FindBoxByTitle(HWND window, LPARAM param)
{
    auto* open = reinterpret_cast<OpenBox*>(param);
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    if (IsMessageBoxWindow(window) && std::wcscmp(text, open->title) == 0) {
        open->box = window;
        return FALSE;
    }
    return TRUE;
}

// The platform's own time-out is not honoured everywhere, so the box is also
// ended here, with the code the platform would give.
void CALLBACK EndBoxAtTimeout(HWND, UINT, UINT_PTR timerId, DWORD)
{
    KillTimer(nullptr, timerId);
    OpenBox* open = innermostBox;
    while (open && open->timerId != timerId)
        open = open->outer;
    if (!open)
        return;
    if (!open->box || !IsWindow(open->box))
        EnumThreadWindows(GetCurrentThreadId(), FindBoxByTitle, reinterpret_cast<LPARAM>(open));
    if (open->box && IsWindow(open->box))
        EndDialog(open->box, TimedMessageTimeoutCode);
}

// Keeps the box registered as this thread's innermost one while it is open.
class OpenBoxScope {
public:
    explicit OpenBoxScope(OpenBox& open) : open_(open) { open_.outer = std::exchange(innermostBox, &open_); }
    ~OpenBoxScope() { innermostBox = open_.outer; }
    OpenBoxScope(const OpenBoxScope&) = delete;
    OpenBoxScope& operator=(const OpenBoxScope&) = delete;

private:
    OpenBox& open_;
};

} // namespace

int32_t ShowTimedMessage(const AnsiText& text, std::optional<uint32_t> style, std::optional<AnsiText> title,
                         std::optional<HWND> owner, std::optional<uint32_t> timeoutMs)
{
    const HWND ownerWindow = owner ? *owner : FindProcessWindow(GetCurrentProcessId());
    const std::wstring titleText = WideFromAnsi(title ? *title : AnsiText(DefaultTitle));
    const std::wstring messageText = WideFromAnsi(text);
    const UINT boxStyle = style ? *style : 0;
    const DWORD timeout = timeoutMs ? *timeoutMs : DefaultTimeoutMs;

    OpenBox open;
    open.title = titleText.c_str();
    OpenBoxScope scope(open);
    const WindowsHook hook(SetWindowsHookExW(WH_CBT, NoteBoxCreation, nullptr, GetCurrentThreadId()));
    // A time-out of 0 or INFINITE asks the platform for a box that stays.
    ThreadTimer timer;
    if (timeout != 0 && timeout != INFINITE) {
        timer.Reset(SetTimer(nullptr, 0, timeout, EndBoxAtTimeout));
        open.timerId = timer.Get();
    }

    int pressed = 0;
    if (MessageBoxTimeoutWProc messageBoxTimeout = BoundMessageBoxTimeout())
        pressed = messageBoxTimeout(ownerWindow, messageText.c_str(), titleText.c_str(), boxStyle, 0, timeout);
    else
        pressed = MessageBoxW(ownerWindow, messageText.c_str(), titleText.c_str(), boxStyle);
    return pressed - 1;
}

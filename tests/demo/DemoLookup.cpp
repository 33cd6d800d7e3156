// Asks the running Kelvora window one question, as a user would: puts the
// question into 编辑框1, presses 按钮1 and waits for the result box.
// Usage: kelvora_demo_lookup QUESTION   (exit code 0 once a result is shown)
#include <windows.h>

#include <string>

#include "form/ControlIds.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    HWND window = nullptr;
    for (int i = 0; i < 300 && !window; ++i) {
        window = FindWindowW(L"WTWindow", nullptr);
        if (!window)
            Sleep(100);
    }
    if (!window)
        return 4;
    HWND question = GetDlgItem(window, static_cast<int>(QuestionBoxId));
    HWND button = GetDlgItem(window, static_cast<int>(QueryButtonId));
    HWND result = GetDlgItem(window, static_cast<int>(ResultBoxId));
    if (!question || !button || !result)
        return 5;
    SendMessageW(question, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[1]));
    SendMessageW(result, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    PostMessageW(button, BM_CLICK, 0, 0);
    for (int i = 0; i < 600; ++i) {
        wchar_t text[16] = {};
        if (SendMessageW(result, WM_GETTEXT, 16, reinterpret_cast<LPARAM>(text)) > 0)
            return 0;
        Sleep(100);
    }
    return 3;
}

#include "form/TransparentLabel.h"

#include <string>

#include "form/WindowText.h"

namespace {

struct TransparentLabel {
    TransparentLabelStyle style;
    AnsiText text;
};

TransparentLabel* LabelOf(HWND window)
{
    return reinterpret_cast<TransparentLabel*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// The label has no background of its own: whatever lies under it must be
// drawn again first, or the old text would stay visible through the new one.
void RepaintUnderneath(HWND label)
{
    HWND parent = GetParent(label);
    if (!parent)
        return;
    RECT area;
    GetWindowRect(label, &area);
    RECT inParent = area;
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&inParent), 2);
    RedrawWindow(parent, &inParent, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);

    for (HWND sibling = GetWindow(parent, GW_CHILD); sibling; sibling = GetWindow(sibling, GW_HWNDNEXT)) {
        RECT siblingArea;
        RECT overlap;
        if (sibling == label || !IsWindowVisible(sibling))
            continue;
        GetWindowRect(sibling, &siblingArea);
        if (IntersectRect(&overlap, &area, &siblingArea))
            RedrawWindow(sibling, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
    InvalidateRect(label, nullptr, TRUE);
}

void Paint(HWND window, const TransparentLabel& label)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc && !label.text.empty()) {
        RECT client;
        GetClientRect(window, &client);
        HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, label.style.textColor);
        std::wstring text = WideFromAnsi(label.text);
        // No DT_NOPREFIX: an "&" underlines the next character, as in any label.
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &client,
                  DT_SINGLELINE | DT_VCENTER | DT_NOCLIP | label.style.alignment);
        SelectObject(dc, oldFont);
    }
    EndPaint(window, &paint);
}

LRESULT CALLBACK LabelWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        auto* label = new TransparentLabel;
        if (create->lpCreateParams)
            label->style = *static_cast<const TransparentLabelStyle*>(create->lpCreateParams);
        if (create->lpszName && !IS_INTRESOURCE(create->lpszName))
            label->text = AnsiFromWide(create->lpszName);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(label));
    }
    TransparentLabel* label = LabelOf(window);
    if (!label)
        return DefWindowProcW(window, message, wParam, lParam);

    switch (message) {
    case WM_SETTEXT: {
        const auto* text = reinterpret_cast<const wchar_t*>(lParam);
        label->text = text ? AnsiFromWide(text) : AnsiText();
        LRESULT result = DefWindowProcW(window, message, wParam, lParam);
        RepaintUnderneath(window);
        return result;
    }
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: Paint(window, *label); return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        delete label;
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

void RegisterTransparentLabelClass()
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = LabelWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = TransparentLabelClassName;
    RegisterClassExW(&windowClass);
}

AnsiText TransparentLabelText(HWND label)
{
    wchar_t className[64] = {};
    GetClassNameW(label, className, 64);
    if (lstrcmpW(className, TransparentLabelClassName) != 0)
        return {};
    TransparentLabel* stored = LabelOf(label);
    return stored ? stored->text : AnsiText();
}

void SetTransparentLabelText(HWND label, const AnsiText& text)
{
    SetWindowTextW(label, WideFromAnsi(text).c_str());
}

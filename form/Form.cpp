#include "form/Form.h"

#include <commctrl.h>
#include <ole2.h>

#include <algorithm>
#include <memory>

#include "form/EventTable.h"
#include "form/FormWindow.h"
#include "form/TransparentLabel.h"
#include "form/WindowText.h"

namespace {

// The window class of every program window; tests and tools find the main
// window by it, so the name stays.
constexpr wchar_t FormClassName[] = L"WTWindow";

// Events of a window seen as a control of its own layout.
constexpr int32_t FormLoadedEvent = 0;
constexpr int32_t FormMovedEvent = 3;
constexpr int32_t FormResizedEvent = 4;
constexpr int32_t ButtonClickedEvent = 0;

// The loaded windows. A form is listed before its window is created and
// removed when the window is gone (or could not be made).
std::vector<std::unique_ptr<FormWindow>>& LiveForms()
{
    static std::vector<std::unique_ptr<FormWindow>> forms;
    return forms;
}

void RemoveForm(FormWindow* form)
{
    auto& forms = LiveForms();
    std::erase_if(forms, [form](const std::unique_ptr<FormWindow>& listed) { return listed.get() == form; });
}

HINSTANCE ProgramInstance()
{
    return GetModuleHandleW(nullptr);
}

void RegisterFormClass()
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = FormWindow::WindowProc;
    windowClass.hInstance = ProgramInstance();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    // No brush: WM_ERASEBKGND paints the button face itself.
    windowClass.lpszClassName = FormClassName;
    RegisterClassExW(&windowClass);
}

void RaiseEvent(uint32_t formId, uint32_t unitId, int32_t eventNumber, std::initializer_list<int32_t> args = {})
{
    EventRecord record;
    record.formId = formId;
    record.unitId = unitId;
    record.eventNumber = eventNumber;
    for (int32_t arg : args)
        record.args[record.argCount++] = MakeIntArg(arg);
    DispatchEvent(record);
}

HFONT GuiFont()
{
    return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

HICON ProgramIcon(int size)
{
    return static_cast<HICON>(LoadImageW(ProgramInstance(), L"DEFAULT_ICON", IMAGE_ICON, size, size, LR_SHARED));
}

HWND CreateChild(const wchar_t* className, const ControlLayout& layout, DWORD style, DWORD exStyle, HWND parent,
                 void* createParam = nullptr)
{
    HWND child =
        CreateWindowExW(exStyle, className, WideFromAnsi(layout.text).c_str(), ChildStyle(layout) | style, layout.left,
                        layout.top, layout.width, layout.height, parent,
                        reinterpret_cast<HMENU>(static_cast<uintptr_t>(layout.id)), ProgramInstance(), createParam);
    if (child)
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(GuiFont()), FALSE);
    return child;
}

HWND CreateEditBox(const ControlLayout& layout, HWND parent)
{
    HWND edit =
        CreateChild(L"EDIT", layout, ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | ES_LEFT | WS_BORDER, 0, parent);
    if (!edit)
        return nullptr;
    SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
    SendMessageW(edit, EM_SETSEL, 0, 0);
    SendMessageW(edit, EM_SCROLLCARET, 0, 0);
    return edit;
}

HWND CreateFormControl(const FormLayout& form, const ControlLayout& layout, HWND parent)
{
    switch (layout.kind) {
    case ControlKind::EditBox: return CreateEditBox(layout, parent);
    case ControlKind::PushButton:
        return CreateChild(L"BUTTON", layout, BS_PUSHBUTTON | BS_CENTER | BS_VCENTER | BS_MULTILINE, 0, parent);
    case ControlKind::TransparentLabel: {
        TransparentLabelStyle style{layout.textColor, layout.alignment};
        return CreateChild(TransparentLabelClassName, layout, 0, WS_EX_TRANSPARENT, parent, &style);
    }
    case ControlKind::WebView: return form.createWebView ? form.createWebView(form, layout, parent) : nullptr;
    }
    return nullptr;
}

// The modal form of a load: runs until the window is gone; a quit message
// that arrives meanwhile is put back for the outer loop.
void RunModalLoop(HWND window)
{
    MSG message;
    while (IsWindow(window)) {
        if (GetMessageW(&message, nullptr, 0, 0) <= 0) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (HandleFormKey(message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

} // namespace

FormWindow::FormWindow(const FormLayout& layout) : layout_(layout)
{
    controls_.reserve(layout.controls.size());
    for (const ControlLayout& control : layout.controls)
        controls_.push_back({&control, nullptr});
}

FormControl* FormWindow::FindControl(uint32_t unitId)
{
    for (FormControl& control : controls_) {
        if (control.layout->id == unitId)
            return &control;
    }
    return nullptr;
}

FormControl* FormWindow::ControlHolding(HWND window)
{
    if (!window)
        return nullptr;
    for (FormControl& control : controls_) {
        if (control.window && (control.window == window || IsChild(control.window, window)))
            return &control;
    }
    return nullptr;
}

FormWindow* FormWindow::FromHandle(HWND window)
{
    for (const auto& form : LiveForms()) {
        if (window && form->window_ == window)
            return form.get();
    }
    return nullptr;
}

FormWindow* FormWindow::FromId(uint32_t formId)
{
    for (const auto& form : LiveForms()) {
        if (form->window_ && form->layout_.formId == formId)
            return form.get();
    }
    return nullptr;
}

bool FormWindow::AnyAlive()
{
    return std::any_of(LiveForms().begin(), LiveForms().end(), [](const auto& form) { return form->window_; });
}

LRESULT CALLBACK FormWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* form = static_cast<FormWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        form->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!form)
        return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        LRESULT result = DefWindowProcW(window, message, wParam, lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        RemoveForm(form);
        if (!FormWindow::AnyAlive())
            PostQuitMessage(0);
        return result;
    }
    return form->OnMessage(message, wParam, lParam);
}

LRESULT FormWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND: OnEraseBackground(reinterpret_cast<HDC>(wParam)); return 1;
    case WM_CTLCOLOREDIT:
        SetTextColor(reinterpret_cast<HDC>(wParam), RGB(0, 0, 0));
        SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
        return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    case WM_COMMAND: return OnCommand(wParam, lParam);
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE)
            RememberFocus();
        break;
    case WM_SETFOCUS: RestoreFocus(); return 0;
    case WM_CLOSE:
        if (modalOwner_) {
            // Before the window goes, or the system activates some other window.
            EnableWindow(modalOwner_, TRUE);
            modalOwner_ = nullptr;
        }
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT FormWindow::OnCommand(WPARAM wParam, LPARAM lParam)
{
    HWND child = reinterpret_cast<HWND>(lParam);
    if (!child || HIWORD(wParam) != BN_CLICKED)
        return 0;
    // The notification's id is cut to 16 bits: the child's own id is the full one.
    FormControl* control = FindControl(static_cast<uint32_t>(GetDlgCtrlID(child)));
    if (control && control->window == child && control->layout->kind == ControlKind::PushButton)
        RaiseEvent(layout_.formId, control->layout->id, ButtonClickedEvent);
    return 0;
}

void FormWindow::OnEraseBackground(HDC dc)
{
    RECT client;
    GetClientRect(window_, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
}

void InitWindowFramework()
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    // The script engine and the web engine live on this thread: one apartment for all.
    OleInitialize(nullptr);
    RegisterFormClass();
    RegisterTransparentLabelClass();
}

bool LoadWindow(const FormLayout& layout, HWND owner, bool modal)
{
    if (layout.bindEvents)
        layout.bindEvents();

    // Centred on the screen; the halves are rounded towards zero.
    int left = (GetSystemMetrics(SM_CXSCREEN) - layout.width) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - layout.height) / 2;
    FormWindow* formPtr = LiveForms().emplace_back(std::make_unique<FormWindow>(layout)).get();
    HWND window = CreateWindowExW(0, FormClassName, WideFromAnsi(layout.caption).c_str(),
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, left, top,
                                  layout.width, layout.height, owner, nullptr, ProgramInstance(), formPtr);
    if (!window) {
        // Either the window never existed or WM_NCDESTROY already removed the form.
        RemoveForm(formPtr);
        return false;
    }

    RECT outer;
    GetWindowRect(window, &outer);
    if (outer.left != left || outer.top != top || outer.right - outer.left != layout.width ||
        outer.bottom - outer.top != layout.height)
        MoveWindow(window, left, top, layout.width, layout.height, FALSE);

    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(ProgramIcon(GetSystemMetrics(SM_CXICON))));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(ProgramIcon(GetSystemMetrics(SM_CXSMICON))));
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(GuiFont()), FALSE);

    for (FormControl& control : formPtr->controls_) {
        control.window = CreateFormControl(layout, *control.layout, window);
        if (!control.window && control.layout->kind != ControlKind::WebView) {
            DestroyWindow(window);
            return false;
        }
    }
    for (FormControl& control : formPtr->controls_) {
        if (control.window)
            ShowWindow(control.window, SW_SHOWNA);
    }

    RECT placed;
    GetWindowRect(window, &placed);
    RaiseEvent(layout.formId, layout.unitId, FormLoadedEvent);
    RaiseEvent(layout.formId, layout.unitId, FormMovedEvent, {placed.left, placed.top});
    RaiseEvent(layout.formId, layout.unitId, FormResizedEvent,
               {placed.right - placed.left, placed.bottom - placed.top});
    if (!IsWindow(window))
        return false; // a handler closed it

    if (modal && owner) {
        formPtr->modalOwner_ = owner;
        EnableWindow(owner, FALSE);
    }
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    if (modal)
        RunModalLoop(window);
    return true;
}

void NotifyControlDestroyed(uint32_t formId, uint32_t unitId)
{
    FormWindow* form = FormWindow::FromId(formId);
    FormControl* control = form ? form->FindControl(unitId) : nullptr;
    if (control)
        control->window = nullptr;
}

HWND FindControlWindow(uint32_t formId, uint32_t unitId)
{
    FormWindow* form = FormWindow::FromId(formId);
    if (!form)
        return nullptr;
    if (unitId == form->Layout().unitId)
        return form->Handle();
    FormControl* control = form->FindControl(unitId);
    return control ? control->window : nullptr;
}

#include "form/Form.h"
#include "form/FormWindow.h"

namespace {

// The key combinations that a window handles; everything else goes to the
// focused control untouched.
enum class FormKey { None, Escape, Enter, Tab, ShiftTab, Help };

FormKey ClassifyKey(WPARAM virtualKey)
{
    bool ctrl = GetKeyState(VK_CONTROL) < 0;
    bool shift = GetKeyState(VK_SHIFT) < 0;
    bool alt = GetKeyState(VK_MENU) < 0;
    if (ctrl || alt)
        return FormKey::None;
    switch (virtualKey) {
    case VK_ESCAPE: return shift ? FormKey::None : FormKey::Escape;
    case VK_RETURN: return shift ? FormKey::None : FormKey::Enter;
    case VK_TAB: return shift ? FormKey::ShiftTab : FormKey::Tab;
    case VK_F1: return shift ? FormKey::None : FormKey::Help;
    default: return FormKey::None;
    }
}

// A multi-line edit box wants Enter for its line breaks; no control wants
// any other of the window's keys.
bool ControlClaimsKey(const FormControl* control, FormKey key)
{
    if (!control || key != FormKey::Enter || control->layout->kind != ControlKind::EditBox)
        return false;
    return (GetWindowLongW(control->window, GWL_STYLE) & ES_READONLY) == 0;
}

bool TakesFocus(const FormControl& control)
{
    return control.layout->tabStop && control.window && IsWindowVisible(control.window) &&
           IsWindowEnabled(control.window);
}

} // namespace

std::vector<HWND> FormWindow::FocusCycle() const
{
    // All controls share one focus number, so the order is the reverse of creation.
    std::vector<HWND> cycle;
    for (auto control = controls_.rbegin(); control != controls_.rend(); ++control) {
        if (TakesFocus(*control))
            cycle.push_back(control->window);
    }
    return cycle;
}

void FormWindow::MoveFocus(bool forward)
{
    FormControl* focused = ControlHolding(GetFocus());
    if (!focused)
        return; // the window itself has the focus: Tab does nothing
    std::vector<HWND> cycle = FocusCycle();
    size_t count = cycle.size();
    for (size_t i = 0; i < count; ++i) {
        if (cycle[i] == focused->window) {
            SetFocus(cycle[forward ? (i + 1) % count : (i + count - 1) % count]);
            return;
        }
    }
    if (count > 0)
        SetFocus(cycle.front());
}

void FormWindow::RememberFocus()
{
    FormControl* focused = ControlHolding(GetFocus());
    if (focused)
        rememberedFocus_ = focused->window;
}

void FormWindow::RestoreFocus()
{
    HWND target = nullptr;
    FormControl* remembered = ControlHolding(rememberedFocus_);
    if (remembered && remembered->window == rememberedFocus_ && TakesFocus(*remembered))
        target = rememberedFocus_;
    if (!target) {
        std::vector<HWND> cycle = FocusCycle();
        target = cycle.empty() ? nullptr : cycle.front();
    }
    if (target)
        SetFocus(target);
}

bool HandleFormKey(const MSG& message)
{
    if (message.message != WM_KEYDOWN && message.message != WM_SYSKEYDOWN)
        return false;
    FormWindow* form = FormWindow::FromHandle(GetAncestor(message.hwnd, GA_ROOT));
    if (!form)
        return false;
    FormKey key = ClassifyKey(message.wParam);
    if (key == FormKey::None || ControlClaimsKey(form->ControlHolding(GetFocus()), key))
        return false;

    switch (key) {
    case FormKey::Escape: SendMessageW(form->Handle(), WM_CLOSE, 0, 0); break;
    case FormKey::Tab:
    case FormKey::ShiftTab: form->MoveFocus(key == FormKey::Tab); break;
    default: break; // Enter moves no focus; F1 has no help to show
    }
    return true;
}

void RunMessageLoop()
{
    if (!FormWindow::AnyAlive())
        return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (HandleFormKey(message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

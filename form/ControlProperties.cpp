#include "form/ControlProperties.h"

#include "form/ControlIds.h"
#include "form/FormWindow.h"
#include "form/TransparentLabel.h"
#include "form/WindowText.h"

namespace {

// What property 8 means depends on the control: the window's caption, a
// label's stored text, or the live text of an edit box or button.
enum class TextHolder { None, WindowText, LabelText };

struct TextTarget {
    HWND window = nullptr;
    TextHolder holder = TextHolder::None;
};

TextTarget FindTextTarget(uint32_t windowId, uint32_t controlId, int propertyNumber)
{
    FormWindow* form = FormWindow::FromId(windowId);
    if (!form || propertyNumber != TextProperty)
        return {};
    if (controlId == form->Layout().unitId)
        return {form->Handle(), TextHolder::WindowText};
    FormControl* control = form->FindControl(controlId);
    if (!control || !control->window)
        return {};
    switch (control->layout->kind) {
    case ControlKind::EditBox:
    case ControlKind::PushButton: return {control->window, TextHolder::WindowText};
    case ControlKind::TransparentLabel: return {control->window, TextHolder::LabelText};
    case ControlKind::WebView: break; // its properties are its own
    }
    return {};
}

} // namespace

AnsiText GetControlProperty(uint32_t windowId, uint32_t controlId, int propertyNumber)
{
    TextTarget target = FindTextTarget(windowId, controlId, propertyNumber);
    switch (target.holder) {
    case TextHolder::WindowText: return AnsiFromWide(WindowTextWide(target.window));
    case TextHolder::LabelText: return TransparentLabelText(target.window);
    case TextHolder::None: break;
    }
    return {};
}

void SetControlProperty(uint32_t windowId, uint32_t controlId, int propertyNumber, const AnsiText& text)
{
    TextTarget target = FindTextTarget(windowId, controlId, propertyNumber);
    switch (target.holder) {
    case TextHolder::WindowText:
        // Line breaks stay as the caller wrote them: an edit box shows "\r\n" as a new line.
        SetWindowTextW(target.window, WideFromAnsi(text).c_str());
        break;
    case TextHolder::LabelText: SetTransparentLabelText(target.window, text); break;
    case TextHolder::None: break;
    }
}

#include "webview/WebViewControl.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "form/ControlIds.h"
#include "webview/EngineApi.h"
#include "webview/WebViewInstance.h"

namespace {

// A handful of controls at most: a vector searched front to back is enough.
std::vector<WebViewControl*>& LiveControls()
{
    static std::vector<WebViewControl*> controls;
    return controls;
}

// The control addressed by an operation, when it is a web view with a view.
WebViewControl* AddressedView(uint32_t windowId, uint32_t controlId, uint32_t kindCode)
{
    if (kindCode != WebViewKindCode)
        return nullptr;
    WebViewControl* control = FindWebView(windowId, controlId);
    return control && control->view ? control : nullptr;
}

} // namespace

void RegisterWebView(WebViewControl* control)
{
    LiveControls().push_back(control);
}

void UnregisterWebView(WebViewControl* control)
{
    auto& controls = LiveControls();
    controls.erase(std::remove(controls.begin(), controls.end(), control), controls.end());
}

WebViewControl* FindWebView(uint32_t formId, uint32_t unitId)
{
    // The newest wins should two controls ever share an identity.
    auto& controls = LiveControls();
    auto it = std::find_if(controls.rbegin(), controls.rend(), [&](const WebViewControl* control) {
        return control->formId == formId && control->unitId == unitId;
    });
    return it == controls.rend() ? nullptr : *it;
}

WebViewControl* LiveWebView(void* param)
{
    auto& controls = LiveControls();
    auto it = std::find(controls.begin(), controls.end(), static_cast<WebViewControl*>(param));
    return it == controls.end() ? nullptr : *it;
}

WebViewControl* WebViewOfEngineWindow(HWND engineWindow)
{
    if (!engineWindow)
        return nullptr;
    auto& controls = LiveControls();
    auto it = std::find_if(controls.begin(), controls.end(),
                           [&](const WebViewControl* control) { return control->engineWindow == engineWindow; });
    return it == controls.end() ? nullptr : *it;
}

void WebViewNavigate(uint32_t windowId, uint32_t controlId, uint32_t kindCode, const AnsiText& url)
{
    WebViewControl* control = AddressedView(windowId, controlId, kindCode);
    if (!control || !Engine().wkeLoadURL)
        return;
    // The bytes go over unchanged: the engine reads them as UTF-8, and the
    // program's URLs are percent-encoded ASCII.
    Engine().wkeLoadURL(control->view, url.c_str());
}

AnsiText WebViewGetPageSource(uint32_t windowId, uint32_t controlId, uint32_t kindCode)
{
    WebViewControl* control = AddressedView(windowId, controlId, kindCode);
    if (!control || !Engine().wkeGetSource)
        return {};
    // The engine's UTF-8 bytes, copied at once and not converted.
    const char* source = Engine().wkeGetSource(control->view);
    return source ? AnsiText(source, static_cast<size_t>(lstrlenA(source))) : AnsiText();
}

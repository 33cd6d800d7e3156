#include "webview/WebViewControl.h"

#include <cstring>

#include "form/ControlIds.h"
#include "webview/EngineApi.h"
#include "webview/EngineDirectories.h"
#include "webview/EngineText.h"
#include "webview/WebViewInstance.h"

namespace {

// The properties a control keeps, each in one member of the control (the
// title is read from the view instead).
struct StoredProperty {
    int index;
    AnsiText WebViewControl::*text;
    int32_t WebViewControl::*number;
};

constexpr StoredProperty StoredProperties[] = {
    {UrlProperty, &WebViewControl::url, nullptr},
    {LocalStorageDirProperty, &WebViewControl::localStorageDir, nullptr},
    {CookieDirProperty, &WebViewControl::cookieDir, nullptr},
    {UserAgentProperty, &WebViewControl::userAgent, nullptr},
    {RefreshKeyDisabledProperty, nullptr, &WebViewControl::refreshKeyDisabled},
    {CookiesEnabledProperty, nullptr, &WebViewControl::cookiesEnabled},
    {DesignPreviewProperty, nullptr, &WebViewControl::designPreview},
    {NewWindowEnabledProperty, nullptr, &WebViewControl::newWindowEnabled},
};

// nullptr for the title and for an index no property has.
const StoredProperty* Stored(int index)
{
    for (const StoredProperty& property : StoredProperties) {
        if (property.index == index)
            return &property;
    }
    return nullptr;
}

bool StoreProperty(WebViewControl& control, int index, const WebViewPropertyValue& value)
{
    const StoredProperty* property = Stored(index);
    if (property && property->text && std::holds_alternative<AnsiText>(value)) {
        control.*property->text = std::get<AnsiText>(value);
        return true;
    }
    if (property && property->number && std::holds_alternative<int32_t>(value)) {
        control.*property->number = std::get<int32_t>(value);
        return true;
    }
    return false;
}

WebViewControl* Addressed(uint32_t windowId, uint32_t controlId, uint32_t kindCode)
{
    return kindCode == WebViewKindCode ? FindWebView(windowId, controlId) : nullptr;
}

bool ReadUint32(const unsigned char*& at, const unsigned char* end, uint32_t& value)
{
    if (end - at < 4)
        return false;
    std::memcpy(&value, at, 4);
    at += 4;
    return true;
}

} // namespace

void ApplyProperty(WebViewControl& control, int index)
{
    const EngineApi& api = Engine();
    if (!control.view)
        return;
    switch (index) {
    case UrlProperty:
        if (!control.design && !control.url.empty() && api.wkeLoadURL)
            api.wkeLoadURL(control.view, control.url.c_str());
        break;
    case LocalStorageDirProperty:
        if (!control.localStorageDir.empty() && api.wkeSetLocalStorageFullPath)
            api.wkeSetLocalStorageFullPath(control.view, DirectoryForEngine(control.localStorageDir).c_str());
        break;
    case CookieDirProperty:
        if (!control.cookieDir.empty() && api.wkeSetCookieJarPath)
            api.wkeSetCookieJarPath(control.view, DirectoryForEngine(control.cookieDir).c_str());
        break;
    case UserAgentProperty:
        if (!control.userAgent.empty() && api.wkeSetUserAgent)
            api.wkeSetUserAgent(control.view, control.userAgent.c_str());
        break;
    case NewWindowEnabledProperty:
        if (api.wkeSetNavigationToNewWindowEnable)
            api.wkeSetNavigationToNewWindowEnable(control.view, control.newWindowEnabled != 0);
        break;
    default: break;
    }
}

WebViewPropertyValue WebViewGetProperty(uint32_t windowId, uint32_t controlId, uint32_t kindCode, int index)
{
    WebViewControl* control = Addressed(windowId, controlId, kindCode);
    if (!control)
        return {};
    if (index == TitleProperty) {
        if (!control->view || !Engine().wkeGetTitle)
            return AnsiText();
        const char* title = Engine().wkeGetTitle(control->view);
        return EngineUtf8ToCp936(title);
    }
    const StoredProperty* property = Stored(index);
    if (!property)
        return {};
    if (property->text)
        return control->*property->text;
    return control->*property->number;
}

bool WebViewSetProperty(uint32_t windowId, uint32_t controlId, uint32_t kindCode, int index,
                        const WebViewPropertyValue& value)
{
    WebViewControl* control = Addressed(windowId, controlId, kindCode);
    if (!control || !StoreProperty(*control, index, value))
        return false;
    ApplyProperty(*control, index);
    return true;
}

// A stored block is a run of records, each a byte with the property index, a
// byte with its kind (0 number, 1 text) and then a 32-bit little-endian
// number, or a 32-bit byte count and that many code page 936 bytes.
bool ReadPropertyBlock(WebViewControl& control, const void* block, size_t cbBlock)
{
    if (!block)
        return cbBlock == 0;
    const auto* at = static_cast<const unsigned char*>(block);
    const unsigned char* end = at + cbBlock;
    while (at < end) {
        if (end - at < 2)
            return false;
        int index = at[0];
        int kind = at[1];
        at += 2;
        uint32_t word = 0;
        if (!ReadUint32(at, end, word))
            return false;
        const StoredProperty* property = Stored(index);
        if (kind == 0 && property && property->number) {
            StoreProperty(control, index, static_cast<int32_t>(word));
        } else if (kind == 1 && property && property->text) {
            if (static_cast<size_t>(end - at) < word)
                return false;
            AnsiText text(reinterpret_cast<const char*>(at), word);
            at += word;
            if (text.find('\0') != AnsiText::npos)
                return false;
            StoreProperty(control, index, text);
        } else {
            return false;
        }
    }
    return true;
}

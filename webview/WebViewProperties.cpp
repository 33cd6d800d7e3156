#include "webview/WebViewControl.h"

#include <cstring>

#include "form/ControlIds.h"
#include "webview/EngineApi.h"
#include "webview/EngineDirectories.h"
#include "webview/EngineText.h"
#include "webview/WebViewInstance.h"

namespace {

enum class PropertyKind { Text, Number, Computed, Unknown };

PropertyKind KindOf(int index)
{
    switch (index) {
    case UrlProperty:
    case LocalStorageDirProperty:
    case CookieDirProperty:
    case UserAgentProperty: return PropertyKind::Text;
    case RefreshKeyDisabledProperty:
    case CookiesEnabledProperty:
    case DesignPreviewProperty:
    case NewWindowEnabledProperty: return PropertyKind::Number;
    case TitleProperty: return PropertyKind::Computed;
    default: return PropertyKind::Unknown;
    }
}

AnsiText* TextField(WebViewControl& control, int index)
{
    switch (index) {
    case UrlProperty: return &control.url;
    case LocalStorageDirProperty: return &control.localStorageDir;
    case CookieDirProperty: return &control.cookieDir;
    case UserAgentProperty: return &control.userAgent;
    default: return nullptr;
    }
}

int32_t* NumberField(WebViewControl& control, int index)
{
    switch (index) {
    case RefreshKeyDisabledProperty: return &control.refreshKeyDisabled;
    case CookiesEnabledProperty: return &control.cookiesEnabled;
    case DesignPreviewProperty: return &control.designPreview;
    case NewWindowEnabledProperty: return &control.newWindowEnabled;
    default: return nullptr;
    }
}

bool StoreProperty(WebViewControl& control, int index, const WebViewPropertyValue& value)
{
    if (AnsiText* text = TextField(control, index)) {
        if (!std::holds_alternative<AnsiText>(value))
            return false;
        *text = std::get<AnsiText>(value);
        return true;
    }
    if (int32_t* number = NumberField(control, index)) {
        if (!std::holds_alternative<int32_t>(value))
            return false;
        *number = std::get<int32_t>(value);
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
    if (AnsiText* text = TextField(*control, index))
        return *text;
    if (int32_t* number = NumberField(*control, index))
        return *number;
    return {};
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
        if (kind == 0 && KindOf(index) == PropertyKind::Number) {
            StoreProperty(control, index, static_cast<int32_t>(word));
        } else if (kind == 1 && KindOf(index) == PropertyKind::Text) {
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

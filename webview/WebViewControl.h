#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <variant>

#include "form/FormLayout.h"
#include "text/AnsiText.h"

// What the window loader passes when it creates a web view control.
struct WebViewCreateParams {
    HWND parent = nullptr;
    DWORD style = 0; // the form's style bits for the control
    UINT controlId = 0;
    int x = 0, y = 0, width = 0, height = 0;
    const void* propertyBlock = nullptr; // stored properties; may be empty
    size_t cbPropertyBlock = 0;
    uint32_t formId = 0;
    uint32_t unitId = 0;
    bool design = false;
};

// Creates the control and its host window; returns the host window, or
// nullptr when the control could not be created.
HWND CreateWebViewControl(const WebViewCreateParams& params);

// The same for a web view described in a window's layout: what a FormLayout
// names as its createWebView.
HWND CreateFormWebView(const FormLayout& form, const ControlLayout& layout, HWND parent);

// The control's operations, addressed by (window id, control id, kind code).
// A control without a view does nothing and gives the empty text.
void WebViewNavigate(uint32_t windowId, uint32_t controlId, uint32_t kindCode, const AnsiText& url);
AnsiText WebViewGetPageSource(uint32_t windowId, uint32_t controlId, uint32_t kindCode);

// A property value: a number, a text, or nothing for an unknown property or
// control.
using WebViewPropertyValue = std::variant<std::monostate, int32_t, AnsiText>;

// Properties by index: 0 Url, 1 Title (read-only, read live from the page),
// 2 RefreshKeyDisabled, 3 CookiesEnabled, 4 LocalStorageDir, 5 CookieDir,
// 6 UserAgent, 7 DesignPreview, 8 NewWindowEnabled. A write with a value of
// the wrong kind, to Title, or to an unknown control is refused (false).
WebViewPropertyValue WebViewGetProperty(uint32_t windowId, uint32_t controlId, uint32_t kindCode, int index);
bool WebViewSetProperty(uint32_t windowId, uint32_t controlId, uint32_t kindCode, int index,
                        const WebViewPropertyValue& value);

#include "webview/WebViewControl.h"

HWND CreateWebViewControl(const WebViewCreateParams&)
{
    return nullptr;
}

void WebViewNavigate(uint32_t, uint32_t, uint32_t, const AnsiText&)
{
}

AnsiText WebViewGetPageSource(uint32_t, uint32_t, uint32_t)
{
    return {};
}

// A document's scripts and links: the host side of the page's script objects
// (every one of them runs on the view's thread, while the view waits for the
// script), script timers, and the hovered and clicked links of the page.
#include <windowsx.h>

#include <algorithm>
#include <string_view>
#include <utility>

#include "Charset.h"
#include "EngineString.h"
#include "Url.h"
#include "WebView.h"

namespace {

std::string PercentDecode(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto hex = [](char c) {
            return c >= '0' && c <= '9'   ? c - '0'
                   : c >= 'a' && c <= 'f' ? c - 'a' + 10
                   : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
        };
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The features that are switched on or off, by their names in the list.
constexpr std::pair<std::string_view, bool wkeWindowFeatures::*> FlagFeatures[] = {
    {"menubar", &wkeWindowFeatures::menuBarVisible},       {"status", &wkeWindowFeatures::statusBarVisible},
    {"toolbar", &wkeWindowFeatures::toolBarVisible},       {"location", &wkeWindowFeatures::locationBarVisible},
    {"scrollbars", &wkeWindowFeatures::scrollbarsVisible}, {"resizable", &wkeWindowFeatures::resizable},
    {"fullscreen", &wkeWindowFeatures::fullscreen},
};

// "width=300,height=200,left=10,top=20,menubar=yes": what window.open asks for.
wkeWindowFeatures ParseFeatures(const std::string& features)
{
    wkeWindowFeatures f{};
    f.width = 800;
    f.height = 600;
    // Without a list a new window has everything; with one, only what it names.
    const bool all = features.empty();
    f.menuBarVisible = f.statusBarVisible = f.toolBarVisible = f.locationBarVisible = all;
    f.scrollbarsVisible = f.resizable = all;
    size_t pos = 0;
    while (pos <= features.size()) {
        size_t end = features.find_first_of(",;", pos);
        if (end == std::string::npos)
            end = features.size();
        const std::string item = AsciiLower(features.substr(pos, end - pos));
        pos = end + 1;
        const size_t eq = item.find('=');
        std::string name = item.substr(0, eq);
        std::string value = eq == std::string::npos ? "yes" : item.substr(eq + 1);
        std::erase(name, ' ');
        std::erase(value, ' ');
        const int number = std::clamp(std::atoi(value.c_str()), -32768, 32767);
        const bool on = value == "yes" || value == "1" || value == "true";
        if (name == "width")
            f.width = std::max(number, 100);
        else if (name == "height")
            f.height = std::max(number, 100);
        else if (name == "left" || name == "screenx")
            f.x = number;
        else if (name == "top" || name == "screeny")
            f.y = number;
        for (const auto& [flagName, flag] : FlagFeatures) {
            if (name == flagName)
                f.*flag = on;
        }
    }
    return f;
}

} // namespace

void WebView::RunPageScripts(uint32_t id)
{
    if (page_.scripts.empty() && page_.bodyOnload.empty())
        return;
    scripts_ = PageScripts::Start(*this, source_);
    if (!scripts_ || !IsCurrent(id))
        return;
    // The window may go while the scripts run; the scripts must outlive this call.
    const std::shared_ptr<PageScripts> running = scripts_;
    const std::vector<ScriptBlock> blocks = page_.scripts;
    const std::string bodyOnload = page_.bodyOnload;
    const std::vector<std::string> writes = running->RunBlocks(blocks, bodyOnload);
    AfterScript();
    if (!IsCurrent(id) || std::all_of(writes.begin(), writes.end(), [](const std::string& w) { return w.empty(); }))
        return;
    // What the scripts wrote stands where they stand; the source stays as served.
    std::string html;
    size_t from = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const size_t at = std::min(std::max(blocks[i].end, from), source_.size());
        html.append(source_, from, at - from);
        html += writes[i];
        from = at;
    }
    html.append(source_, from, std::string::npos);
    PageText written = ExtractPageText(html, false);
    written.title = page_.title;
    written.refresh = page_.refresh;
    written.bodyOnload = page_.bodyOnload;
    page_ = std::move(written);
}

void WebView::AfterScript()
{
    if (!deferredWhileScripting_ || !window_)
        return;
    deferredWhileScripting_ = false;
    PostMessageW(window_, TaskMessage, 0, 0);
    PostMessageW(window_, ResultMessage, 0, 0);
}

void WebView::EndDocument(bool notify)
{
    for (const unsigned id : scriptTimers_)
        KillTimer(window_, ScriptTimerBase + id);
    scriptTimers_.clear();
    scripts_.reset();
    pressedLink_ = -1;
    const bool wasHovering = hoveredLink_ >= 0;
    hoveredLink_ = -1;
    if (notify && wasHovering && callbacks_.mouseOverUrlChanged) {
        wkeStringImpl none;
        callbacks_.mouseOverUrlChanged.callback(Handle(), callbacks_.mouseOverUrlChanged.param, &none);
    }
}

void WebView::OnScriptTimer(unsigned id)
{
    KillTimer(window_, ScriptTimerBase + id);
    scriptTimers_.erase(id);
    if (!scripts_)
        return;
    const std::shared_ptr<PageScripts> running = scripts_;
    running->FireTimer(id);
    AfterScript();
}

std::string WebView::ResolveForPage(const std::string& reference) const
{
    if (const auto base = ParseUrl(url_))
        return ResolveUrl(*base, reference);
    const auto absolute = ParseUrl(reference);
    return absolute && !UrlScheme(reference).empty() ? absolute->Spec() : std::string();
}

int WebView::LinkAt(int x, int y) const
{
    const POINT point{x, y};
    for (const LinkBox& box : renderer_.Links()) {
        if (PtInRect(&box.rect, point))
            return box.link;
    }
    return -1;
}

std::string WebView::LinkUrl(int link) const
{
    if (link < 0 || static_cast<size_t>(link) >= page_.links.size())
        return std::string();
    const std::string& href = page_.links[static_cast<size_t>(link)];
    const std::string resolved = ResolveForPage(href);
    return resolved.empty() ? href : resolved;
}

void WebView::OnMouseMove(int x, int y)
{
    if (!trackingMouse_) {
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window_, 0};
        trackingMouse_ = TrackMouseEvent(&track) != FALSE;
    }
    const int link = LinkAt(x, y);
    if (link == hoveredLink_)
        return;
    hoveredLink_ = link;
    if (callbacks_.mouseOverUrlChanged) {
        wkeStringImpl url{Utf8ToWide(LinkUrl(link))};
        callbacks_.mouseOverUrlChanged.callback(Handle(), callbacks_.mouseOverUrlChanged.param, &url);
    }
}

void WebView::OnMouseLeave()
{
    trackingMouse_ = false;
    if (hoveredLink_ < 0)
        return;
    hoveredLink_ = -1;
    if (callbacks_.mouseOverUrlChanged) {
        wkeStringImpl none;
        callbacks_.mouseOverUrlChanged.callback(Handle(), callbacks_.mouseOverUrlChanged.param, &none);
    }
}

void WebView::OnLeftButtonUp(int x, int y)
{
    // A click is a press and a release on the same link.
    const int link = LinkAt(x, y);
    const int pressed = std::exchange(pressedLink_, -1);
    if (link >= 0 && link == pressed)
        FollowLink(link);
}

void WebView::FollowLink(int link)
{
    const std::string href(TrimUrl(page_.links[static_cast<size_t>(link)]));
    if (UrlScheme(href) == "javascript") {
        RunScriptUrl(href);
        return;
    }
    if (href.empty() || href.front() == '#')
        return; // the page itself: nothing to load
    const std::string target = ResolveForPage(href);
    if (!target.empty())
        LoadUrl(target, WKE_NAVIGATION_TYPE_LINKCLICK);
}

void WebView::RunScriptUrl(const std::string& url)
{
    if (!scripts_)
        scripts_ = PageScripts::Start(*this, source_);
    if (!scripts_)
        return;
    const std::shared_ptr<PageScripts> running = scripts_;
    running->RunCode(Utf8ToWide(PercentDecode(std::string_view(url).substr(url.find(':') + 1))));
    AfterScript();
}

void WebView::ScriptAlert(const std::wstring& message)
{
    if (!window_ || !callbacks_.alertBox)
        return;
    wkeStringImpl text{message};
    callbacks_.alertBox.callback(Handle(), callbacks_.alertBox.param, &text);
}

bool WebView::ScriptConfirm(const std::wstring& message)
{
    if (!window_ || !callbacks_.confirmBox)
        return true;
    wkeStringImpl text{message};
    return callbacks_.confirmBox.callback(Handle(), callbacks_.confirmBox.param, &text);
}

std::optional<std::wstring> WebView::ScriptPrompt(const std::wstring& message, const std::wstring& defaultText)
{
    if (!window_ || !callbacks_.promptBox)
        return defaultText;
    wkeStringImpl text{message};
    wkeStringImpl defaultValue{defaultText};
    wkeStringImpl result{defaultText};
    if (!callbacks_.promptBox.callback(Handle(), callbacks_.promptBox.param, &text, &defaultValue, &result))
        return std::nullopt;
    return result.text;
}

void WebView::ScriptConsole(wkeConsoleLevel level, const std::wstring& message, unsigned line)
{
    if (!window_ || !callbacks_.console)
        return;
    wkeStringImpl text{message};
    wkeStringImpl source{Utf8ToWide(url_)};
    wkeStringImpl stack;
    callbacks_.console.callback(Handle(), callbacks_.console.param, level, &text, &source, line, &stack);
}

std::wstring WebView::ScriptTitle()
{
    return Utf8ToWide(title_);
}

void WebView::ScriptSetTitle(const std::wstring& title)
{
    const std::string utf8 = WideToUtf8(title);
    if (!window_ || utf8 == title_)
        return;
    title_ = utf8;
    if (callbacks_.titleChanged) {
        wkeStringImpl text{title};
        callbacks_.titleChanged.callback(Handle(), callbacks_.titleChanged.param, &text);
    }
}

std::wstring WebView::ScriptCookie()
{
    const auto url = ParseUrl(url_);
    return url && cookies_ ? Utf8ToWide(cookies_->ScriptCookies(*url)) : std::wstring();
}

void WebView::ScriptSetCookie(const std::wstring& cookie)
{
    if (const auto url = ParseUrl(url_); url && cookies_)
        cookies_->StoreFromScript(*url, WideToUtf8(cookie));
}

std::wstring WebView::ScriptLocation()
{
    return Utf8ToWide(url_);
}

void WebView::ScriptNavigate(const std::wstring& url, wkeNavigationType type)
{
    if (!window_)
        return;
    // The running script finishes first; the load then takes the normal path.
    if (type == WKE_NAVIGATION_TYPE_RELOAD) {
        Post([this] { Reload(); });
        return;
    }
    const std::string reference = WideToUtf8(url);
    if (UrlScheme(reference) == "javascript") {
        Post([this, reference] { RunScriptUrl(reference); });
        return;
    }
    const std::string target = ResolveForPage(reference);
    if (!target.empty())
        Post([this, target, type] { LoadUrl(target, type); });
}

bool WebView::ScriptOpenWindow(const std::wstring& url, const std::wstring& features)
{
    if (!window_ || !callbacks_.createView)
        return false;
    const std::string reference = WideToUtf8(url);
    const std::string target = reference.empty() ? std::string("about:blank") : ResolveForPage(reference);
    if (target.empty())
        return false;
    const wkeWindowFeatures windowFeatures = ParseFeatures(WideToUtf8(features));
    wkeStringImpl targetText{Utf8ToWide(target)};
    const wkeWebView made = callbacks_.createView.callback(Handle(), callbacks_.createView.param,
                                                           WKE_NAVIGATION_TYPE_OTHER, &targetText, &windowFeatures);
    const auto other = Find(made);
    if (!other)
        return false;
    other->LoadUrl(target);
    return true;
}

std::wstring WebView::ScriptUserAgent()
{
    return Utf8ToWide(UserAgent());
}

void WebView::ScriptStartTimer(unsigned id, unsigned delayMs)
{
    if (!window_)
        return;
    if (SetTimer(window_, ScriptTimerBase + id, std::max(delayMs, 1u), nullptr))
        scriptTimers_.insert(id);
}

void WebView::ScriptStopTimer(unsigned id)
{
    if (window_)
        KillTimer(window_, ScriptTimerBase + id);
    scriptTimers_.erase(id);
}

// The load pipeline of a view: a load starts from a posted task, fetches on a
// worker, and commits or fails when the result comes back to the view's
// thread. Every load ends in exactly one loading-finished callback.
#include <algorithm>

#include "Charset.h"
#include "EngineString.h"
#include "Url.h"
#include "WebView.h"

namespace {

// Even a zero-second refresh waits this long, so a page that refreshes itself
// forever costs a few loads a second, not the whole thread.
constexpr unsigned MinRefreshMs = 200;
constexpr char DefaultUserAgent[] =
    "Mozilla/5.0 (Windows NT 10.0; Win32; x86) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36";
const auto MainFrame = reinterpret_cast<wkeWebFrameHandle>(1);

void* JobToken(uint32_t id)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(id));
}

TextItem Item(TextItem::Kind kind, std::wstring text = {}, bool bold = false)
{
    TextItem item;
    item.kind = kind;
    item.text = std::move(text);
    item.bold = bold;
    return item;
}

bool IsPlainText(const std::string& contentType)
{
    return AsciiLower(contentType).rfind("text/plain", 0) == 0;
}

} // namespace

void WebView::LoadUrl(std::string url, wkeNavigationType type)
{
    Load load;
    load.url = std::move(url);
    load.type = type;
    BeginLoad(std::move(load));
}

void WebView::LoadHtml(std::string html)
{
    Load load;
    load.url = "about:blank";
    load.html = std::move(html);
    BeginLoad(std::move(load));
}

void WebView::Reload()
{
    if (!lastRequested_)
        return;
    Load load = *lastRequested_;
    load.cancelled = std::make_shared<std::atomic<bool>>(false);
    load.type = WKE_NAVIGATION_TYPE_RELOAD;
    BeginLoad(std::move(load));
}

void WebView::BeginLoad(Load load)
{
    if (!window_)
        return;
    KillTimer(window_, RefreshTimer);
    if (active_) {
        // The replaced load still gets its one callback, after this call returns.
        active_->cancelled->store(true);
        const uint32_t oldId = active_->id;
        const std::string oldUrl = active_->url;
        Post([this, oldId, oldUrl] {
            if (callbacks_.loadingFinish) {
                wkeStringImpl url{Utf8ToWide(oldUrl)};
                wkeStringImpl reason{L"Cancelled by a newer load"};
                callbacks_.loadingFinish.callback(Handle(), callbacks_.loadingFinish.param, &url, WKE_LOADING_CANCELED,
                                                  &reason);
            }
        });
    }
    load.id = nextLoadId_++;
    lastRequested_ = load;
    const uint32_t id = load.id;
    active_ = std::move(load);
    Post([this, id] { StartLoad(id); });
}

void WebView::StartLoad(uint32_t id)
{
    if (!IsCurrent(id))
        return;
    if (callbacks_.navigation) {
        wkeStringImpl url{Utf8ToWide(active_->url)};
        const bool go = callbacks_.navigation.callback(Handle(), callbacks_.navigation.param, active_->type, &url);
        if (!IsCurrent(id))
            return;
        if (!go) {
            Finish(id, WKE_LOADING_CANCELED, "Navigation refused");
            return;
        }
    }
    if (active_->html) {
        const std::string html = *active_->html;
        Commit(id, active_->url, html, "text/html; charset=utf-8");
        return;
    }
    if (AsciiLower(active_->url) == "about:blank") {
        Commit(id, active_->url, std::string(), "text/html");
        return;
    }
    // A bare host name ("example.com/page") is taken as http, as browsers do.
    if (UrlScheme(active_->url).empty() && !active_->url.empty() && active_->url.front() != '/')
        active_->url.insert(0, "http://");
    const auto url = ParseUrl(active_->url);
    if (!url) {
        ShowFailure(active_->url, "The address is not valid");
        Finish(id, WKE_LOADING_FAILED, "The address is not valid");
        return;
    }
    if (callbacks_.loadUrlBegin) {
        const bool handled = callbacks_.loadUrlBegin.callback(Handle(), callbacks_.loadUrlBegin.param,
                                                              active_->url.c_str(), JobToken(id));
        if (!IsCurrent(id))
            return;
        if (handled) {
            Finish(id, WKE_LOADING_CANCELED, "Handled by the host");
            return;
        }
    }
    FetchRequest request;
    request.loadId = id;
    request.url = url->Spec();
    request.userAgent = UserAgent();
    request.cookies = cookies_;
    request.cancelled = active_->cancelled;
    if (!StartFetch(std::move(request),
                    [self = shared_from_this()](FetchResult result) { self->Deliver(std::move(result)); })) {
        Finish(id, WKE_LOADING_FAILED, "No worker thread for the load");
        return;
    }
    // A little after the worker's own deadline, so that one normally speaks first.
    SetTimer(window_, WatchdogTimer, LoadTimeoutMs + 5000, nullptr);
}

void WebView::OnFetched(FetchResult result)
{
    const uint32_t id = result.loadId;
    if (!IsCurrent(id))
        return; // replaced meanwhile; its cancelled callback is already queued
    if (!result.responded) {
        ShowFailure(result.finalUrl, result.failure);
        Finish(id, WKE_LOADING_FAILED, result.failure);
        return;
    }
    if (result.download) {
        // The current page stays; the host may take the URL and fetch it itself.
        if (callbacks_.download) {
            callbacks_.download.callback(Handle(), callbacks_.download.param, result.finalUrl.c_str());
            if (!IsCurrent(id))
                return;
        }
        Finish(id, WKE_LOADING_CANCELED, "Download");
        return;
    }
    Commit(id, result.finalUrl, result.body, result.contentType);
}

void WebView::Commit(uint32_t id, std::string url, const std::string& bytes, const std::string& contentType)
{
    EndDocument(true);
    if (!IsCurrent(id))
        return;
    url_ = url;
    source_ = PageBytesToUtf8(bytes, DeclaredCharset(contentType, bytes));
    hasSource_ = true;
    page_ = ExtractPageText(source_, IsPlainText(contentType));

    if (callbacks_.loadUrlEnd) {
        std::string body = bytes; // the host may write into the buffer it gets
        callbacks_.loadUrlEnd.callback(Handle(), callbacks_.loadUrlEnd.param, url.c_str(), JobToken(id), body.data(),
                                       static_cast<int>(body.size()));
        if (!IsCurrent(id))
            return;
    }
    if (callbacks_.urlChanged) {
        wkeStringImpl urlText{Utf8ToWide(url)};
        callbacks_.urlChanged.callback(Handle(), callbacks_.urlChanged.param, MainFrame, &urlText);
        if (!IsCurrent(id))
            return;
    }
    // UTF-8 as promised, also where a page's declared charset was wrong.
    const std::string title = ValidUtf8(page_.title.value_or(std::string()));
    if (title != title_) {
        title_ = title;
        if (callbacks_.titleChanged) {
            wkeStringImpl titleText{Utf8ToWide(title)};
            callbacks_.titleChanged.callback(Handle(), callbacks_.titleChanged.param, &titleText);
            if (!IsCurrent(id))
                return;
        }
    }
    RunPageScripts(id);
    if (!IsCurrent(id))
        return;
    Repaint();
    if (!IsCurrent(id))
        return;
    if (callbacks_.documentReady) {
        callbacks_.documentReady.callback(Handle(), callbacks_.documentReady.param, MainFrame);
        if (!IsCurrent(id))
            return;
    }
    refreshUrl_.clear();
    const std::optional<MetaRefresh> refresh = page_.refresh;
    Finish(id, WKE_LOADING_SUCCEEDED, std::string());
    if (refresh && window_ && !active_) {
        const auto base = ParseUrl(url);
        if (refresh->url.empty())
            refreshUrl_ = url;
        else if (base)
            refreshUrl_ = ResolveUrl(*base, refresh->url);
        else if (!UrlScheme(refresh->url).empty())
            refreshUrl_ = refresh->url;
        if (!refreshUrl_.empty())
            SetTimer(window_, RefreshTimer, std::max(MinRefreshMs, refresh->delaySeconds * 1000u), nullptr);
    }
}

std::string WebView::UserAgent() const
{
    return userAgent_.empty() ? DefaultUserAgent : userAgent_;
}

void WebView::OnRefreshTimer()
{
    KillTimer(window_, RefreshTimer);
    if (refreshUrl_.empty())
        return;
    if (refreshUrl_ == url_ && lastRequested_ && lastRequested_->html)
        LoadHtml(*lastRequested_->html);
    else
        LoadUrl(refreshUrl_, refreshUrl_ == url_ ? WKE_NAVIGATION_TYPE_RELOAD : WKE_NAVIGATION_TYPE_OTHER);
}

void WebView::OnWatchdogTimer()
{
    KillTimer(window_, WatchdogTimer);
    if (!active_)
        return;
    // The worker is stuck in a call that ignores its time-outs: give up on it.
    const uint32_t id = active_->id;
    active_->cancelled->store(true);
    ShowFailure(active_->url, "The server did not answer in time");
    Finish(id, WKE_LOADING_FAILED, "The server did not answer in time");
}

void WebView::ShowFailure(const std::string& url, const std::string& reason)
{
    // The failed page has no source: nothing of the previous page may pass as it.
    EndDocument(true);
    url_ = url;
    source_.clear();
    hasSource_ = true;
    page_ = PageText{};
    page_.items.push_back(Item(TextItem::Kind::Text, L"The page could not be loaded", true));
    page_.items.push_back(Item(TextItem::Kind::ParagraphBreak));
    page_.items.push_back(Item(TextItem::Kind::Text, Utf8ToWide(url)));
    page_.items.push_back(Item(TextItem::Kind::LineBreak));
    page_.items.push_back(Item(TextItem::Kind::Text, Utf8ToWide(reason)));
    Repaint();
}

void WebView::Finish(uint32_t id, wkeLoadingResult result, const std::string& reason)
{
    if (!IsCurrent(id))
        return;
    const std::string url = active_->url;
    active_.reset();
    KillTimer(window_, WatchdogTimer);
    if (callbacks_.loadingFinish) {
        wkeStringImpl urlText{Utf8ToWide(result == WKE_LOADING_SUCCEEDED ? url_ : url)};
        wkeStringImpl reasonText{Utf8ToWide(reason)};
        callbacks_.loadingFinish.callback(Handle(), callbacks_.loadingFinish.param, &urlText, result, &reasonText);
    }
}

#include "http/HttpFetch.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "http/HttpSession.h"
#include "owners/UniqueHandle.h"
#include "http/ReadSize.h"

namespace {

constexpr DWORD ContentLengthBufferSize = 32;
constexpr DWORD ReceiveTimeoutMs = 30000;
constexpr int MaxRedirects = 20;

constexpr char AcceptTypeEntry[] = "Accept: */* \r\n";
constexpr char ExtraHeaders[] = "Accept: */*\r\n\r\n";
constexpr DWORD ExtraHeadersLength = 15;
static_assert(sizeof ExtraHeaders - 1 == ExtraHeadersLength);

// Fresh from the server every time and never written to the cache. Redirects
// are followed by HttpFetch itself, so that a circle of them ends.
constexpr DWORD HttpFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;
constexpr DWORD HttpsFlags = HttpFlags | INTERNET_FLAG_SECURE;

// A control character in a URL would reach the request line and let part of
// a URL built from a reply write header lines of its own.
bool HasControlByte(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const unsigned char byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

// The URL with dot segments resolved and nothing escaped; empty on failure.
std::string CanonicalizeUrl(const AnsiText& url)
{
    std::string canonical(INTERNET_MAX_URL_LENGTH, '\0');
    DWORD length = static_cast<DWORD>(canonical.size());
    if (!InternetCanonicalizeUrlA(url.c_str(), canonical.data(), &length, ICU_NO_ENCODE)) {
        // Too small: the platform has written the size it needs.
        if (length <= canonical.size())
            return {};
        canonical.assign(length + 1, '\0');
        length = static_cast<DWORD>(canonical.size());
        if (!InternetCanonicalizeUrlA(url.c_str(), canonical.data(), &length, ICU_NO_ENCODE))
            return {};
    }
    canonical.resize(std::min<size_t>(length, canonical.size()));
    return canonical.substr(0, canonical.find('\0'));
}

struct CrackedUrl {
    INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
    INTERNET_PORT port = 0;
    char host[INTERNET_MAX_HOST_NAME_LENGTH] = {};
    char path[INTERNET_MAX_PATH_LENGTH] = {}; // with the query and the fragment
    char userName[INTERNET_MAX_USER_NAME_LENGTH] = {};
    char password[INTERNET_MAX_PASSWORD_LENGTH] = {};
};

bool CrackUrl(const std::string& canonical, CrackedUrl& out)
{
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = out.host;
    parts.dwHostNameLength = sizeof out.host;
    parts.lpszUrlPath = out.path;
    parts.dwUrlPathLength = sizeof out.path;
    parts.lpszUserName = out.userName;
    parts.dwUserNameLength = sizeof out.userName;
    parts.lpszPassword = out.password;
    parts.dwPasswordLength = sizeof out.password;
    if (!InternetCrackUrlA(canonical.c_str(), 0, 0, &parts))
        return false;
    // A component that filled its whole buffer was cut short.
    if (parts.dwHostNameLength >= sizeof out.host || parts.dwUrlPathLength >= sizeof out.path ||
        parts.dwUserNameLength >= sizeof out.userName || parts.dwPasswordLength >= sizeof out.password)
        return false;
    out.scheme = parts.nScheme;
    out.port = parts.nPort;
    return true;
}

// The Content-Length header's text, or none when it cannot be read.
std::optional<std::string> ContentLengthText(HINTERNET request)
{
    char text[ContentLengthBufferSize] = {};
    DWORD size = sizeof text;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr))
        return std::nullopt;
    return std::string(text, std::min<size_t>(size, sizeof text));
}

bool HasTransferEncoding(HINTERNET request)
{
    char text[ContentLengthBufferSize] = {};
    DWORD size = sizeof text;
    return HttpQueryInfoA(request, HTTP_QUERY_TRANSFER_ENCODING, text, &size, nullptr) ||
           GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

// The whole body, or empty when it outlasts the limits (time counted from
// `start`). A read that fails part-way ends the body with what arrived. A
// read waits until its buffer is full, so a trickling reply is noticed here
// only late; FetchOnceWithin bounds the caller's wait. The body ends at the
// announced Content-Length: what a server sends past it is not the reply
// (Wine's platform hands it over on a closing connection, Windows does not).
ByteBuffer ReadBody(HINTERNET request, const FetchLimits& limits, ULONGLONG start)
{
    ByteBuffer body;
    const std::optional<std::string> contentLength = ContentLengthText(request);
    const DWORD readSize = ReadSizeForContentLength(contentLength);
    // 0: no length to end at.
    const uint64_t announced = HasTransferEncoding(request) ? 0 : AnnouncedBodyLength(contentLength).value_or(0);
    ByteBuffer buffer;
    try {
        buffer.resize(readSize);
    } catch (const std::bad_alloc&) {
        return {};
    }
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request, buffer.data(), readSize, &got) || got == 0)
            break;
        if (GetTickCount64() - start > limits.totalMs || got > limits.maxBodyBytes - body.size())
            return {};
        try {
            body.insert(body.end(), buffer.begin(), buffer.begin() + got);
        } catch (const std::bad_alloc&) {
            return {};
        }
        if (announced != 0 && body.size() >= announced) {
            body.resize(static_cast<size_t>(announced));
            break;
        }
    }
    return body;
}

// The target of a redirect reply (3xx with a Location), resolved against the
// URL that was asked for; empty for any other reply.
std::string RedirectTarget(HINTERNET request, const std::string& requestUrl)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return {};
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308)
        return {};
    std::string location(INTERNET_MAX_PATH_LENGTH, '\0');
    size = static_cast<DWORD>(location.size());
    if (!HttpQueryInfoA(request, HTTP_QUERY_LOCATION, location.data(), &size, nullptr))
        return {};
    location.resize(std::min<size_t>(size, location.size()));
    std::string target(INTERNET_MAX_URL_LENGTH, '\0');
    DWORD length = static_cast<DWORD>(target.size());
    if (!InternetCombineUrlA(requestUrl.c_str(), location.c_str(), target.data(), &length, ICU_NO_ENCODE))
        return {};
    target.resize(std::min<size_t>(length, target.size()));
    return target.substr(0, target.find('\0'));
}

// One request. A redirect is not followed here: its target goes to
// `redirect` and its body is not read.
ByteBuffer FetchOnce(const AnsiText& url, const FetchLimits& limits, std::string& redirect)
{
    if (url.empty() || HasControlByte(url))
        return {};
    const std::string canonical = CanonicalizeUrl(url);
    CrackedUrl parts;
    if (canonical.empty() || HasControlByte(canonical) || !CrackUrl(canonical, parts))
        return {};

    DWORD flags = 0;
    if (parts.scheme == INTERNET_SCHEME_HTTP)
        flags = HttpFlags;
    else if (parts.scheme == INTERNET_SCHEME_HTTPS)
        flags = HttpsFlags;
    else
        return {};

    HINTERNET sessionHandle = HttpSessionHandleTemp();
    if (!sessionHandle)
        return {};
    InternetHandle connection(InternetConnectA(sessionHandle, parts.host, parts.port, parts.userName, parts.password,
                                               INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection)
        return {};

    std::string_view object(parts.path);
    object = object.substr(0, object.find('#'));
    const std::string objectText(object);
    const char* acceptTypes[] = {AcceptTypeEntry, nullptr};
    // Declared after the connection, so it is closed first.
    InternetHandle request(
        HttpOpenRequestA(connection.Get(), "GET", objectText.c_str(), "HTTP/1.0", nullptr, acceptTypes, flags, 0));
    if (!request)
        return {};
    // The window waits for this request: a service that stops sending must
    // not hold it for ever (Wine applies no default of its own here).
    DWORD receiveTimeoutMs = ReceiveTimeoutMs;
    InternetSetOptionA(request.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeoutMs, sizeof receiveTimeoutMs);
    const ULONGLONG start = GetTickCount64();
    if (!HttpSendRequestA(request.Get(), ExtraHeaders, ExtraHeadersLength, nullptr, 0))
        return {};
    redirect = RedirectTarget(request.Get(), canonical);
    if (!redirect.empty())
        return {};
    return ReadBody(request.Get(), limits, start);
}

// One request handed to a pool thread, shared by that thread and the caller.
struct PooledFetch {
    AnsiText url;
    FetchLimits limits;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    ByteBuffer body;
    std::string redirect;
};

void CALLBACK RunPooledFetch(PTP_CALLBACK_INSTANCE, void* context)
{
    // The pool's reference: the caller may have stopped waiting long ago.
    const std::unique_ptr<std::shared_ptr<PooledFetch>> reference(static_cast<std::shared_ptr<PooledFetch>*>(context));
    const std::shared_ptr<PooledFetch> fetch = *reference;
    std::string redirect;
    ByteBuffer body;
    try {
        body = FetchOnce(fetch->url, fetch->limits, redirect);
    } catch (const std::bad_alloc&) {
        body.clear();
        redirect.clear();
    }
    std::lock_guard lock(fetch->mutex);
    fetch->body = std::move(body);
    fetch->redirect = std::move(redirect);
    fetch->done = true;
    fetch->finished.notify_all();
}

// FetchOnce on a thread of the process's pool, waited for at most the time
// limit: a read cannot be cut short, so a reply that keeps trickling in is
// left to that thread (it owns every handle of the request and closes them
// when the reply ends) and the caller gets the empty result.
ByteBuffer FetchOnceWithin(const AnsiText& url, const FetchLimits& limits, std::string& redirect)
{
    std::shared_ptr<PooledFetch> fetch;
    std::unique_ptr<std::shared_ptr<PooledFetch>> poolReference;
    try {
        fetch = std::make_shared<PooledFetch>();
        fetch->url = url;
        fetch->limits = limits;
        poolReference = std::make_unique<std::shared_ptr<PooledFetch>>(fetch);
    } catch (const std::bad_alloc&) {
        return {};
    }
    if (!TrySubmitThreadpoolCallback(RunPooledFetch, poolReference.get(), nullptr))
        return FetchOnce(url, limits, redirect); // no thread to spare: wait as long as it takes
    poolReference.release();                     // now the pool thread's
    std::unique_lock lock(fetch->mutex);
    if (!fetch->finished.wait_for(lock, std::chrono::milliseconds(limits.totalMs), [&] { return fetch->done; }))
        return {};
    redirect = std::move(fetch->redirect);
    return std::move(fetch->body);
}

} // namespace

ByteBuffer HttpFetch(const AnsiText& url, const FetchLimits& limits)
{
    // One deadline for the whole fetch: each hop gets what the hops before
    // it left, so a chain of slow redirects ends on time like a slow reply.
    const ULONGLONG start = GetTickCount64();
    AnsiText current = url;
    for (int hop = 0;; ++hop) {
        const ULONGLONG elapsed = GetTickCount64() - start;
        if (elapsed >= limits.totalMs)
            return {};
        FetchLimits hopLimits = limits;
        hopLimits.totalMs = static_cast<uint32_t>(limits.totalMs - elapsed);
        std::string redirect;
        ByteBuffer body = FetchOnceWithin(current, hopLimits, redirect);
        // A service that redirects in a circle must not hold the caller: after
        // MaxRedirects hops the fetch gives up with the empty result.
        if (redirect.empty() || hop == MaxRedirects)
            return body;
        current = redirect;
    }
}

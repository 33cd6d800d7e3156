#include "Loader.h"

#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

#include "Charset.h"
#include "owners/UniqueHandle.h"
#include "Url.h"

namespace {

constexpr DWORD ConnectTimeoutMs = 15000;
constexpr DWORD ReceiveTimeoutPerReadMs = 30000;
constexpr int MaxRedirectHops = 20;
constexpr DWORD ReadChunk = 64 * 1024;

std::string FailureText(DWORD error)
{
    const char* text = "The request failed";
    switch (error) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED: text = "The server name could not be resolved"; break;
    case ERROR_INTERNET_CANNOT_CONNECT: text = "Could not connect to the server"; break;
    case ERROR_INTERNET_TIMEOUT: text = "The server did not answer in time"; break;
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET: text = "The connection was reset"; break;
    case ERROR_HTTP_INVALID_SERVER_RESPONSE: text = "The server's reply is not valid HTTP"; break;
    case ERROR_INTERNET_INVALID_URL:
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME: text = "The address is not valid"; break;
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
    case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED: text = "The secure connection failed"; break;
    default: break;
    }
    return std::string(text) + " (error " + std::to_string(error) + ")";
}

std::optional<std::string> QueryHeader(HINTERNET request, DWORD infoLevel, DWORD* index = nullptr)
{
    std::vector<char> buffer(512);
    for (;;) {
        DWORD cb = static_cast<DWORD>(buffer.size());
        DWORD indexCopy = index ? *index : 0;
        if (HttpQueryInfoA(request, infoLevel, buffer.data(), &cb, index ? &indexCopy : nullptr)) {
            if (index)
                *index = indexCopy;
            return std::string(buffer.data(), cb);
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || cb <= buffer.size() || cb > 1024 * 1024)
            return std::nullopt;
        buffer.resize(cb + 1);
    }
}

std::vector<std::string> SetCookieHeaders(HINTERNET request)
{
    std::vector<std::string> headers;
    DWORD index = 0;
    while (headers.size() < 200) {
        const DWORD before = index;
        auto header = QueryHeader(request, HTTP_QUERY_SET_COOKIE, &index);
        if (!header)
            break;
        headers.push_back(std::move(*header));
        if (index == before)
            break;
    }
    return headers;
}

// Pages are shown; anything else (and anything sent as an attachment) is a download.
bool IsDownload(int status, const std::string& contentType, const std::string& disposition)
{
    if (status < 200 || status >= 300)
        return false;
    if (AsciiLower(disposition).find("attachment") != std::string::npos)
        return true;
    std::string type = AsciiLower(contentType.substr(0, contentType.find(';')));
    while (!type.empty() && type.back() == ' ')
        type.pop_back();
    while (!type.empty() && type.front() == ' ')
        type.erase(0, 1);
    return !(type.empty() || type == "text/html" || type == "text/plain" || type == "application/xhtml+xml");
}

bool IsRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

void SetTimeouts(HINTERNET handle)
{
    DWORD connect = ConnectTimeoutMs;
    DWORD receive = ReceiveTimeoutPerReadMs;
    InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
    InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &receive, sizeof receive);
    InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
}

FetchResult Failed(FetchResult result, std::string failure)
{
    result.responded = false;
    result.failure = std::move(failure);
    result.body.clear();
    return result;
}

// A replaced load's worker may hold its connection until a time-out ends it;
// a roomier per-server limit keeps such stragglers from stalling the next
// load. The setting is the process's, so it is made once.
void RaiseConnectionLimits()
{
    static const bool raised = [] {
        DWORD connections = 16;
        InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof connections);
        InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections, sizeof connections);
        return true;
    }();
    (void)raised;
}

} // namespace

FetchResult Fetch(const FetchRequest& request)
{
    RaiseConnectionLimits();
    FetchResult result;
    result.loadId = request.loadId;
    result.finalUrl = request.url;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(LoadTimeoutMs);
    auto cancelled = [&] { return request.cancelled && request.cancelled->load(); };

    const InternetHandle session(
        InternetOpenA(request.userAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session)
        return Failed(std::move(result), FailureText(GetLastError()));
    SetTimeouts(session.Get());

    std::string current = request.url;
    for (int hop = 0; hop <= MaxRedirectHops; ++hop) {
        if (cancelled())
            return Failed(std::move(result), "Cancelled");
        const auto url = ParseUrl(current);
        if (!url)
            return Failed(std::move(result), "The address is not valid");
        result.finalUrl = url->Spec();

        const InternetHandle connection(InternetConnectA(session.Get(), url->host.c_str(),
                                                         static_cast<INTERNET_PORT>(url->port), nullptr, nullptr,
                                                         INTERNET_SERVICE_HTTP, 0, 0));
        if (!connection)
            return Failed(std::move(result), FailureText(GetLastError()));
        // Cookies and redirects are ours: WinInet's own would bypass the view's jar.
        DWORD flags = INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_RELOAD |
                      INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI |
                      INTERNET_FLAG_KEEP_CONNECTION;
        if (url->IsSecure())
            flags |= INTERNET_FLAG_SECURE;
        const char* acceptTypes[] = {"*/*", nullptr};
        const InternetHandle httpRequest(HttpOpenRequestA(connection.Get(), "GET", url->pathAndQuery.c_str(),
                                                          "HTTP/1.1", nullptr, acceptTypes, flags, 0));
        if (!httpRequest)
            return Failed(std::move(result), FailureText(GetLastError()));
        // Set on the request too: not every WinInet passes the session's down.
        SetTimeouts(httpRequest.Get());

        std::string headers =
            "Accept: text/html,application/xhtml+xml,*/*;q=0.8\r\nAccept-Language: zh-CN,zh;q=0.9\r\n";
        const std::string cookieHeader = request.cookies ? request.cookies->CookieHeaderFor(*url) : std::string();
        if (!cookieHeader.empty())
            headers += "Cookie: " + cookieHeader + "\r\n";
        if (!HttpSendRequestA(httpRequest.Get(), headers.c_str(), static_cast<DWORD>(headers.size()), nullptr, 0))
            return Failed(std::move(result), FailureText(GetLastError()));

        DWORD status = 0;
        DWORD cbStatus = sizeof status;
        if (!HttpQueryInfoA(httpRequest.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &cbStatus,
                            nullptr))
            return Failed(std::move(result), FailureText(ERROR_HTTP_INVALID_SERVER_RESPONSE));
        result.status = static_cast<int>(status);
        if (request.cookies)
            request.cookies->StoreFromResponse(*url, SetCookieHeaders(httpRequest.Get()));

        if (IsRedirect(result.status)) {
            const auto location = QueryHeader(httpRequest.Get(), HTTP_QUERY_LOCATION);
            const std::string next = location ? ResolveUrl(*url, *location) : std::string();
            if (!next.empty()) {
                current = next;
                continue;
            }
        }

        result.contentType = QueryHeader(httpRequest.Get(), HTTP_QUERY_CONTENT_TYPE).value_or("");
        const std::string disposition = QueryHeader(httpRequest.Get(), HTTP_QUERY_CONTENT_DISPOSITION).value_or("");
        result.responded = true;
        result.download = IsDownload(result.status, result.contentType, disposition);
        if (result.download)
            return result;

        std::vector<char> chunk(ReadChunk);
        for (;;) {
            if (cancelled())
                return Failed(std::move(result), "Cancelled");
            if (std::chrono::steady_clock::now() > deadline)
                return Failed(std::move(result), FailureText(ERROR_INTERNET_TIMEOUT));
            DWORD cbRead = 0;
            if (!InternetReadFile(httpRequest.Get(), chunk.data(), ReadChunk, &cbRead))
                return Failed(std::move(result), FailureText(GetLastError()));
            if (cbRead == 0)
                break;
            // A page larger than any real one is cut rather than held without bound.
            const size_t room = MaxBodyBytes - result.body.size();
            result.body.append(chunk.data(), std::min<size_t>(cbRead, room));
            if (result.body.size() >= MaxBodyBytes)
                return result;
        }
        // A reply cut short is a failed load, not a shorter page: a page's
        // meaning (the host reads keys out of it) may sit in the missing part.
        const auto announced = QueryHeader(httpRequest.Get(), HTTP_QUERY_CONTENT_LENGTH);
        if (announced && std::strtoull(announced->c_str(), nullptr, 10) > result.body.size())
            return Failed(std::move(result), "The connection closed before the whole page arrived");
        return result;
    }
    return Failed(std::move(result), "Too many redirects");
}

bool StartFetch(FetchRequest request, std::function<void(FetchResult)> deliver)
{
    auto work = [request = std::move(request), deliver = std::move(deliver)] {
        FetchResult result;
        try {
            result = Fetch(request);
        } catch (...) {
            // Out of memory for a huge body: the load fails, the engine goes on.
            result = FetchResult{};
            result.loadId = request.loadId;
            result.finalUrl = request.url;
            result.failure = "Out of memory";
        }
        deliver(std::move(result));
    };
    try {
        std::thread(std::move(work)).detach();
    } catch (...) {
        return false;
    }
    return true;
}

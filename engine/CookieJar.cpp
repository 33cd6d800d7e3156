#include "CookieJar.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <map>

#include "Charset.h"
#include "FileSystem.h"

namespace {

constexpr size_t MaxCookies = 3000;
constexpr size_t MaxCookieBytes = 4096;
constexpr char JarHeader[] = "# cookie jar 1";

int64_t UnixNow()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const int64_t ticks = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return ticks / 10000000 - 11644473600LL;
}

// An HTTP date ("Wed, 21 Oct 2026 07:28:00 GMT") as Unix seconds, 0 when unreadable.
int64_t ParseHttpDate(const std::string& text)
{
    SYSTEMTIME st{};
    if (!InternetTimeToSystemTimeA(text.c_str(), &st, 0))
        return 0;
    FILETIME ft;
    if (!SystemTimeToFileTime(&st, &ft))
        return 0;
    const int64_t ticks = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return std::max<int64_t>(1, ticks / 10000000 - 11644473600LL);
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool IsIpAddress(const std::string& host)
{
    return host.find_first_not_of("0123456789.") == std::string::npos || host.front() == '[';
}

bool DomainMatches(const std::string& host, const std::string& domain)
{
    if (host == domain)
        return true;
    // An address has no parent domains: "0.0.1" is no domain of 127.0.0.1.
    if (IsIpAddress(host))
        return false;
    return host.size() > domain.size() && host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
           host[host.size() - domain.size() - 1] == '.';
}

bool PathMatches(const std::string& requestPath, const std::string& cookiePath)
{
    if (requestPath.compare(0, cookiePath.size(), cookiePath) != 0)
        return false;
    return requestPath.size() == cookiePath.size() || cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

std::string RequestPath(const Url& url)
{
    return url.pathAndQuery.substr(0, url.pathAndQuery.find('?'));
}

std::string DefaultCookiePath(const Url& url)
{
    const std::string path = RequestPath(url);
    const size_t slash = path.rfind('/');
    return (slash == std::string::npos || slash == 0) ? "/" : path.substr(0, slash);
}

bool HasControlBytes(std::string_view text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return c == '\t' || c == '\r' || c == '\n' || c == '\0'; });
}

} // namespace

std::shared_ptr<CookieJar> CookieJar::ForDirectory(const std::wstring& directory)
{
    static std::mutex registryMutex;
    static std::map<std::wstring, std::shared_ptr<CookieJar>> registry;
    std::lock_guard lock(registryMutex);
    std::wstring filePath;
    if (!directory.empty()) {
        CreateDirectoryTree(directory);
        filePath = directory;
        if (filePath.back() != L'\\' && filePath.back() != L'/')
            filePath += L'\\';
        filePath += L"cookies.dat";
    }
    auto& jar = registry[filePath];
    if (!jar)
        jar = std::make_shared<CookieJar>(filePath);
    return jar;
}

CookieJar::CookieJar(std::wstring filePath) : filePath_(std::move(filePath))
{
    Load();
}

std::string CookieJar::CookieHeaderFor(const Url& url)
{
    return HeaderFor(url, false);
}

std::string CookieJar::ScriptCookies(const Url& url)
{
    return HeaderFor(url, true);
}

void CookieJar::StoreFromScript(const Url& url, std::string_view cookie)
{
    if (AsciiLower(cookie).find("httponly") != std::string::npos)
        return;
    const std::string name(Trim(cookie.substr(0, std::min(cookie.find('='), cookie.find(';')))));
    std::lock_guard lock(mutex_);
    const bool shadowsHttpOnly = std::any_of(cookies_.begin(), cookies_.end(), [&](const Cookie& c) {
        return c.httpOnly && c.name == name && (c.hostOnly ? url.host == c.domain : DomainMatches(url.host, c.domain));
    });
    const int64_t now = UnixNow();
    if (!shadowsHttpOnly && StoreOne(url, cookie, now)) {
        DropExpired(now);
        Save();
    }
}

std::string CookieJar::HeaderFor(const Url& url, bool forScript)
{
    std::lock_guard lock(mutex_);
    const int64_t now = UnixNow();
    const std::string path = RequestPath(url);
    std::vector<const Cookie*> matching;
    for (const Cookie& cookie : cookies_) {
        if (cookie.expires != 0 && cookie.expires <= now)
            continue;
        if ((cookie.secure && !url.IsSecure()) || (forScript && cookie.httpOnly))
            continue;
        const bool hostOk = cookie.hostOnly ? url.host == cookie.domain : DomainMatches(url.host, cookie.domain);
        if (hostOk && PathMatches(path, cookie.path))
            matching.push_back(&cookie);
    }
    // Longer paths first, as browsers send them.
    std::stable_sort(matching.begin(), matching.end(),
                     [](const Cookie* a, const Cookie* b) { return a->path.size() > b->path.size(); });
    std::string header;
    for (const Cookie* cookie : matching) {
        if (!header.empty())
            header += "; ";
        header += cookie->name.empty() ? cookie->value : cookie->name + "=" + cookie->value;
    }
    return header;
}

void CookieJar::StoreFromResponse(const Url& url, const std::vector<std::string>& setCookieHeaders)
{
    if (setCookieHeaders.empty())
        return;
    std::lock_guard lock(mutex_);
    const int64_t now = UnixNow();
    bool changed = false;
    for (const std::string& header : setCookieHeaders)
        changed |= StoreOne(url, header, now);
    if (changed) {
        DropExpired(now);
        Save();
    }
}

bool CookieJar::StoreOne(const Url& url, std::string_view header, int64_t now)
{
    if (header.size() > MaxCookieBytes || HasControlBytes(header))
        return false;
    Cookie cookie;
    const size_t firstSemicolon = header.find(';');
    const std::string_view pair = Trim(header.substr(0, firstSemicolon));
    const size_t equals = pair.find('=');
    cookie.name = std::string(Trim(equals == std::string_view::npos ? std::string_view() : pair.substr(0, equals)));
    cookie.value = std::string(Trim(equals == std::string_view::npos ? pair : pair.substr(equals + 1)));
    if (cookie.name.empty() && cookie.value.empty())
        return false;
    cookie.domain = url.host;
    cookie.path = DefaultCookiePath(url);

    bool deleteIt = false;
    bool haveMaxAge = false;
    std::string_view attributes =
        firstSemicolon == std::string_view::npos ? std::string_view() : header.substr(firstSemicolon + 1);
    while (!attributes.empty()) {
        const size_t next = attributes.find(';');
        const std::string_view attribute = Trim(attributes.substr(0, next));
        attributes = next == std::string_view::npos ? std::string_view() : attributes.substr(next + 1);
        const size_t eq = attribute.find('=');
        const std::string key = AsciiLower(Trim(attribute.substr(0, eq)));
        const std::string value(eq == std::string_view::npos ? std::string_view() : Trim(attribute.substr(eq + 1)));
        if (key == "domain" && !value.empty()) {
            std::string domain = AsciiLower(value);
            if (domain.front() == '.')
                domain.erase(0, 1);
            // A domain attribute may only widen to a parent that has a dot of its own.
            if (!DomainMatches(url.host, domain) || (domain != url.host && domain.find('.') == std::string::npos))
                return false;
            cookie.domain = domain;
            cookie.hostOnly = false;
        } else if (key == "path" && !value.empty() && value.front() == '/') {
            cookie.path = value;
        } else if (key == "max-age") {
            char* end = nullptr;
            const long long seconds = std::strtoll(value.c_str(), &end, 10);
            if (!value.empty() && end && *end == '\0') {
                haveMaxAge = true;
                deleteIt = seconds <= 0;
                cookie.expires = seconds <= 0 ? 0 : now + std::min<long long>(seconds, 400LL * 86400);
            }
        } else if (key == "expires" && !haveMaxAge) {
            const int64_t when = ParseHttpDate(value);
            if (when != 0) {
                deleteIt = when <= now;
                cookie.expires = when;
            }
        } else if (key == "secure") {
            cookie.secure = true;
        } else if (key == "httponly") {
            cookie.httpOnly = true;
        }
    }

    const auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& c) {
        return c.name == cookie.name && c.domain == cookie.domain && c.path == cookie.path;
    });
    if (same != cookies_.end()) {
        // A replaced cookie keeps its place, which is its age in send order.
        if (deleteIt)
            cookies_.erase(same);
        else
            *same = std::move(cookie);
        return true;
    }
    if (deleteIt)
        return false;
    if (cookies_.size() >= MaxCookies)
        cookies_.erase(cookies_.begin());
    cookies_.push_back(std::move(cookie));
    return true;
}

void CookieJar::DropExpired(int64_t now)
{
    std::erase_if(cookies_, [now](const Cookie& c) { return c.expires != 0 && c.expires <= now; });
}

void CookieJar::Load()
{
    if (filePath_.empty())
        return;
    const std::string content = ReadWholeFile(filePath_, 8 * 1024 * 1024);
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        if (end == std::string::npos)
            end = content.size();
        std::string_view line(content.data() + pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;
        std::vector<std::string> fields;
        size_t start = 0;
        while (fields.size() < 7) {
            const size_t tab = line.find('\t', start);
            if (tab == std::string_view::npos)
                break;
            fields.emplace_back(line.substr(start, tab - start));
            start = tab + 1;
        }
        if (fields.size() != 7 || fields[0].empty() || fields[2].empty())
            continue;
        Cookie cookie;
        cookie.domain = fields[0];
        cookie.hostOnly = fields[1] == "1";
        cookie.path = fields[2];
        cookie.secure = fields[3] == "1";
        cookie.httpOnly = fields[4] == "1";
        cookie.expires = std::strtoll(fields[5].c_str(), nullptr, 10);
        cookie.name = fields[6];
        cookie.value = std::string(line.substr(start));
        if (cookies_.size() < MaxCookies)
            cookies_.push_back(std::move(cookie));
    }
    DropExpired(UnixNow());
}

void CookieJar::Save() const
{
    if (filePath_.empty())
        return;
    // Session cookies are kept too: the tool's restart is not the end of the
    // service's session.
    std::string content = std::string(JarHeader) + "\n";
    for (const Cookie& c : cookies_) {
        content += c.domain + '\t' + (c.hostOnly ? "1" : "0") + '\t' + c.path + '\t' + (c.secure ? "1" : "0") + '\t' +
                   (c.httpOnly ? "1" : "0") + '\t' + std::to_string(c.expires) + '\t' + c.name + '\t' + c.value + '\n';
    }
    WriteWholeFileAtomically(filePath_, content);
}

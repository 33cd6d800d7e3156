#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Url.h"

// The engine's own cookie store. WinInet's is switched off for every request
// (INTERNET_FLAG_NO_COOKIES), so what a page sets lives here and in the jar
// file of the view's cookie directory, where it survives a restart. Views
// with the same directory share one jar. Safe to use from any thread.
class CookieJar {
public:
    // The jar of a directory (created when missing); an empty directory gives
    // the process's own jar, kept in memory only.
    static std::shared_ptr<CookieJar> ForDirectory(const std::wstring& directory);

    explicit CookieJar(std::wstring filePath);

    // The Cookie header value for a request, empty when no cookie applies.
    std::string CookieHeaderFor(const Url& url);
    // document.cookie of a page at that URL: HttpOnly cookies are not for scripts.
    std::string ScriptCookies(const Url& url);
    // A cookie a page's script writes, in Set-Cookie form; it can neither make
    // nor replace an HttpOnly cookie.
    void StoreFromScript(const Url& url, std::string_view cookie);
    // Takes the Set-Cookie headers of a response to that URL.
    void StoreFromResponse(const Url& url, const std::vector<std::string>& setCookieHeaders);

private:
    struct Cookie {
        std::string name, value, domain, path;
        bool hostOnly = true, secure = false, httpOnly = false;
        int64_t expires = 0; // Unix seconds; 0 for a cookie without an expiry
    };

    std::string HeaderFor(const Url& url, bool forScript);
    bool StoreOne(const Url& url, std::string_view header, int64_t now);
    void DropExpired(int64_t now);
    void Load();
    void Save() const;

    std::mutex mutex_;
    std::wstring filePath_; // empty: memory only
    std::vector<Cookie> cookies_;
};

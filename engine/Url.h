#pragma once
#include <optional>
#include <string>
#include <string_view>

// An absolute http or https URL, split for WinInet.
struct Url {
    std::string scheme; // "http" or "https", lower case
    std::string host;   // lower case
    int port = 0;
    std::string pathAndQuery; // starts with "/"; the fragment is dropped

    bool IsSecure() const { return scheme == "https"; }
    std::string Spec() const; // the whole URL, default port left out
};

// Parses an absolute http(s) URL; bytes a server would refuse (spaces,
// non-ASCII UTF-8) are percent-encoded first. None for anything else.
std::optional<Url> ParseUrl(std::string_view text);

// A link, redirect or refresh target resolved against the page's URL, as a
// whole URL text; empty when it cannot be resolved.
std::string ResolveUrl(const Url& base, std::string_view reference);

// The text without the spaces and control bytes around it, as a URL is read.
std::string_view TrimUrl(std::string_view text);

// The scheme of a URL text in lower case, empty when it has none.
std::string UrlScheme(std::string_view text);

#include "Url.h"

#include "Charset.h"

std::string_view TrimUrl(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

namespace {

std::string EscapeUnsafeBytes(std::string_view text)
{
    static const char HexDigits[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= ' ' || b >= 0x7F || c == '"' || c == '<' || c == '>') {
            escaped += '%';
            escaped += HexDigits[b >> 4];
            escaped += HexDigits[b & 15];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

// Removes "." and ".." segments from an absolute path (query excluded).
std::string RemoveDotSegments(std::string_view path)
{
    std::string out;
    size_t pos = 0;
    while (pos < path.size()) {
        size_t next = path.find('/', pos + 1);
        if (next == std::string_view::npos)
            next = path.size();
        const std::string_view segment = path.substr(pos, next - pos); // includes the leading '/'
        if (segment == "/.") {
            if (next == path.size())
                out += '/';
        } else if (segment == "/..") {
            const size_t cut = out.rfind('/');
            out.erase(cut == std::string::npos ? 0 : cut);
            if (next == path.size())
                out += '/';
        } else {
            out += segment;
        }
        pos = next;
    }
    return out.empty() ? "/" : out;
}

} // namespace

std::string Url::Spec() const
{
    std::string spec = scheme;
    spec.append("://").append(host);
    const int defaultPort = IsSecure() ? 443 : 80;
    if (port != defaultPort)
        spec.append(1, ':').append(std::to_string(port));
    return spec.append(pathAndQuery);
}

std::string UrlScheme(std::string_view text)
{
    text = TrimUrl(text);
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return {};
    for (size_t i = 0; i < colon; ++i) {
        const char c = text[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok)
            return {};
    }
    return AsciiLower(text.substr(0, colon));
}

std::optional<Url> ParseUrl(std::string_view text)
{
    const std::string escaped = EscapeUnsafeBytes(TrimUrl(text));
    std::string_view rest = escaped;
    Url url;
    url.scheme = UrlScheme(rest);
    if (url.scheme != "http" && url.scheme != "https")
        return std::nullopt;
    rest.remove_prefix(url.scheme.size() + 1);
    if (rest.substr(0, 2) != "//")
        return std::nullopt;
    rest.remove_prefix(2);

    const size_t authorityEnd = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, authorityEnd);
    rest.remove_prefix(authorityEnd == std::string_view::npos ? rest.size() : authorityEnd);
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority.remove_prefix(at + 1);

    url.port = url.IsSecure() ? 443 : 80;
    const size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
        const std::string_view portText = authority.substr(colon + 1);
        authority = authority.substr(0, colon);
        if (!portText.empty()) {
            int port = 0;
            for (char c : portText) {
                if (c < '0' || c > '9' || port > 65535)
                    return std::nullopt;
                port = port * 10 + (c - '0');
            }
            if (port <= 0 || port > 65535)
                return std::nullopt;
            url.port = port;
        }
    }
    if (authority.empty())
        return std::nullopt;
    url.host = AsciiLower(authority);

    const size_t hash = rest.find('#');
    if (hash != std::string_view::npos)
        rest = rest.substr(0, hash);
    url.pathAndQuery = std::string(rest);
    if (url.pathAndQuery.empty() || url.pathAndQuery[0] != '/')
        url.pathAndQuery = std::string(1, '/').append(url.pathAndQuery);
    return url;
}

std::string ResolveUrl(const Url& base, std::string_view reference)
{
    reference = TrimUrl(reference);
    const size_t hash = reference.find('#');
    if (hash != std::string_view::npos)
        reference = reference.substr(0, hash);
    if (!UrlScheme(reference).empty()) {
        const auto absolute = ParseUrl(reference);
        return absolute ? absolute->Spec() : std::string();
    }
    std::string spec;
    if (reference.substr(0, 2) == "//") {
        spec = base.scheme + ":" + std::string(reference);
    } else {
        Url resolved = base;
        const std::string basePath = base.pathAndQuery.substr(0, base.pathAndQuery.find('?'));
        if (reference.empty()) {
            // The page itself.
        } else if (reference[0] == '?') {
            resolved.pathAndQuery = basePath + std::string(reference);
        } else {
            const size_t queryPos = reference.find('?');
            std::string path(reference.substr(0, queryPos));
            const std::string query(queryPos == std::string_view::npos ? std::string_view()
                                                                       : reference.substr(queryPos));
            if (path.empty() || path[0] != '/')
                path = basePath.substr(0, basePath.rfind('/') + 1) + path;
            resolved.pathAndQuery = RemoveDotSegments(path) + query;
        }
        spec = resolved.Spec();
    }
    const auto parsed = ParseUrl(spec);
    return parsed ? parsed->Spec() : std::string();
}

#include "ConsoleHtml.h"

#include <algorithm>
#include <ctime>

#include "Records.h"

namespace kelvora {

namespace {

struct Replacement {
    char c;
    std::string_view with;
};

// The text with every character the table names replaced by its text.
template <size_t N>
std::string ReplaceEach(std::string_view text, const Replacement (&table)[N])
{
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        auto hit = std::find_if(table, table + N, [&](const Replacement& r) { return r.c == c; });
        if (hit == table + N)
            out.push_back(c);
        else
            out.append(hit->with);
    }
    return out;
}

} // namespace

std::string HtmlEscape(std::string_view text)
{
    static constexpr Replacement table[] = {
        {'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&#39;"}};
    return ReplaceEach(text, table);
}

std::string JsonForScript(std::string_view json)
{
    static constexpr Replacement table[] = {{'<', "\\u003c"}, {'>', "\\u003e"}, {'&', "\\u0026"}};
    return ReplaceEach(json, table);
}

std::string UrlEncode(std::string_view text)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

std::string LocalTimeText(int64_t seconds)
{
    return TimeText(seconds, "%Y-%m-%d %H:%M", true);
}

int64_t LocalDayStart(int64_t now)
{
    std::time_t time = static_cast<std::time_t>(now);
    std::tm parts{};
    localtime_r(&time, &parts);
    parts.tm_hour = parts.tm_min = parts.tm_sec = 0;
    parts.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&parts));
}

} // namespace kelvora

#include "QueryString.h"

#include <charconv>

namespace kelvora {

std::optional<std::string> PercentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%') {
            if (text.size() - i < 3)
                return std::nullopt;
            // Exactly two hex digits, of either case.
            unsigned char byte = 0;
            const char* end = text.data() + i + 3;
            if (std::from_chars(text.data() + i + 1, end, byte, 16).ptr != end)
                return std::nullopt;
            out.push_back(static_cast<char>(byte));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

QueryParams ParseQuery(std::string_view target)
{
    QueryParams result;
    size_t mark = target.find('?');
    if (mark == std::string_view::npos) {
        result.ok = true;
        return result;
    }
    std::string_view query = target.substr(mark + 1);
    query = query.substr(0, query.find('#'));
    while (!query.empty()) {
        size_t amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty())
            continue;
        size_t eq = pair.find('=');
        std::string_view rawKey = pair.substr(0, eq);
        std::string_view rawValue = eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
        auto key = PercentDecode(rawKey);
        auto value = PercentDecode(rawValue);
        if (!key || !value) {
            result.error = "broken percent-encoding in the query";
            return result;
        }
        result.values.emplace(std::move(*key), std::move(*value));
    }
    result.ok = true;
    return result;
}

} // namespace kelvora

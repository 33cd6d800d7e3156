#include "TextPieces.h"

#include <algorithm>

namespace kelvora {

std::string_view Trimmed(std::string_view text, std::string_view spaces)
{
    size_t first = text.find_first_not_of(spaces);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(spaces) - first + 1);
}

std::vector<std::string_view> SplitAt(std::string_view text, std::string_view separators)
{
    std::vector<std::string_view> parts;
    for (size_t start = 0; start <= text.size();) {
        size_t end = std::min(text.find_first_of(separators, start), text.size());
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string LastListEntry(std::string_view list)
{
    size_t comma = list.rfind(',');
    return std::string(Trimmed(comma == std::string_view::npos ? list : list.substr(comma + 1), " \t"));
}

std::string GroupedDigits(int64_t number)
{
    std::string digits = std::to_string(number), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out.push_back(',');
        out.push_back(digits[i]);
    }
    return out;
}

} // namespace kelvora

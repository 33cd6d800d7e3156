#pragma once
// Pieces of text from requests and bank files: parts between separators,
// without the spaces around them, and the last entry of a header's list; and
// numbers as operators read them.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelvora {

// text without any of spaces at either end.
std::string_view Trimmed(std::string_view text, std::string_view spaces = " \t\r\n");

// text cut at each of separators, every part as it stands (empty ones too).
std::vector<std::string_view> SplitAt(std::string_view text, std::string_view separators);

// The last entry of a comma-separated header value such as X-Forwarded-For,
// without spaces or tabs around it.
std::string LastListEntry(std::string_view list);

// A count with its thousands grouped: 1234567 as "1,234,567".
std::string GroupedDigits(int64_t number);

} // namespace kelvora

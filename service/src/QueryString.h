#pragma once
// Strict reading of a request target's query. The HTTP library forgives broken
// percent escapes; the service instead refuses them so that a damaged question
// is never looked up or recorded as something else.
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kelvora {

// The bytes that text stands for ("+" is a space), or nothing when a "%" is
// not followed by two hexadecimal digits.
std::optional<std::string> PercentDecode(std::string_view text);

struct QueryParams {
    bool ok = false;
    std::string error;                         // why the query was refused
    std::map<std::string, std::string> values; // the first value of each key
};

// Splits the part of target after "?" at "&" and "=" and decodes each piece.
QueryParams ParseQuery(std::string_view target);

} // namespace kelvora

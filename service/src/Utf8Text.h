#pragma once
// UTF-8 to code points and back. Everything that enters the service from the
// network or a bank file is checked here first.
#include <optional>
#include <string>
#include <string_view>

namespace kelvora {

// The code points of text, or nothing when text is not well-formed UTF-8
// (overlong forms, surrogates and values above U+10FFFF are refused).
std::optional<std::u32string> DecodeUtf8(std::string_view text);

bool IsValidUtf8(std::string_view text);

std::string EncodeUtf8(std::u32string_view codePoints);

// Drops a leading byte order mark, which spreadsheet exports like to add.
std::string_view WithoutByteOrderMark(std::string_view text);

} // namespace kelvora

#pragma once
// Traditional characters folded to simplified ones, so that a question typed
// (or recognised from a screen) in traditional script finds the bank's
// simplified wording. The conversion tables are the system's t2s dictionaries.
#include <string>
#include <string_view>

namespace kelvora {

// Whether text holds a character that the conversion would change (a
// traditional character, or the start of a traditional phrase). Cheap: most
// questions hold none, and the conversion itself is not.
bool HasTraditionalCharacters(std::u32string_view text);

// text (UTF-8) with traditional characters and phrases in their simplified
// form; text unchanged when the conversion tables cannot be loaded.
std::string ToSimplified(std::string_view text);

// The same for code points. The full conversion, which weighs phrases, costs
// about half a microsecond a character; beyond the first 64 characters each
// character takes its usual simplified form, so that a long crafted text
// costs little more than a short one.
std::u32string ToSimplified(std::u32string_view text);

// Whether the conversion tables were found (loaded on first use).
bool SimplifiedConversionAvailable();

} // namespace kelvora

#pragma once
// Traditional characters folded to simplified ones, so that a question typed
// (or recognised from a screen) in traditional script finds the bank's
// simplified wording. The conversion tables are the system's t2s dictionaries.
#include <string>
#include <string_view>

namespace kelvora {

// text (UTF-8) with traditional characters and phrases in their simplified
// form; text unchanged when the conversion tables cannot be loaded.
std::string ToSimplified(std::string_view text);

// Whether the conversion tables were found (loaded on first use).
bool SimplifiedConversionAvailable();

}  // namespace kelvora

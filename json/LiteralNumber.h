#pragma once
#include <optional>
#include <string>
#include <string_view>

// A number token of a data literal (an optional sign, digits with an optional
// fraction, an optional exponent; already checked by the reader) as the
// shortest text that reads back as the same double: what the engine is given
// in its place. Zero is 0 whatever its sign, a value beyond the largest
// double is 1e999 (Infinity), one that rounds to zero is 0. Nothing when the
// value is not zero but below SmallestEvaluableMagnitude (JsonLiteral.h).
// Linear in the token's length, whatever its digits and exponent.
std::optional<std::u16string> CanonicalNumber(std::u16string_view token);

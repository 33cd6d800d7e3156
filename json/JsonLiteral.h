#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Decides whether a text from the network may be handed to the script engine
// as the argument of eval: only data literals are, and only in a form that
// every engine reads alike. A data literal is a JSON value, also allowing
// single-quoted strings, member names without quotes (ASCII identifiers or
// unsigned numbers), an optional sign on numbers, and nesting up to
// MaxLiteralDepth. When the whole text is one string literal, eval runs its
// content as script, so that content must be a data literal too. Anything
// else (calls, operators, comments, identifiers as values) is refused, and so
// nothing of it ever runs.
//
// Numbers. The integer part has no leading zeros (012 is refused: engines
// read it as octal). Every number, member names included, reaches the engine
// rewritten as the shortest text that reads back as the same double, the
// value a JSON reader gives it (rounded to nearest), so no engine ever sees a
// long exponent or an unusual form:
//   - 0e1, -0E+1, 0.000e99 become 0; 1E+02 becomes 100;
//   - a value beyond the largest double becomes 1e999 (Infinity, as JSON
//     readers read it), one that rounds to zero becomes 0;
//   - zero loses its sign: -0 reads as 0 (engines give the sign of a zero
//     back each their own way);
//   - a value that is not zero but smaller in magnitude than
//     SmallestEvaluableMagnitude is refused: some engines read such values
//     as 0 or with their last digits wrong.
// Strings. Escapes whose meaning every engine agrees on only; the character
// U+0000 (escaped or raw) and lone surrogates (an escaped or raw high
// surrogate not followed by a low one, or a low one alone) are refused, since
// engines cut texts at the zero or treat broken pairs each their own way; raw
// controls other than tab and raw U+2028/U+2029 are refused.
// Member names. A name is refused when it is __proto__, which sets the
// prototype in some engines. When a name occurs twice, the last member wins,
// as in JSON readers and ECMAScript object literals; names that differ only
// in their escapes ("a" and "\u0061") are the same name.
//
// Works on the UTF-16 text exactly as the engine receives it; iterative, so
// neither depth nor length of the input can exhaust the stack; time and
// memory grow linearly with the text.
constexpr std::size_t MaxLiteralDepth = 512;
constexpr double SmallestEvaluableMagnitude = 1e-290;

// The text to evaluate in place of `text`, equal to it in meaning, or nothing
// when `text` is not a data literal that every engine reads alike.
std::optional<std::u16string> EvaluableLiteral(std::u16string_view text);

bool IsEvaluableLiteral(std::u16string_view text);

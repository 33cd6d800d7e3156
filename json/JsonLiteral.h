#pragma once
#include <cstddef>
#include <string_view>

// Decides whether a text from the network may be handed to the script engine
// as the argument of eval: only data literals are. A data literal is a JSON
// value, also allowing single-quoted strings, member names without quotes
// (ASCII identifiers or unsigned numbers), an optional sign on numbers, and
// nesting up to kMaxLiteralDepth. When the whole text is one string literal,
// eval runs its content as script, so that content must be a data literal
// too. Anything else (calls, operators, comments, identifiers as values) is
// refused, and so nothing of it ever runs.
//
// Works on the UTF-16 text exactly as the engine receives it; iterative, so
// neither depth nor length of the input can exhaust the stack.
constexpr std::size_t kMaxLiteralDepth = 512;

bool IsEvaluableLiteral(std::u16string_view text);

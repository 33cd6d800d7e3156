#pragma once
// Text from the network or a bank file, made safe to print on an operator's
// terminal: nothing in it can move the cursor, send escape sequences, start a
// new line or reorder what is shown.
#include <string>
#include <string_view>

namespace kelvora {

// Backslash, tab, line feed and carriage return as \\ \t \n \r; other
// C0 controls and DEL as \xNN; C1 controls, line and paragraph separators
// and bidirectional formatting marks as \uNNNN; bytes that are not UTF-8 as
// \xNN. Everything else is kept as it is.
std::string EscapeForTerminal(std::string_view text);

} // namespace kelvora

#pragma once
// The console's style sheet and script, served from the program itself.
#include <string_view>

namespace kelvora {

extern const std::string_view ConsoleCss;
extern const std::string_view ConsoleScript;

} // namespace kelvora

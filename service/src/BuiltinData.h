#pragma once
// Data files built into the program, so that the installed binary carries them.
#include <string_view>

namespace kelvora {

// The text of service/data/contrasts.txt at build time (empty without one).
std::string_view BuiltinContrasts();

} // namespace kelvora

#pragma once
// Failures the server cannot answer with anything better than a 503 are told
// to the operator on standard error. A failure that repeats (every report
// while the disk is full) is written once a second at most, with a count of
// the repeats left out in between.
#include <string_view>

namespace kelvora {

void LogFailure(std::string_view what, std::string_view detail);

} // namespace kelvora

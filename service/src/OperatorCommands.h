#pragma once
// `operator add NAME`, `operator remove NAME`, `operator list`: the console's
// accounts, kept in the database.
#include <string>
#include <vector>

namespace kelvora {

// words: what follows "operator" on the command line. The exit status.
int RunOperatorCommand(const std::string& database, const std::vector<std::string>& words);

} // namespace kelvora

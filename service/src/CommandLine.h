#pragma once
// The kelvora-service commands: serve, import, unanswered, stats.
namespace kelvora {

// The process's exit code: 0 done, 1 failed, 2 wrong usage.
int RunCommandLine(int argc, char** argv);

} // namespace kelvora

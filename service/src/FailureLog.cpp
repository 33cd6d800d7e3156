#include "FailureLog.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "TerminalText.h"

namespace kelvora {

namespace {

struct Repeats {
    std::chrono::steady_clock::time_point lastWritten;
    long long leftOut = 0;
};

std::mutex logMutex;
std::map<std::string, Repeats, std::less<>> seen;

} // namespace

void LogFailure(std::string_view what, std::string_view detail)
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(logMutex);
    auto found = seen.find(what);
    if (found == seen.end()) {
        if (seen.size() > 64)
            seen.clear(); // only our own fixed texts are keys
        found = seen.emplace(std::string(what), Repeats{now - std::chrono::seconds(2), 0}).first;
    }
    Repeats& repeats = found->second;
    if (now - repeats.lastWritten < std::chrono::seconds(1)) {
        ++repeats.leftOut;
        return;
    }
    std::string line = "kelvora-service: " + std::string(what) + ": " + EscapeForTerminal(detail);
    if (repeats.leftOut > 0)
        line += " (and " + std::to_string(repeats.leftOut) + " more like it)";
    line += "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    repeats.lastWritten = now;
    repeats.leftOut = 0;
}

} // namespace kelvora

#pragma once
#include <windows.h>

#include <functional>

// Processes the calling thread's messages until `condition` holds (true) or
// `timeoutMs` has passed (false), so the thread's own windows keep answering
// while a test waits. The condition is checked after each round of messages.
bool PumpMessagesUntil(const std::function<bool()>& condition, DWORD timeoutMs);

#pragma once
#include <cstddef>
#include <string>

// Files beside the program.

// The directory of the running executable (not the working directory),
// without a trailing backslash.
std::wstring ExecutableDirectory();

// Creates or truncates the file and writes the bytes in one piece, sharing
// the file with nobody while it is open. False when any step fails.
bool WriteWholeFile(const std::wstring& path, const unsigned char* bytes, size_t cbBytes);

#pragma once
#include <string>

// Small file helpers for the engine's stored state (cookie jar, storage dir).

// Creates a directory and any missing parents; true when it exists afterwards.
bool CreateDirectoryTree(const std::wstring& path);
// The file's bytes, at most maxBytes; empty when it cannot be read.
std::string ReadWholeFile(const std::wstring& path, size_t maxBytes);
// Writes a temporary file beside the target, then moves it over the target,
// so a crash mid-write never leaves a half-written file.
bool WriteWholeFileAtomically(const std::wstring& path, const std::string& content);

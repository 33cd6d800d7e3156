#pragma once
#include <string>

#include "text/AnsiText.h"

// A fresh, empty directory under the temporary folder, removed with all it
// holds when the object goes. Paths are Windows paths without a trailing
// backslash.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Whole-file helpers for tests: an empty buffer for a missing file.
// (Writing a file: WriteWholeFile of app/Startup.h.)
ByteBuffer ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);

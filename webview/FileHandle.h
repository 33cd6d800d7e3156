#pragma once
#include <windows.h>

// Owns a file handle from CreateFileW and closes it on every path.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle()
    {
        if (IsValid())
            CloseHandle(handle_);
    }

    // CreateFileW reports failure as INVALID_HANDLE_VALUE, not as nullptr.
    bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

#pragma once
#include <windows.h>

#include <string>

// The directory of the running executable, ending with a backslash; empty
// when the system cannot tell.
inline std::wstring ProgramDirectoryW()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD cch = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (cch == 0)
            return {};
        if (cch < path.size()) {
            path.resize(cch);
            break;
        }
        path.resize(path.size() * 2);
    }
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

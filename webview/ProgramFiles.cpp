#include "webview/ProgramFiles.h"

#include <windows.h>

#include "owners/UniqueHandle.h"

std::wstring ExecutableDirectory()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD cchPath = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (cchPath == 0)
            return {};
        if (cchPath < path.size()) {
            path.resize(cchPath);
            break;
        }
        path.resize(path.size() * 2); // cut off: ask again with room to spare
    }
    size_t lastSeparator = path.find_last_of(L'\\');
    return lastSeparator == std::wstring::npos ? std::wstring() : path.substr(0, lastSeparator);
}

bool WriteWholeFile(const std::wstring& path, const unsigned char* bytes, size_t cbBytes)
{
    const KernelHandle file =
        OwnFile(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD cbWritten = 0;
    return WriteFile(file.Get(), bytes, static_cast<DWORD>(cbBytes), &cbWritten, nullptr) && cbWritten == cbBytes;
}

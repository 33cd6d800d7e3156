#include "FileSystem.h"

#include <windows.h>

#include "owners/UniqueHandle.h"

bool CreateDirectoryTree(const std::wstring& path)
{
    if (path.empty())
        return false;
    std::wstring trimmed = path;
    while (trimmed.size() > 3 && (trimmed.back() == L'\\' || trimmed.back() == L'/'))
        trimmed.pop_back();
    const DWORD attributes = GetFileAttributesW(trimmed.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const size_t slash = trimmed.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0)
        CreateDirectoryTree(trimmed.substr(0, slash));
    return CreateDirectoryW(trimmed.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::string ReadWholeFile(const std::wstring& path, size_t maxBytes)
{
    const KernelHandle file =
        OwnFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return {};
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) > maxBytes)
        return {};
    std::string content(static_cast<size_t>(size.QuadPart), '\0');
    DWORD cbRead = 0;
    if (!content.empty() &&
        (!ReadFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &cbRead, nullptr) ||
         cbRead != content.size()))
        return {};
    return content;
}

bool WriteWholeFileAtomically(const std::wstring& path, const std::string& content)
{
    const std::wstring temporary = path + L".tmp" + std::to_wstring(GetCurrentProcessId());
    {
        KernelHandle file = OwnFile(
            CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        DWORD cbWritten = 0;
        if (!content.empty() &&
            (!WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &cbWritten, nullptr) ||
             cbWritten != content.size())) {
            file.Reset();
            DeleteFileW(temporary.c_str());
            return false;
        }
    }
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

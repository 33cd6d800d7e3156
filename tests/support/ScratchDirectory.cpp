#include "tests/support/ScratchDirectory.h"

#include <windows.h>

#include "owners/UniqueHandle.h"

namespace {

void RemoveTree(const std::wstring& directory)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = directory + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(directory.c_str());
}

} // namespace

ScratchDirectory::ScratchDirectory()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring base = temp;
    if (!base.empty() && base.back() == L'\\')
        base.pop_back();
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring candidate = base + L"\\kelvora-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter);
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
    }
}

ScratchDirectory::~ScratchDirectory()
{
    if (!path_.empty())
        RemoveTree(path_);
}

ByteBuffer ReadFileBytes(const std::wstring& path)
{
    ByteBuffer bytes;
    const KernelHandle file =
        OwnFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr));
    if (!file)
        return bytes;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.Get(), &size) && size.QuadPart > 0) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD cbRead = 0;
        if (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &cbRead, nullptr))
            cbRead = 0;
        bytes.resize(cbRead);
    }
    return bytes;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

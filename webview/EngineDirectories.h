#pragma once
#include <string>

#include "text/AnsiText.h"

// The program directory with its trailing backslash; empty when unknown.
std::wstring ProgramDirectoryWithSlash();

// The engine's two directories beside the program, by default.
inline constexpr wchar_t LocalStorageDirName[] = L"缓存目录";
inline constexpr wchar_t CookieDirName[] = L"cookie目录";

// A directory text as the engine gets it. A default directory keeps the
// program directory's own UTF-16 form, which may hold characters that code
// page 936 lacks.
std::wstring DirectoryForEngine(const AnsiText& directory);

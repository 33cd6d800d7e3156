#include "webview/EngineText.h"

#include <cstring>
#include <initializer_list>

#include "app/ProgramFiles.h"
#include "app/WideText.h"
#include "webview/EngineApi.h"

AnsiText EngineStringToCp936(wkeString text)
{
    if (!text || !Engine().wkeGetStringW)
        return {};
    const wchar_t* wide = Engine().wkeGetStringW(text);
    return wide ? AnsiFromWide(wide) : AnsiText();
}

AnsiText EngineUtf8ToCp936(const char* utf8)
{
    if (!utf8)
        return {};
    int cbUtf8 = static_cast<int>(std::strlen(utf8));
    int cchWide = MultiByteToWideChar(CP_UTF8, 0, utf8, cbUtf8, nullptr, 0);
    if (cchWide <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(cchWide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, cbUtf8, wide.data(), cchWide);
    return AnsiFromWide(wide);
}

std::wstring DirectoryForEngine(const AnsiText& directory)
{
    std::wstring program = ProgramDirectoryWithSlash();
    for (const wchar_t* name : {LocalStorageDirName, CookieDirName}) {
        if (!program.empty() && directory == AnsiFromWide(program + name))
            return program + name;
    }
    return WideFromAnsi(directory);
}

std::wstring ProgramDirectoryWithSlash()
{
    std::wstring directory = ExecutableDirectory();
    return directory.empty() ? directory : directory + L"\\";
}

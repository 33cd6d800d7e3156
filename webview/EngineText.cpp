#include "webview/EngineText.h"

#include <cstring>
#include <initializer_list>

#include "webview/ProgramFiles.h"
#include "text/Utf8Conversion.h"
#include "text/WideText.h"
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
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8);
    return Utf8ToAnsi(ByteBuffer(bytes, bytes + std::strlen(utf8)));
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

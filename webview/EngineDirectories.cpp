#include "webview/EngineDirectories.h"

#include <initializer_list>

#include "text/WideText.h"
#include "webview/ProgramFiles.h"

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

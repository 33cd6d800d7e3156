#include "webview/EngineApi.h"
#include "webview/EngineDirectories.h"

#include <shlwapi.h>

#include <string>

#include "text/WideText.h"
#include "webview/EngineText.h"

namespace {

EngineApi& MutableEngine()
{
    static EngineApi api;
    return api;
}

template <typename Function>
Function ProcAddress(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

struct EngineSlot {
    const char* name;
    void** slot;
};

// Every entry point the control calls, in binding order.
// clang-format off
#define ENGINE_SLOT(name) EngineSlot{#name, reinterpret_cast<void**>(&api.name)}

void BindEntryPoints(HMODULE module, EngineApi& api)
{
    const EngineSlot slots[] = {
        ENGINE_SLOT(wkeInitializeEx), ENGINE_SLOT(wkeIsInitialize), ENGINE_SLOT(wkeCreateWebWindow),
        ENGINE_SLOT(wkeGetWindowHandle), ENGINE_SLOT(wkeShowWindow), ENGINE_SLOT(wkeResize),
        ENGINE_SLOT(wkeLoadURL), ENGINE_SLOT(wkeGetSource), ENGINE_SLOT(wkeGetStringW),
        ENGINE_SLOT(wkeOnLoadingFinish), ENGINE_SLOT(wkeOnPaintUpdated), ENGINE_SLOT(wkeSetTransparent),
        ENGINE_SLOT(wkeSetCspCheckEnable), ENGINE_SLOT(wkeSetNpapiPluginsEnabled),
        ENGINE_SLOT(wkeSetNavigationToNewWindowEnable), ENGINE_SLOT(wkeSetUserAgent),
        ENGINE_SLOT(wkeSetLocalStorageFullPath), ENGINE_SLOT(wkeSetCookieJarPath), ENGINE_SLOT(wkeReload),
        ENGINE_SLOT(wkeLoadHTML), ENGINE_SLOT(wkeGetTitle), ENGINE_SLOT(wkeSetWindowTitleW),
        ENGINE_SLOT(wkeOnTitleChanged), ENGINE_SLOT(wkeOnMouseOverUrlChanged), ENGINE_SLOT(wkeOnURLChanged2),
        ENGINE_SLOT(wkeOnAlertBox), ENGINE_SLOT(wkeOnConfirmBox), ENGINE_SLOT(wkeOnPromptBox),
        ENGINE_SLOT(wkeOnNavigation), ENGINE_SLOT(wkeOnCreateView), ENGINE_SLOT(wkeOnDocumentReady2),
        ENGINE_SLOT(wkeOnDownload), ENGINE_SLOT(wkeOnConsole), ENGINE_SLOT(wkeOnLoadUrlBegin),
        ENGINE_SLOT(wkeOnLoadUrlEnd), ENGINE_SLOT(wkeOnWindowClosing), ENGINE_SLOT(wkeOnWindowDestroy),
    };
    // clang-format on
    static_assert(sizeof(slots) / sizeof(slots[0]) * sizeof(void*) == sizeof(EngineApi),
                  "every slot of EngineApi is in the table");

    for (const EngineSlot& entry : slots) {
        void* proc = ProcAddress<void*>(module, entry.name);
        *entry.slot = proc;
        if (proc)
            continue;
        // The W form, as every box: the text reads right whatever the
        // system's ANSI code page is. The entry's name is ASCII.
        const std::string name(entry.name);
        const std::wstring text =
            L"\"" + std::wstring(name.begin(), name.end()) + L"\"" + L"命令未找到,请使用发布时配套或更高版本的node.dll";
        MessageBoxW(nullptr, text.c_str(), L"请使用配套的node.dll", MB_OK);
    }
}

#undef ENGINE_SLOT

void ShowStartupError(const std::wstring& text)
{
    MessageBoxW(nullptr, text.c_str(), L"错误", MB_OK);
}

using PathFileExistsProc = BOOL(WINAPI*)(LPCWSTR);

// Shlwapi is loaded on first use and kept for the rest of the process.
PathFileExistsProc PathFileExistsFunction()
{
    static HMODULE shlwapi = nullptr;
    static PathFileExistsProc pathFileExists = nullptr;
    if (pathFileExists)
        return pathFileExists;
    if (!shlwapi)
        shlwapi = LoadLibraryW(L"Shlwapi.dll");
    if (!shlwapi) {
        ShowStartupError(L"获取Shlwapi.dll句柄失败");
        return nullptr;
    }
    pathFileExists = ProcAddress<PathFileExistsProc>(shlwapi, "PathFileExistsW");
    if (!pathFileExists)
        ShowStartupError(L"PathFileExistsW函数获取失败");
    return pathFileExists;
}

// The engine file beside the executable, or empty when it is not there (the
// user has then been told where to put it).
std::wstring FindEnginePath(bool& lookupFailed)
{
    lookupFailed = false;
    PathFileExistsProc pathFileExists = PathFileExistsFunction();
    if (!pathFileExists) {
        lookupFailed = true;
        return {};
    }
    // Without a program directory the bare name would be tested against the
    // working directory; such a path counts as not found.
    std::wstring directory = ProgramDirectoryWithSlash();
    std::wstring path = directory + L"node.dll";
    if (!directory.empty() && pathFileExists(path.c_str()))
        return path;
    ShowStartupError(L"请把node.dll放在[" + path + L"]位置");
    return {};
}

// The bare name is searched for in the system's safe places only, never in
// the current directory: a node.dll planted in whatever folder the program
// was started from must not be run.
HMODULE LoadEngineByName()
{
    return LoadLibraryExW(L"node.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

} // namespace

const EngineApi& Engine()
{
    return MutableEngine();
}

bool EngineStartup()
{
    EngineApi& api = MutableEngine();
    if (api.wkeIsInitialize && api.wkeIsInitialize())
        return true;

    // The whole search, with its messages, runs once per process: a second
    // view neither loads nor binds again, nor repeats the boxes.
    static bool attempted = false;
    static HMODULE engine = nullptr;
    if (attempted)
        return engine != nullptr;
    attempted = true;

    bool lookupFailed = false;
    std::wstring path = FindEnginePath(lookupFailed);
    if (lookupFailed)
        return false;
    engine = path.empty() ? LoadEngineByName() : LoadLibraryW(path.c_str());
    if (!engine)
        return false;

    wkeSettings settings{};
    settings.mask = 4;
    if (auto initialize = ProcAddress<decltype(&::wkeInitializeEx)>(engine, "wkeInitializeEx"))
        initialize(&settings);

    BindEntryPoints(engine, api);
    return true;
}

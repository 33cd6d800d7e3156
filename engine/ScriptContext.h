#pragma once
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Charset.h"
#include "DispatchObject.h"
#include "PageHost.h"
#include "ScriptEngine.h"
#include "ScriptThread.h"
#include "owners/ComOwners.h"

// Shared by the page's script objects (PageScripts.cpp: window, console,
// location, timers; PageDocument.cpp: document, its elements, navigator and
// the load handlers).

constexpr size_t MaxTimers = 1000;
// What a page may add with document.write: a loop of writes must not eat the memory.
constexpr size_t MaxWrittenBytes = 4u * 1024 * 1024;

// The script thread's side of a document: the engine, its host objects and
// the page's timers. Touched on the script thread only, inside jobs.
struct ScriptContext {
    struct Timer {
        ComPtr<IDispatch> function;
        std::wstring code;
        unsigned delayMs = 0;
        bool repeat = false;
    };

    ScriptThread* thread = nullptr;
    PageHost* host = nullptr;
    std::unique_ptr<ScriptEngine> engine;
    ComPtr<DispatchObject> window, document, console, location, navigator;
    // Element lookups run here, not on the view's thread, so that their time
    // counts against the script's budget.
    std::string source;
    std::map<std::wstring, ComPtr<DispatchObject>> elements; // by id: the same object every time
    std::set<std::wstring> missingIds;
    ComPtr<DispatchObject> body;
    std::vector<ComPtr<IDispatch>> readyListeners, loadListeners;
    std::string* writes = nullptr; // where document.write goes while the page loads
    size_t written = 0;
    unsigned line = 0; // of the block running, for console messages
    std::map<unsigned, Timer> timers;
    unsigned nextTimer = 1;

    template <typename Work>
    bool OnView(Work&& work)
    {
        return thread->OnViewThread(std::function<void()>(std::forward<Work>(work)));
    }

    void Write(const std::wstring& text)
    {
        if (!writes || written >= MaxWrittenBytes)
            return;
        const std::string utf8 = WideToUtf8(text.substr(0, MaxWrittenBytes - written));
        written += utf8.size();
        *writes += utf8;
    }
    bool Build();
    void AddWindowMembers();
    void AddDocumentMembers();
    void AddConsoleMembers();
    void AddLocationMembers();
    void AddNavigatorMembers();
    HRESULT AddListener(ScriptCall& call);
    HRESULT ElementById(ScriptCall& call);
    void FireLoad(const std::wstring& bodyOnload);
    void Release();
    HRESULT StartTimer(ScriptCall& call, bool repeat);
    HRESULT StopTimer(ScriptCall& call);
    void Fire(unsigned id);
};

// The arguments as one text, separated by spaces (console.log, document.write).
std::wstring JoinArguments(const ScriptCall& call);

#pragma once
#include <windows.h>

#include <string>

#include "engine/include/wke.h"

// The stand-in engine's test exports, found in the loaded node.dll.

template <typename Function>
Function FakeExport(const char* name)
{
    HMODULE engine = GetModuleHandleW(L"node.dll");
    return engine ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(engine, name))) : nullptr;
}

// Every call the control made, one line each.
inline std::string Calls()
{
    auto calls = FakeExport<const char* (*)()>("fakeEngineCalls");
    return calls ? calls() : "";
}

inline wkeWebView LastView()
{
    auto count = FakeExport<int (*)()>("fakeEngineViewCount");
    auto view = FakeExport<wkeWebView (*)(int)>("fakeEngineView");
    return count && view ? view(count() - 1) : nullptr;
}

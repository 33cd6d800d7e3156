// Prints how the memory of this process grows per call of the platform's
// script control: Eval of an expression against AddCode of a statement, each
// on a fresh engine that is released again. Under Wine, Eval keeps about
// 1.5 KB per call for good, which the lookup soak sees as steady growth.
#include <windows.h>
#include <ole2.h>
#include <psapi.h>

#include <cstdio>
#include <functional>

namespace {

constexpr int Runs = 1000;

double PagefileKb()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<double>(counters.PagefileUsage) / 1024.0;
}

HRESULT Call(IDispatch* object, const wchar_t* name, WORD flags, const wchar_t* argument)
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
        return E_FAIL;
    VARIANT arg;
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocString(argument);
    DISPID put = DISPID_PROPERTYPUT;
    const bool isPut = flags == DISPATCH_PROPERTYPUT;
    DISPPARAMS params{&arg, isPut ? &put : nullptr, 1, isPut ? 1u : 0u};
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr =
        object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, isPut ? nullptr : &result, nullptr, nullptr);
    VariantClear(&arg);
    VariantClear(&result);
    return hr;
}

// One engine: language set, a variable defined, then `calls` calls of `method`.
void RunEngine(const wchar_t* method, const wchar_t* argument, int calls)
{
    CLSID clsid{};
    IDispatch* engine = nullptr;
    if (FAILED(CLSIDFromProgID(L"MSScriptControl.ScriptControl", &clsid)) ||
        FAILED(
            CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&engine))))
        return;
    Call(engine, L"Language", DISPATCH_PROPERTYPUT, L"JavaScript");
    Call(engine, L"AddCode", DISPATCH_METHOD, L"var da={a:'b'}");
    for (int i = 0; i < calls; ++i)
        Call(engine, method, DISPATCH_METHOD, argument);
    engine->Release();
}

void Measure(const char* name, const std::function<void()>& run)
{
    for (int i = 0; i < 100; ++i)
        run();
    const double before = PagefileKb();
    for (int i = 0; i < Runs; ++i)
        run();
    std::printf("%-40s %+8.2f KB per run (%d runs)\n", name, (PagefileKb() - before) / Runs, Runs);
}

} // namespace

int main()
{
    CoInitialize(nullptr);
    Measure("engine, no calls", [] { RunEngine(L"Eval", L"da.a", 0); });
    Measure("engine, 10 x AddCode(\"da.a='c'\")", [] { RunEngine(L"AddCode", L"da.a='c'", 10); });
    Measure("engine, 10 x Eval(\"da.a\")", [] { RunEngine(L"Eval", L"da.a", 10); });
    CoUninitialize();
    return 0;
}

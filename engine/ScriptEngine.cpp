#include <initguid.h>

#include "ScriptEngine.h"

#include "DispatchObject.h"

#include <activscp.h>
#include <objsafe.h>
#include <urlmon.h>

#include <atomic>
#include <map>

namespace {

// JScript leaves the description empty for many of its errors under Wine;
// the common ones get a text of ours.
std::wstring ErrorText(HRESULT code)
{
    switch (static_cast<unsigned long>(code)) {
    case 0x800A01ADul: return L"Automation server can't create object";
    case 0x800A01B6ul: return L"Object doesn't support this property or method";
    case 0x800A138Ful: return L"Object expected";
    case 0x800A1391ul: return L"Undefined identifier";
    case 0x800A139Eul: return L"Exception thrown and not caught";
    case 0x800A03ECul: return L"Expected ';'";
    case 0x80004001ul: return L"Not implemented";
    default: break;
    }
    wchar_t text[64];
    const unsigned number = static_cast<unsigned>(code) & 0xFFFF;
    if ((static_cast<unsigned>(code) & 0xFFFF0000u) == 0x800A0000u && number >= 1000 && number < 2000)
        wsprintfW(text, L"Syntax error (%u)", number);
    else
        wsprintfW(text, L"Script error 0x%08X", static_cast<unsigned>(code));
    return text;
}

// Answers every ActiveX question of the engine with "no".
class RefusingSecurityManager final : public IInternetHostSecurityManager {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IInternetHostSecurityManager) {
            *out = static_cast<IInternetHostSecurityManager*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return references_.Add(); }
    STDMETHODIMP_(ULONG) Release() override { return references_.Release(this); }
    STDMETHODIMP GetSecurityId(BYTE*, DWORD*, DWORD_PTR) override { return E_NOTIMPL; }
    STDMETHODIMP ProcessUrlAction(DWORD, BYTE* policy, DWORD cbPolicy, BYTE*, DWORD, DWORD, DWORD) override
    {
        if (policy && cbPolicy >= sizeof(DWORD))
            *reinterpret_cast<DWORD*>(policy) = URLPOLICY_DISALLOW;
        return S_FALSE;
    }
    STDMETHODIMP QueryCustomPolicy(REFGUID, BYTE** policy, DWORD* cbPolicy, BYTE*, DWORD, DWORD) override
    {
        if (policy)
            *policy = nullptr;
        if (cbPolicy)
            *cbPolicy = 0;
        return E_ACCESSDENIED;
    }

private:
    ReferenceCount references_;
};

} // namespace

// The engine's view of its host: named objects, errors, and the security
// manager it asks before making any object. No IActiveScriptSiteWindow: the
// engine gets no window to show anything in.
class ScriptSite final : public IActiveScriptSite, public IServiceProvider {
public:
    explicit ScriptSite(ScriptEngine::ErrorSink onError) : onError_(std::move(onError)) {}

    void AddItem(const wchar_t* name, IDispatch* object)
    {
        object->AddRef();
        items_[name] = object;
    }
    void DropItems()
    {
        for (auto& [name, object] : items_)
            object->Release();
        items_.clear();
        onError_ = nullptr;
    }
    bool HadError() const { return hadError_; }
    void Report(const std::wstring& message, unsigned line)
    {
        hadError_ = true;
        if (onError_)
            onError_(message, line);
    }
    void ClearError() { hadError_ = false; }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IActiveScriptSite)
            *out = static_cast<IActiveScriptSite*>(this);
        else if (iid == IID_IServiceProvider)
            *out = static_cast<IServiceProvider*>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return references_.Add(); }
    STDMETHODIMP_(ULONG) Release() override { return references_.Release(this); }

    STDMETHODIMP QueryService(REFGUID service, REFIID iid, void** out) override
    {
        *out = nullptr;
        if (service != SID_SInternetHostSecurityManager)
            return E_NOINTERFACE;
        auto* manager = new RefusingSecurityManager;
        const HRESULT hr = manager->QueryInterface(iid, out);
        manager->Release();
        return hr;
    }

    STDMETHODIMP GetLCID(LCID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** unknown, ITypeInfo** typeInfo) override
    {
        if (typeInfo)
            *typeInfo = nullptr;
        if (unknown)
            *unknown = nullptr;
        const auto found = items_.find(name ? name : L"");
        if (found == items_.end())
            return TYPE_E_ELEMENTNOTFOUND;
        if ((mask & SCRIPTINFO_IUNKNOWN) && unknown) {
            found->second->AddRef();
            *unknown = found->second;
        }
        return S_OK;
    }
    STDMETHODIMP GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    STDMETHODIMP OnScriptError(IActiveScriptError* error) override
    {
        EXCEPINFO info{};
        if (FAILED(error->GetExceptionInfo(&info)))
            return S_OK;
        if (info.pfnDeferredFillIn)
            info.pfnDeferredFillIn(&info);
        DWORD context = 0;
        ULONG line = 0;
        LONG column = 0;
        error->GetSourcePosition(&context, &line, &column);
        std::wstring message = info.bstrDescription && *info.bstrDescription
                                   ? info.bstrDescription
                                   : ErrorText(info.scode ? info.scode : info.wCode);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        Report(message, static_cast<unsigned>(line));
        return S_OK;
    }
    STDMETHODIMP OnEnterScript() override { return S_OK; }
    STDMETHODIMP OnLeaveScript() override { return S_OK; }

private:
    friend class ReferenceCount;
    ~ScriptSite() { DropItems(); }

    ReferenceCount references_;
    ScriptEngine::ErrorSink onError_;
    std::map<std::wstring, IDispatch*> items_;
    bool hadError_ = false;
};

std::unique_ptr<ScriptEngine> ScriptEngine::Create(ErrorSink onError)
{
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"JScript", &clsid)))
        return nullptr;
    std::unique_ptr<ScriptEngine> engine(new ScriptEngine);
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript,
                                reinterpret_cast<void**>(engine->script_.Put()))))
        return nullptr;
    // Without the safe mode the engine would create any object a page names.
    ComPtr<IObjectSafety> safety;
    if (FAILED(engine->script_->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(safety.Put()))))
        return nullptr;
    const DWORD options = INTERFACESAFE_FOR_UNTRUSTED_DATA | INTERFACE_USES_SECURITY_MANAGER;
    if (FAILED(safety->SetInterfaceSafetyOptions(IID_IActiveScriptParse, options, options)))
        return nullptr;
    if (FAILED(engine->script_->QueryInterface(IID_IActiveScriptParse, reinterpret_cast<void**>(engine->parse_.Put()))))
        return nullptr;
    engine->site_ = ComPtr<ScriptSite>(new ScriptSite(std::move(onError)));
    if (FAILED(engine->script_->SetScriptSite(engine->site_.Get())) || FAILED(engine->parse_->InitNew()) ||
        FAILED(engine->script_->SetScriptState(SCRIPTSTATE_STARTED)))
        return nullptr;
    return engine;
}

ScriptEngine::~ScriptEngine()
{
    if (script_)
        script_->Close();
    if (site_)
        site_->DropItems();
}

bool ScriptEngine::AddGlobalObject(const wchar_t* name, IDispatch* object)
{
    site_->AddItem(name, object);
    return SUCCEEDED(script_->AddNamedItem(name, SCRIPTITEM_ISVISIBLE | SCRIPTITEM_GLOBALMEMBERS));
}

bool ScriptEngine::Run(std::wstring_view code, unsigned firstLine, bool inBlock)
{
    const std::wstring text(code);
    EXCEPINFO info{};
    site_->ClearError();
    // Told the code ends at "</script>", the engine reads it as HTML would:
    // "<!--" and "-->" lines are comments there.
    const wchar_t* delimiter = inBlock ? L"</script>" : nullptr;
    const HRESULT hr = parse_->ParseScriptText(text.c_str(), nullptr, nullptr, delimiter, 0, firstLine,
                                               SCRIPTTEXT_ISVISIBLE, nullptr, &info);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return SUCCEEDED(hr) && !site_->HadError();
}

ComPtr<IDispatchEx> ScriptEngine::GlobalObject()
{
    ComPtr<IDispatch> global;
    if (FAILED(script_->GetScriptDispatch(nullptr, global.Put())) || !global)
        return {};
    ComPtr<IDispatchEx> globalEx;
    if (FAILED(global->QueryInterface(IID_IDispatchEx, reinterpret_cast<void**>(globalEx.Put()))))
        return {};
    return globalEx;
}

ComPtr<IDispatch> ScriptEngine::GlobalFunction(const wchar_t* name)
{
    ComPtr<IDispatchEx> global = GlobalObject();
    if (!global)
        return {};
    const Bstr memberName(name);
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(global->GetDispID(memberName.Get(), fdexNameCaseSensitive, &id)))
        return {};
    DISPPARAMS none{};
    Variant value;
    if (FAILED(global->InvokeEx(id, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value.Put(), nullptr, nullptr)) ||
        value.Get()->vt != VT_DISPATCH || !value.Get()->pdispVal)
        return {};
    value.Get()->pdispVal->AddRef();
    return ComPtr<IDispatch>(value.Get()->pdispVal);
}

bool ScriptEngine::Call(IDispatch* function)
{
    const IID NoInterface{};
    DISPPARAMS none{};
    EXCEPINFO info{};
    Variant result;
    site_->ClearError();
    const HRESULT hr = function->Invoke(DISPID_VALUE, NoInterface, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                                        result.Put(), &info, nullptr);
    if (FAILED(hr) && !site_->HadError()) {
        if (info.pfnDeferredFillIn)
            info.pfnDeferredFillIn(&info);
        site_->Report(info.bstrDescription && *info.bstrDescription ? info.bstrDescription
                                                                    : ErrorText(info.scode ? info.scode : hr),
                      0);
    }
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return SUCCEEDED(hr);
}

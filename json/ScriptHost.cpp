#include "json/ScriptHost.h"

#include <oaidl.h>
#include <ole2.h>

#include <initializer_list>
#include <utility>

#include "text/WideText.h"

namespace {

// In-process, handler, local and remote servers; without the remote bit when
// the system refuses that combination.
constexpr DWORD AnyServer = 0x17;
constexpr DWORD LocalServers = 0x7;

// A member found by name: its id and the invoke kind it was bound with.
struct BoundMember {
    bool found = false;
    MEMBERID id = DISPID_UNKNOWN;
    INVOKEKIND kind = INVOKE_FUNC;
};

// Frees what ITypeComp::Bind hands out, whatever kind of description it is.
BoundMember TakeBinding(DESCKIND descKind, BINDPTR& bindPtr, ITypeInfo* boundInfo, INVOKEKIND tried)
{
    BoundMember member;
    ComPtr<ITypeInfo> info(boundInfo);
    switch (descKind) {
    case DESCKIND_FUNCDESC:
        member = {true, bindPtr.lpfuncdesc->memid, bindPtr.lpfuncdesc->invkind};
        if (info)
            info->ReleaseFuncDesc(bindPtr.lpfuncdesc);
        break;
    case DESCKIND_VARDESC:
    case DESCKIND_IMPLICITAPPOBJ:
        member = {true, bindPtr.lpvardesc->memid, tried};
        if (info)
            info->ReleaseVarDesc(bindPtr.lpvardesc);
        break;
    case DESCKIND_TYPECOMP:
        if (bindPtr.lptcomp)
            bindPtr.lptcomp->Release();
        break;
    default: break;
    }
    return member;
}

struct Dispatch {
    ComPtr<IDispatch> dispatch;
    BoundMember member;
};

// Finds the member through the object's type information, trying the invoke
// kinds in the given order until one binds.
Dispatch BindMember(IUnknown* object, const AnsiText& name, std::initializer_list<INVOKEKIND> kinds)
{
    Dispatch result;
    if (!object)
        return result;
    ComPtr<IDispatch> dispatch;
    if (FAILED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.Put()))) || !dispatch)
        return result;
    LCID lcid = GetUserDefaultLCID();
    ComPtr<ITypeInfo> typeInfo;
    if (FAILED(dispatch->GetTypeInfo(0, lcid, typeInfo.Put())) || !typeInfo)
        return result;
    ComPtr<ITypeComp> typeComp;
    if (FAILED(typeInfo->GetTypeComp(typeComp.Put())) || !typeComp)
        return result;

    std::wstring wideName = WideFromAnsi(name);
    if (wideName.empty())
        return result;
    ULONG hash = LHashValOfNameSys(SYS_WIN32, lcid, wideName.c_str());
    for (INVOKEKIND kind : kinds) {
        ITypeInfo* boundInfo = nullptr;
        DESCKIND descKind = DESCKIND_NONE;
        BINDPTR bindPtr{};
        HRESULT hr = typeComp->Bind(wideName.data(), hash, static_cast<WORD>(kind), &boundInfo, &descKind, &bindPtr);
        if (FAILED(hr)) {
            if (boundInfo)
                boundInfo->Release();
            continue;
        }
        BoundMember member = TakeBinding(descKind, bindPtr, boundInfo, kind);
        if (member.found) {
            result.dispatch = std::move(dispatch);
            result.member = member;
            return result;
        }
    }
    return result;
}

// Invokes the bound member with one argument; a property write passes it as
// the named DISPID_PROPERTYPUT argument.
bool InvokeWith(Dispatch& target, VARIANT& argument, VARIANT* result)
{
    bool isPut = target.member.kind == INVOKE_PROPERTYPUT || target.member.kind == INVOKE_PROPERTYPUTREF;
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{};
    params.rgvarg = &argument;
    params.cArgs = 1;
    if (isPut) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    UINT argError = 0;
    HRESULT hr =
        target.dispatch->Invoke(target.member.id, IID_NULL, GetUserDefaultLCID(), static_cast<WORD>(target.member.kind),
                                &params, isPut ? nullptr : result, nullptr, &argError);
    return SUCCEEDED(hr);
}

// The automation conversion of a result: references resolved, then changed
// to the requested type without flags.
bool ConvertTo(const Variant& from, VARTYPE type, Variant& to)
{
    Variant direct;
    if (FAILED(VariantCopyInd(direct.Put(), const_cast<VARIANT*>(from.Get()))))
        return false;
    return SUCCEEDED(VariantChangeType(to.Put(), direct.Get(), 0, type));
}

} // namespace

bool ScriptHost::CreateObject(const AnsiText& progId)
{
    std::wstring wideId = WideFromAnsi(progId);
    if (wideId.empty())
        return false;
    CLSID clsid{};
    HRESULT hr = wideId[0] == L'{' ? CLSIDFromString(wideId.c_str(), &clsid) : CLSIDFromProgID(wideId.c_str(), &clsid);
    if (FAILED(hr))
        return false;
    ComPtr<IUnknown> created;
    hr = CoCreateInstance(clsid, nullptr, AnyServer, IID_IUnknown, reinterpret_cast<void**>(created.Put()));
    if (hr == E_INVALIDARG)
        hr = CoCreateInstance(clsid, nullptr, LocalServers, IID_IUnknown, reinterpret_cast<void**>(created.Put()));
    if (FAILED(hr) || !created)
        return false;
    if (FAILED(OleRun(created.Get())))
        return false;
    object_ = std::move(created);
    return true;
}

bool ScriptHost::Write(const AnsiText& name, VARIANT& value)
{
    if (!object_)
        return false;
    Dispatch target = BindMember(object_.Get(), name, {INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF, INVOKE_FUNC});
    if (!target.member.found)
        return false;
    Variant ignored;
    return InvokeWith(target, value, ignored.Put());
}

bool ScriptHost::WriteProperty(const AnsiText& name, const AnsiText& value)
{
    Variant argument;
    argument.Put()->vt = VT_BSTR;
    argument.Get()->bstrVal = Bstr(WideFromAnsi(value)).Detach();
    return Write(name, *argument.Get());
}

// Numbers and booleans hold nothing to free.
bool ScriptHost::WriteProperty(const AnsiText& name, bool value)
{
    VARIANT argument{};
    argument.vt = VT_BOOL;
    argument.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return Write(name, argument);
}

bool ScriptHost::WriteProperty(const AnsiText& name, long value)
{
    VARIANT argument{};
    argument.vt = VT_I4;
    argument.lVal = value;
    return Write(name, argument);
}

ScriptResult ScriptHost::CallMethod(const AnsiText& name, const AnsiText& argument, ResultKind kind)
{
    return CallMethod(name, std::wstring_view(WideFromAnsi(argument)), kind);
}

ScriptResult ScriptHost::CallMethod(const AnsiText& name, std::wstring_view argument, ResultKind kind)
{
    ScriptResult result;
    Dispatch target =
        BindMember(object_.Get(), name, {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF});
    if (!target.member.found)
        return result;
    Variant arg;
    Bstr text(argument);
    if (!text.Get() && !argument.empty())
        return result;
    arg.Put()->vt = VT_BSTR;
    arg.Get()->bstrVal = text.Detach();
    Variant returned;
    if (!InvokeWith(target, *arg.Get(), returned.Put()))
        return result;

    Variant converted;
    switch (kind) {
    case ResultKind::None: result.ok = true; break;
    case ResultKind::Variant:
        result.ok = true;
        result.variant = std::move(returned);
        break;
    case ResultKind::Text:
        if (ConvertTo(returned, VT_BSTR, converted)) {
            BSTR str = converted.Get()->bstrVal;
            result.text = AnsiFromWide(std::wstring_view(str, str ? SysStringLen(str) : 0));
            result.ok = true;
        }
        break;
    case ResultKind::Number:
        if (ConvertTo(returned, VT_R8, converted)) {
            result.number = converted.Get()->dblVal;
            result.ok = true;
        }
        break;
    case ResultKind::Boolean:
        if (ConvertTo(returned, VT_BOOL, converted)) {
            result.boolean = converted.Get()->boolVal != VARIANT_FALSE;
            result.ok = true;
        }
        break;
    }
    return result;
}

#include "DispatchObject.h"

#include <algorithm>
#include <cmath>

#include "owners/ComOwners.h"

bool ScriptCall::Has(size_t index) const
{
    return index < args.size() && args[index]->vt != VT_EMPTY;
}

std::wstring ScriptCall::Text(size_t index) const
{
    if (index >= args.size())
        return L"";
    const VARIANT* value = args[index];
    if (value->vt == (VT_BYREF | VT_VARIANT))
        value = value->pvarVal;
    switch (value->vt) {
    case VT_EMPTY: return L"undefined";
    case VT_NULL: return L"null";
    case VT_BOOL: return value->boolVal ? L"true" : L"false";
    case VT_BSTR: return value->bstrVal ? std::wstring(value->bstrVal, SysStringLen(value->bstrVal)) : L"";
    default: break;
    }
    Variant text;
    if (FAILED(VariantChangeTypeEx(text.Get(), const_cast<VARIANT*>(value), LOCALE_INVARIANT, 0, VT_BSTR)) ||
        !text.Get()->bstrVal)
        return L"";
    return std::wstring(text.Get()->bstrVal, SysStringLen(text.Get()->bstrVal));
}

double ScriptCall::Number(size_t index, double fallback) const
{
    if (!Has(index))
        return fallback;
    Variant number;
    if (FAILED(VariantChangeTypeEx(number.Get(), args[index], LOCALE_INVARIANT, 0, VT_R8)) ||
        std::isnan(number.Get()->dblVal))
        return fallback;
    return number.Get()->dblVal;
}

void ScriptCall::ReturnText(const std::wstring& text) const
{
    if (!result)
        return;
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

void ScriptCall::ReturnBool(bool value) const
{
    if (!result)
        return;
    result->vt = VT_BOOL;
    result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void ScriptCall::ReturnNumber(double value) const
{
    if (!result)
        return;
    result->vt = VT_R8;
    result->dblVal = value;
}

void ScriptCall::ReturnNull() const
{
    if (result)
        result->vt = VT_NULL;
}

void ScriptCall::ReturnObject(IDispatch* object) const
{
    if (!result || !object)
        return;
    object->AddRef();
    result->vt = VT_DISPATCH;
    result->pdispVal = object;
}

STDMETHODIMP DispatchObject::QueryInterface(REFIID iid, void** out)
{
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IDispatchEx) {
        *out = static_cast<IDispatchEx*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

void DispatchObject::ForwardOtherNames(IDispatchEx* other)
{
    if (other)
        other->AddRef();
    other_ = ComPtr<IDispatchEx>(other);
    forwardedIds_.clear();
    otherIds_.clear();
}

void DispatchObject::StopForwarding()
{
    other_.Reset();
    forwardedIds_.clear();
    otherIds_.clear();
}

STDMETHODIMP DispatchObject::GetTypeInfoCount(UINT* count)
{
    *count = 0;
    return S_OK;
}

STDMETHODIMP DispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP DispatchObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (count == 0)
        return S_OK;
    for (UINT i = 0; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    if (!names[0])
        return DISP_E_UNKNOWNNAME;
    const Bstr name(names[0]);
    const HRESULT hr = GetDispID(name.Get(), fdexNameCaseSensitive, ids);
    if (FAILED(hr))
        return hr;
    return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

STDMETHODIMP DispatchObject::GetDispID(BSTR name, DWORD options, DISPID* id)
{
    *id = DISPID_UNKNOWN;
    if (!name)
        return DISP_E_UNKNOWNNAME;
    const std::wstring_view wanted(name, SysStringLen(name));
    for (size_t i = 0; i < members_.size(); ++i) {
        if (members_[i].name == wanted) {
            *id = static_cast<DISPID>(i + 1);
            return S_OK;
        }
    }
    if (!other_)
        return DISP_E_UNKNOWNNAME;
    std::wstring key(wanted);
    if (const auto found = forwardedIds_.find(key); found != forwardedIds_.end()) {
        *id = found->second;
        return S_OK;
    }
    // An engine whose global object looks names up among its global members
    // again would ask us back: the inner question gets no.
    if (forwarding_)
        return DISP_E_UNKNOWNNAME;
    // fdexNameEnsure (an assignment) makes the name on the other object.
    DISPID otherId = DISPID_UNKNOWN;
    forwarding_ = true;
    const HRESULT hr = other_->GetDispID(name, (options & fdexNameEnsure) | fdexNameCaseSensitive, &otherId);
    forwarding_ = false;
    if (FAILED(hr) || otherId == DISPID_UNKNOWN)
        return DISP_E_UNKNOWNNAME;
    *id = ForwardedBase + static_cast<DISPID>(otherIds_.size());
    otherIds_.push_back(otherId);
    forwardedIds_.emplace(std::move(key), *id);
    return S_OK;
}

STDMETHODIMP DispatchObject::GetNameSpaceParent(IUnknown** parent)
{
    *parent = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP DispatchObject::Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                    EXCEPINFO* error, UINT*)
{
    return InvokeEx(id, lcid, flags, params, result, error, nullptr);
}

STDMETHODIMP DispatchObject::InvokeEx(DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                      EXCEPINFO* error, IServiceProvider* caller)
{
    if (id >= ForwardedBase) {
        const size_t index = static_cast<size_t>(id - ForwardedBase);
        if (!other_ || index >= otherIds_.size())
            return DISP_E_MEMBERNOTFOUND;
        DISPPARAMS none{};
        return other_->InvokeEx(otherIds_[index], lcid, flags, params ? params : &none, result, error, caller);
    }
    return CallMember(id, flags, params, result);
}

HRESULT DispatchObject::CallMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result)
{
    ScriptCall call;
    call.flags = flags;
    call.result = result;
    if (result)
        VariantInit(result);
    if (params) {
        // Named arguments: the value of a write (DISPID_PROPERTYPUT) comes
        // first; others (the caller's this) are not ours.
        const UINT named = std::min(params->cNamedArgs, params->cArgs);
        for (UINT i = 0; i < named; ++i) {
            if (params->rgdispidNamedArgs && params->rgdispidNamedArgs[i] == DISPID_PROPERTYPUT)
                call.args.push_back(&params->rgvarg[i]);
        }
        for (UINT i = params->cArgs; i > named; --i)
            call.args.push_back(&params->rgvarg[i - 1]);
    }
    if (id == DISPID_VALUE) {
        if (!value_)
            return DISP_E_MEMBERNOTFOUND;
        return value_(call);
    }
    if (id < 1 || static_cast<size_t>(id) > members_.size())
        return DISP_E_MEMBERNOTFOUND;
    const Member& member = members_[static_cast<size_t>(id) - 1];
    if (member.kind == Kind::Method && !(flags & DISPATCH_METHOD)) {
        if (call.IsPut())
            return DISP_E_MEMBERNOTFOUND;
        // Read as a value: an object that runs the method when called.
        auto* bound = new DispatchObject;
        bound->SetValue(member.handler);
        call.ReturnObject(bound);
        bound->Release();
        return S_OK;
    }
    return member.handler(call);
}

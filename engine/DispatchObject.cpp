#include "DispatchObject.h"

#include <cmath>

#include "json/ComOwners.h"

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
    if (FAILED(VariantChangeTypeEx(text.Get(), const_cast<VARIANT*>(value), LOCALE_INVARIANT, 0, VT_BSTR)) || !text.Get()->bstrVal)
        return L"";
    return std::wstring(text.Get()->bstrVal, SysStringLen(text.Get()->bstrVal));
}

double ScriptCall::Number(size_t index, double fallback) const
{
    if (!Has(index))
        return fallback;
    Variant number;
    if (FAILED(VariantChangeTypeEx(number.Get(), args[index], LOCALE_INVARIANT, 0, VT_R8)) || std::isnan(number.Get()->dblVal))
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
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
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
    for (size_t i = 0; i < members_.size(); ++i) {
        if (names[0] && members_[i].name == names[0]) {
            ids[0] = static_cast<DISPID>(i + 1);
            return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP DispatchObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*, UINT*)
{
    ScriptCall call;
    call.flags = flags;
    call.result = result;
    if (result)
        VariantInit(result);
    if (params) {
        for (UINT i = params->cArgs; i > 0; --i)
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

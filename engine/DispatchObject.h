#pragma once
#include <windows.h>
#include <oaidl.h>
#include <dispex.h>

#include <atomic>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "owners/ComOwners.h"

// One call of a host member from a page's script, arguments in the script's
// order. For a property write, argument 0 is the value written.
struct ScriptCall {
    WORD flags = 0;
    std::vector<VARIANT*> args;
    VARIANT* result = nullptr; // may be null

    bool IsPut() const { return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0; }
    bool Has(size_t index) const;
    // The argument as the script's String() would give it ("" when missing).
    std::wstring Text(size_t index) const;
    double Number(size_t index, double fallback) const;
    void ReturnText(const std::wstring& text) const;
    void ReturnBool(bool value) const;
    void ReturnNumber(double value) const;
    void ReturnNull() const;
    void ReturnObject(IDispatch* object) const;
};

using MemberHandler = std::function<HRESULT(ScriptCall&)>;

// The reference count of a COM object of ours, starting at one for its maker.
class ReferenceCount {
public:
    ULONG Add() { return ++count_; }
    // Drops one reference and deletes `owner` with the last; the count left.
    template <typename Owner>
    ULONG Release(Owner* owner)
    {
        const ULONG left = --count_;
        if (left == 0)
            delete owner;
        return left;
    }

private:
    std::atomic<ULONG> count_{1};
};

// A script-visible object written by us: IDispatchEx over a small member
// table, names compared case-sensitively as the language does. A method read
// as a value (if (window.alert) ...) gives a callable object. Used on the
// script thread only.
class DispatchObject : public IDispatchEx {
public:
    enum class Kind { Method, Property };
    DispatchObject() = default;

    void AddMethod(const wchar_t* name, MemberHandler handler)
    {
        members_.push_back({name, Kind::Method, std::move(handler)});
    }
    void AddProperty(const wchar_t* name, MemberHandler handler)
    {
        members_.push_back({name, Kind::Property, std::move(handler)});
    }
    // What calling or reading the object itself gives.
    void SetValue(MemberHandler handler) { value_ = std::move(handler); }
    // Names of no member are looked up, read, written and created on other
    // instead: window hands them to the script's global object, so that a
    // global variable is a property of window and the other way round.
    void ForwardOtherNames(IDispatchEx* other);
    // Breaks the reference to other before the script engine closes.
    void StopForwarding();

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return references_.Add(); }
    STDMETHODIMP_(ULONG) Release() override { return references_.Release(this); }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* error,
                        UINT*) override;
    STDMETHODIMP GetDispID(BSTR name, DWORD options, DISPID* id) override;
    STDMETHODIMP InvokeEx(DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* error,
                          IServiceProvider* caller) override;
    STDMETHODIMP DeleteMemberByName(BSTR, DWORD) override { return S_FALSE; }
    STDMETHODIMP DeleteMemberByDispID(DISPID) override { return S_FALSE; }
    STDMETHODIMP GetMemberProperties(DISPID, DWORD, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMemberName(DISPID, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP GetNextDispID(DWORD, DISPID, DISPID*) override { return S_FALSE; }
    STDMETHODIMP GetNameSpaceParent(IUnknown** parent) override;

private:
    friend class ReferenceCount;
    virtual ~DispatchObject() = default;

    struct Member {
        std::wstring name;
        Kind kind;
        MemberHandler handler;
    };
    // Ids of forwarded names start here; members have 1 to members_.size().
    static constexpr DISPID ForwardedBase = 0x10000;
    HRESULT CallMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result);

    ReferenceCount references_;
    std::vector<Member> members_;
    MemberHandler value_;
    ComPtr<IDispatchEx> other_;
    std::unordered_map<std::wstring, DISPID> forwardedIds_; // name to our id
    std::vector<DISPID> otherIds_;                          // our id - ForwardedBase to other's id
    bool forwarding_ = false;                               // inside other's GetDispID
};

#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string_view>
#include <utility>

// Owners for the COM resources of the script bridge: each releases what it
// holds exactly once, on every path. A ComPtr copy shares its object (one
// more reference); the others are move-only.

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T* adopted) : ptr_(adopted) {}
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            Reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }
    // A copy shares the object: one more reference.
    ComPtr(const ComPtr& other) : ptr_(other.ptr_)
    {
        if (ptr_)
            ptr_->AddRef();
    }
    ComPtr& operator=(const ComPtr& other)
    {
        if (other.ptr_)
            other.ptr_->AddRef();
        Reset();
        ptr_ = other.ptr_;
        return *this;
    }
    ~ComPtr() { Reset(); }

    T* Get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

    // For out-parameters: drops what is held first, so nothing leaks.
    T** Put()
    {
        Reset();
        return &ptr_;
    }
    void Reset()
    {
        if (ptr_)
            std::exchange(ptr_, nullptr)->Release();
    }

private:
    T* ptr_ = nullptr;
};

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::wstring_view text) : str_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    Bstr(Bstr&& other) noexcept : str_(std::exchange(other.str_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept
    {
        if (this != &other) {
            SysFreeString(str_);
            str_ = std::exchange(other.str_, nullptr);
        }
        return *this;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(str_); }

    BSTR Get() const { return str_; }
    // Ownership passes to the caller (into a VARIANT that will clear it).
    BSTR Detach() { return std::exchange(str_, nullptr); }

private:
    BSTR str_ = nullptr;
};

class Variant {
public:
    Variant() { VariantInit(&value_); }
    Variant(Variant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
    Variant& operator=(Variant&& other) noexcept
    {
        if (this != &other) {
            VariantClear(&value_);
            value_ = other.value_;
            VariantInit(&other.value_);
        }
        return *this;
    }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&value_); }

    VARIANT* Get() { return &value_; }
    const VARIANT* Get() const { return &value_; }
    // Clears what is held first, so it can be handed to an API as an out-parameter.
    VARIANT* Put()
    {
        VariantClear(&value_);
        return &value_;
    }

private:
    VARIANT value_;
};

#pragma once
#include <windows.h>
#include <wininet.h>

#include <utility>

// Move-only owners for the engine's handles: each is released exactly once,
// on every path.
template <typename T, typename Traits>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(T value) : value_(value) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(std::exchange(other.value_, T{})) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(std::exchange(other.value_, T{}));
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    T Get() const { return value_; }
    explicit operator bool() const { return value_ != T{}; }
    void Reset(T value = T{})
    {
        if (value_ != T{})
            Traits::Close(value_);
        value_ = value;
    }

private:
    T value_{};
};

struct InternetHandleTraits {
    static void Close(HINTERNET h) { InternetCloseHandle(h); }
};
struct GdiObjectTraits {
    static void Close(HGDIOBJ h) { DeleteObject(h); }
};
struct MemoryDcTraits {
    static void Close(HDC h) { DeleteDC(h); }
};
struct KernelHandleTraits {
    static void Close(HANDLE h) { CloseHandle(h); }
};

using InternetHandle = UniqueHandle<HINTERNET, InternetHandleTraits>;
using GdiObject = UniqueHandle<HGDIOBJ, GdiObjectTraits>;
using MemoryDc = UniqueHandle<HDC, MemoryDcTraits>;
using KernelHandle = UniqueHandle<HANDLE, KernelHandleTraits>;

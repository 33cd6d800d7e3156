#pragma once
#include <windows.h>
#include <wininet.h>

#include <utility>

// Move-only owner of one handle: Traits::Close releases it exactly once, on
// every path. T{} is the empty handle and is never closed.
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
    // Ownership passes to the caller.
    T Release() { return std::exchange(value_, T{}); }

private:
    T value_{};
};

// Traits for a handle that one platform function closes.
template <auto CloseFunction>
struct ClosedBy {
    template <typename T>
    static void Close(T h)
    {
        CloseFunction(h);
    }
};

struct ThreadTimerTraits {
    static void Close(UINT_PTR id) { KillTimer(nullptr, id); }
};

// A window's device context from GetDC, released to the window it came from.
struct WindowDcHandle {
    HWND window = nullptr;
    HDC dc = nullptr;
    bool operator==(const WindowDcHandle&) const = default;
};
struct WindowDcTraits {
    static void Close(WindowDcHandle h) { ReleaseDC(h.window, h.dc); }
};

using InternetHandle = UniqueHandle<HINTERNET, ClosedBy<InternetCloseHandle>>;
using GdiObject = UniqueHandle<HGDIOBJ, ClosedBy<DeleteObject>>;
using MemoryDc = UniqueHandle<HDC, ClosedBy<DeleteDC>>;
using KernelHandle = UniqueHandle<HANDLE, ClosedBy<CloseHandle>>;
using OwnedWindow = UniqueHandle<HWND, ClosedBy<DestroyWindow>>;
using WindowsHook = UniqueHandle<HHOOK, ClosedBy<UnhookWindowsHookEx>>;
using ThreadTimer = UniqueHandle<UINT_PTR, ThreadTimerTraits>; // a timer of the thread, SetTimer(nullptr, ...)
using WindowDc = UniqueHandle<WindowDcHandle, WindowDcTraits>;

// CreateFileW reports failure as INVALID_HANDLE_VALUE, not as nullptr.
inline KernelHandle OwnFile(HANDLE created)
{
    return KernelHandle(created == INVALID_HANDLE_VALUE ? nullptr : created);
}

inline WindowDc OwnWindowDc(HWND window)
{
    HDC dc = GetDC(window);
    return dc ? WindowDc({window, dc}) : WindowDc();
}

// A 32-bit top-down DIB section of the given size for `dc`, as the view
// paints it; empty when the system refused it.
inline GdiObject NewTopDownBitmap(HDC dc, int width, int height)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    return GdiObject(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
}

#include "webview/PaintBuffer.h"

#include "owners/UniqueHandle.h"

PaintBuffer::~PaintBuffer()
{
    DropBitmap();
    if (memoryDc_)
        DeleteDC(memoryDc_);
}

bool PaintBuffer::Create(int width, int height)
{
    if (!memoryDc_)
        memoryDc_ = CreateCompatibleDC(nullptr);
    width_ = width;
    height_ = height;
    return memoryDc_ != nullptr;
}

void PaintBuffer::Resize(int width, int height)
{
    if (width == width_ && height == height_)
        return;
    DropBitmap();
    width_ = width;
    height_ = height;
}

void PaintBuffer::DropBitmap()
{
    if (!bitmap_)
        return;
    SelectObject(memoryDc_, originalBitmap_);
    DeleteObject(bitmap_);
    bitmap_ = nullptr;
    originalBitmap_ = nullptr;
}

void PaintBuffer::Paint(HWND host, HDC engineDc, int x, int y, int cx, int cy)
{
    if (!memoryDc_ || !engineDc)
        return;
    if (!bitmap_) {
        // Only an update of the whole view can fill a fresh bitmap.
        if (cx != width_ || cy != height_ || width_ <= 0 || height_ <= 0)
            return;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width_;
        info.bmiHeader.biHeight = -height_; // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(memoryDc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!bitmap_)
            return;
        originalBitmap_ = SelectObject(memoryDc_, bitmap_);
    }
    BitBlt(memoryDc_, x, y, width_, height_, engineDc, x, y, SRCCOPY);
    const WindowDc hostDc = OwnWindowDc(host);
    if (hostDc)
        BitBlt(hostDc.Get().dc, x, y, width_, height_, memoryDc_, x, y, SRCCOPY);
}

#include "webview/PaintBuffer.h"

bool PaintBuffer::Create(int width, int height)
{
    if (!memoryDc_)
        memoryDc_.Reset(CreateCompatibleDC(nullptr));
    width_ = width;
    height_ = height;
    return static_cast<bool>(memoryDc_);
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
    SelectObject(memoryDc_.Get(), originalBitmap_);
    bitmap_.Reset();
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
        bitmap_ = NewTopDownBitmap(memoryDc_.Get(), width_, height_);
        if (!bitmap_)
            return;
        originalBitmap_ = SelectObject(memoryDc_.Get(), bitmap_.Get());
    }
    BitBlt(memoryDc_.Get(), x, y, width_, height_, engineDc, x, y, SRCCOPY);
    const WindowDc hostDc = OwnWindowDc(host);
    if (hostDc)
        BitBlt(hostDc.Get().dc, x, y, width_, height_, memoryDc_.Get(), x, y, SRCCOPY);
}

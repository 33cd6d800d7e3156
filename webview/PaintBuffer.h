#pragma once
#include <windows.h>

#include "owners/UniqueHandle.h"

// The view's off-screen copy: a memory context with one 32-bit top-down DIB
// section of the host's client size, made on the first paint that covers the
// whole view and reused for every later one.
class PaintBuffer {
public:
    // Puts the context's own bitmap back, so that both owners can delete theirs.
    ~PaintBuffer() { DropBitmap(); }

    // Makes the memory context and takes the size the bitmap will have.
    bool Create(int width, int height);
    // The view changed size: the next full paint makes a bitmap of the new size.
    void Resize(int width, int height);
    // Copies the engine's update into the buffer and on to the host window.
    void Paint(HWND host, HDC engineDc, int x, int y, int cx, int cy);

private:
    void DropBitmap();

    MemoryDc memoryDc_;
    GdiObject bitmap_;
    HGDIOBJ originalBitmap_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

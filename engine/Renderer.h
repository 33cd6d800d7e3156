#pragma once
#include <windows.h>

#include <vector>

#include "owners/UniqueHandle.h"
#include "HtmlText.h"

// Where a link's text was drawn, for hit tests.
struct LinkBox {
    RECT rect;
    int link; // index into PageText::links
};

// Draws a page's text with GDI into an off-screen 32-bit bitmap of the view's
// size: word-wrapped to the width, links blue and underlined. Layout stops
// below the bottom edge, so a huge page costs no more than a screenful.
class Renderer {
public:
    Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;
    ~Renderer();

    // Makes the bitmap match the view's size; false when GDI refused.
    bool Resize(int width, int height);
    void Render(const PageText& page);

    HDC Dc() const { return dc_.Get(); }
    int Width() const { return width_; }
    int Height() const { return height_; }
    const std::vector<LinkBox>& Links() const { return links_; }

private:
    struct Cursor;
    void DrawText(const TextItem& item, Cursor& cursor);
    void DrawPiece(std::wstring_view piece, const TextItem& item, Cursor& cursor);
    void NewLine(Cursor& cursor) const;
    HFONT FontFor(const TextItem& item) const;

    MemoryDc dc_;
    GdiObject bitmap_;
    HGDIOBJ originalBitmap_ = nullptr;
    HGDIOBJ originalFont_ = nullptr;
    GdiObject fonts_[4]; // plain, bold, link, bold link
    int lineHeight_ = 16;
    int width_ = 0;
    int height_ = 0;
    std::vector<LinkBox> links_;
};

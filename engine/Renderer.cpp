#include "Renderer.h"

#include <algorithm>

namespace {

constexpr int Margin = 8;
constexpr size_t MaxPieceChars = 256;
constexpr COLORREF Paper = RGB(255, 255, 255);
constexpr COLORREF Ink = RGB(0, 0, 0);
constexpr COLORREF LinkInk = RGB(0, 0, 238);

// Ideographs, kana, hangul and full-width forms may break between any two
// characters; other scripts break at spaces.
bool BreaksAnywhere(wchar_t c)
{
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFF00 && c <= 0xFFEF);
}

bool IsBreakSpace(wchar_t c)
{
    return c == L' ' || c == 0xA0 || c == 0x3000;
}

bool IsHighSurrogate(wchar_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

} // namespace

struct Renderer::Cursor {
    int x = Margin;
    int y = Margin;
    bool lineHasText = false;
    bool gapPending = false;
    bool anyText = false;
    bool done = false;
};

Renderer::Renderer() : dc_(CreateCompatibleDC(nullptr))
{
    LOGFONTW base{};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof base, &base);
    if (base.lfHeight == 0)
        base.lfHeight = -12;
    for (int i = 0; i < 4; ++i) {
        LOGFONTW font = base;
        font.lfWeight = (i & 1) ? FW_BOLD : FW_NORMAL;
        font.lfUnderline = (i & 2) ? TRUE : FALSE;
        fonts_[i].Reset(CreateFontIndirectW(&font));
    }
    if (dc_) {
        originalFont_ = SelectObject(dc_.Get(), fonts_[0] ? fonts_[0].Get() : GetStockObject(DEFAULT_GUI_FONT));
        TEXTMETRICW metrics{};
        if (GetTextMetricsW(dc_.Get(), &metrics))
            lineHeight_ = std::max<int>(metrics.tmHeight + metrics.tmExternalLeading + 2, 8);
        SetBkMode(dc_.Get(), TRANSPARENT);
    }
}

Renderer::~Renderer()
{
    // Put the DC's own objects back so ours can be deleted.
    if (dc_ && originalBitmap_)
        SelectObject(dc_.Get(), originalBitmap_);
    if (dc_ && originalFont_)
        SelectObject(dc_.Get(), originalFont_);
}

bool Renderer::Resize(int width, int height)
{
    width = std::max(width, 1);
    height = std::max(height, 1);
    if (!dc_)
        return false;
    if (bitmap_ && width == width_ && height == height_)
        return true;
    GdiObject bitmap = NewTopDownBitmap(dc_.Get(), width, height);
    if (!bitmap)
        return false;
    HGDIOBJ previous = SelectObject(dc_.Get(), bitmap.Get());
    if (!originalBitmap_)
        originalBitmap_ = previous;
    bitmap_ = std::move(bitmap);
    width_ = width;
    height_ = height;
    return true;
}

HFONT Renderer::FontFor(const TextItem& item) const
{
    const int index = (item.bold ? 1 : 0) | (item.link >= 0 ? 2 : 0);
    return static_cast<HFONT>(fonts_[index] ? fonts_[index].Get() : GetStockObject(DEFAULT_GUI_FONT));
}

void Renderer::NewLine(Cursor& cursor) const
{
    cursor.x = Margin;
    cursor.y += lineHeight_;
    cursor.lineHasText = false;
    cursor.done = cursor.y >= height_;
}

void Renderer::Render(const PageText& page)
{
    links_.clear();
    if (!bitmap_)
        return;
    const RECT all{0, 0, width_, height_};
    SetBkColor(dc_.Get(), Paper);
    ExtTextOutW(dc_.Get(), 0, 0, ETO_OPAQUE, &all, nullptr, 0, nullptr);

    Cursor cursor;
    for (const TextItem& item : page.items) {
        if (cursor.done)
            break;
        switch (item.kind) {
        case TextItem::Kind::LineBreak: NewLine(cursor); break;
        case TextItem::Kind::BlockBreak:
        case TextItem::Kind::ParagraphBreak:
            if (cursor.lineHasText)
                NewLine(cursor);
            if (item.kind == TextItem::Kind::ParagraphBreak && cursor.anyText)
                cursor.gapPending = true;
            break;
        case TextItem::Kind::Text: DrawText(item, cursor); break;
        }
    }
    GdiFlush();
}

void Renderer::DrawText(const TextItem& item, Cursor& cursor)
{
    SelectObject(dc_.Get(), FontFor(item));
    SetTextColor(dc_.Get(), item.link >= 0 ? LinkInk : Ink);
    const std::wstring_view text = item.text;
    size_t pos = 0;
    while (pos < text.size() && !cursor.done) {
        size_t end = pos + 1;
        if (IsBreakSpace(text[pos])) {
            // one space
        } else if (BreaksAnywhere(text[pos])) {
            // one character
        } else {
            while (end < text.size() && !IsBreakSpace(text[end]) && !BreaksAnywhere(text[end]))
                ++end;
        }
        // A word longer than any line is measured in slices, not whole.
        end = std::min(end, pos + MaxPieceChars);
        if (IsHighSurrogate(text[end - 1]) && end < text.size())
            ++end;
        DrawPiece(text.substr(pos, end - pos), item, cursor);
        pos = end;
    }
}

void Renderer::DrawPiece(std::wstring_view piece, const TextItem& item, Cursor& cursor)
{
    const bool space = piece.size() == 1 && IsBreakSpace(piece[0]);
    if (space && !cursor.lineHasText && !item.preformatted)
        return;
    if (cursor.gapPending && !space) {
        cursor.y += lineHeight_ / 2;
        cursor.gapPending = false;
        cursor.done = cursor.y >= height_;
        if (cursor.done)
            return;
    }
    const std::wstring drawn = space ? std::wstring(L" ") : std::wstring(piece);
    SIZE extent{};
    GetTextExtentPoint32W(dc_.Get(), drawn.c_str(), static_cast<int>(drawn.size()), &extent);
    const int right = width_ - Margin;
    if (cursor.x + extent.cx > right && cursor.lineHasText) {
        NewLine(cursor);
        if (space || cursor.done)
            return;
    }
    if (cursor.x + extent.cx > right && drawn.size() > 1) {
        // A word wider than the whole line: split it where it overflows.
        int fit = 0;
        GetTextExtentExPointW(dc_.Get(), drawn.c_str(), static_cast<int>(drawn.size()), std::max(right - cursor.x, 1),
                              &fit, nullptr, &extent);
        fit = std::clamp(fit, 1, static_cast<int>(drawn.size()) - 1);
        DrawPiece(piece.substr(0, static_cast<size_t>(fit)), item, cursor);
        if (!cursor.done) {
            NewLine(cursor);
            if (!cursor.done)
                DrawPiece(piece.substr(static_cast<size_t>(fit)), item, cursor);
        }
        return;
    }
    TextOutW(dc_.Get(), cursor.x, cursor.y, drawn.c_str(), static_cast<int>(drawn.size()));
    if (item.link >= 0) {
        const RECT box{cursor.x, cursor.y, cursor.x + extent.cx, cursor.y + lineHeight_};
        if (!links_.empty() && links_.back().link == item.link && links_.back().rect.top == box.top &&
            links_.back().rect.right == box.left)
            links_.back().rect.right = box.right;
        else
            links_.push_back({box, item.link});
    }
    cursor.x += extent.cx;
    cursor.lineHasText = true;
    cursor.anyText = true;
}

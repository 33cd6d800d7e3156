// What the transparent labels of the shipped Kelvora.exe put on screen, read
// back from the screen: coloured text over the window's button-face
// background, and nothing at all for an empty text.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "form/ControlIds.h"
#include "tests/support/AppDriver.h"

namespace {

// "免费软件、严禁盗卖！！" in code page 936 and as UTF-16.
const wchar_t NoticeText[] = L"\x514D\x8D39\x8F6F\x4EF6\x3001\x4E25\x7981\x76D7\x5356\xFF01\xFF01";

// One screen area, copied pixel by pixel (0x00RRGGBB).
struct ScreenShot {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;

    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

ScreenShot Capture(const RECT& area)
{
    ScreenShot shot;
    shot.width = area.right - area.left;
    shot.height = area.bottom - area.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = shot.width;
    info.bmiHeader.biHeight = -shot.height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, shot.width, shot.height, screen, area.left, area.top, SRCCOPY);
        GdiFlush();
        const auto* source = static_cast<const uint32_t*>(bits);
        shot.pixels.assign(source, source + static_cast<size_t>(shot.width) * shot.height);
        for (uint32_t& pixel : shot.pixels)
            pixel &= 0xFFFFFF;
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return shot;
}

// How wide a text is drawn in the labels' font.
int TextWidth(const std::wstring& text)
{
    HDC screen = GetDC(nullptr);
    HGDIOBJ old = SelectObject(screen, GetStockObject(DEFAULT_GUI_FONT));
    SIZE size{};
    GetTextExtentPoint32W(screen, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    return size.cx;
}

uint32_t ButtonFace()
{
    COLORREF face = GetSysColor(COLOR_BTNFACE); // 0x00BBGGRR
    return (GetRValue(face) << 16) | (GetGValue(face) << 8) | GetBValue(face);
}

bool IsRed(uint32_t pixel)
{
    int r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
    return r > 150 && g < 110 && b < 110;
}

bool IsDark(uint32_t pixel)
{
    int r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
    return r < 100 && g < 100 && b < 100;
}

// Where pixels that match lie, and how many are neither those nor the background.
struct InkBox {
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
    int count = 0;
    int foreign = 0;
};

InkBox FindInk(const ScreenShot& shot, bool (*isInk)(uint32_t))
{
    InkBox box;
    uint32_t face = ButtonFace();
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            uint32_t pixel = shot.At(x, y);
            if (isInk(pixel)) {
                ++box.count;
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                box.top = std::min(box.top, y);
                box.bottom = std::max(box.bottom, y);
            } else if (pixel != face && !IsRed(pixel) && !IsDark(pixel)) {
                ++box.foreign; // smoothing between ink and background is allowed, counted apart
            }
        }
    }
    return box;
}

class NoticeLabelPaintTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(app_.StartInFront());
        notice_ = app_.Control(NoticeLabelId);
        ASSERT_NE(nullptr, notice_);
    }

    RECT ScreenRect(HWND control) const
    {
        RECT rect{};
        GetWindowRect(control, &rect);
        return rect;
    }

    void SetNotice(const wchar_t* text)
    {
        DWORD_PTR ignored = 0;
        ASSERT_TRUE(SendMessageTimeoutW(notice_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                                        &ignored));
    }

    // The label's area once it shows what `settled` accepts, or the last capture.
    ScreenShot WaitForNotice(bool (*settled)(const InkBox&))
    {
        ScreenShot shot;
        AppDriver::WaitFor([&] {
            shot = Capture(ScreenRect(notice_));
            return !shot.pixels.empty() && settled(FindInk(shot, IsRed));
        });
        return shot;
    }

    AppDriver app_;
    HWND notice_ = nullptr;
};

TEST_F(NoticeLabelPaintTest, StartTextIsRedAndCentredOnTheButtonFace)
{
    ScreenShot shot = WaitForNotice([](const InkBox& ink) { return ink.count > 50; });
    ASSERT_FALSE(shot.pixels.empty());
    InkBox ink = FindInk(shot, IsRed);
    EXPECT_GT(ink.count, 50);
    // The line's box is centred; its ink starts with the first glyph's.
    int width = TextWidth(NoticeText);
    int lineLeft = (shot.width - width) / 2;
    EXPECT_NEAR(lineLeft, ink.left, 2) << "ink from x=" << ink.left << " to x=" << ink.right;
    EXPECT_LE(ink.right, lineLeft + width);
    EXPECT_NEAR(shot.height / 2, (ink.top + ink.bottom) / 2, 3) << "ink from y=" << ink.top << " to y=" << ink.bottom;
    EXPECT_EQ(ButtonFace(), shot.At(0, 0)) << "the window's background shows through";
    EXPECT_EQ(ButtonFace(), shot.At(shot.width - 1, shot.height - 1));
}

TEST_F(NoticeLabelPaintTest, EmptyTextLeavesOnlyTheBackground)
{
    ASSERT_GT(FindInk(WaitForNotice([](const InkBox& ink) { return ink.count > 50; }), IsRed).count, 50);
    SetNotice(L"");
    ScreenShot shot = WaitForNotice([](const InkBox& ink) { return ink.count == 0; });
    InkBox ink = FindInk(shot, IsRed);
    EXPECT_EQ(0, ink.count);
    EXPECT_EQ(0, ink.foreign) << "no trace of the old text";
    EXPECT_EQ(L"", AppDriver::ReadTextWide(notice_));
}

TEST_F(NoticeLabelPaintTest, LongTextStaysOneCentredLineCutAtBothEnds)
{
    ScreenShot original = WaitForNotice([](const InkBox& ink) { return ink.count > 50; });
    // A glyph that fills its cell ("免"), so the cut ends show ink at the label's edges.
    std::wstring longText(60, L'\x514D');
    ASSERT_GT(TextWidth(longText), 2 * original.width);
    SetNotice(longText.c_str());
    ScreenShot shot = WaitForNotice([](const InkBox& ink) { return ink.left <= 2 && ink.right >= 309; });
    InkBox ink = FindInk(shot, IsRed);
    EXPECT_LE(ink.left, 2);
    EXPECT_GE(ink.right, shot.width - 3);
    EXPECT_LE(ink.bottom - ink.top, 16) << "one line, no wrapping";

    // Back to the start text: the same picture as before, no remains of the long one.
    SetNotice(NoticeText);
    ScreenShot restored = WaitForNotice([](const InkBox& box) { return box.left > 20; });
    EXPECT_TRUE(restored.pixels == original.pixels);
}

TEST_F(NoticeLabelPaintTest, PromptIsDarkTextFromTheLeftEdge)
{
    HWND prompt = app_.Control(PromptLabelId);
    ASSERT_NE(nullptr, prompt);
    ScreenShot shot;
    AppDriver::WaitFor([&] {
        shot = Capture(ScreenRect(prompt));
        return FindInk(shot, IsDark).count > 30;
    });
    InkBox ink = FindInk(shot, IsDark);
    EXPECT_GT(ink.count, 30);
    EXPECT_LE(ink.left, 3);
    EXPECT_EQ(0, FindInk(shot, IsRed).count);
}

} // namespace

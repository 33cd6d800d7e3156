// The shipped Kelvora.exe's main window, driven from outside: its frame, its
// controls, typing, the focus cycle and closing with Esc.
#include <windows.h>

#include <gtest/gtest.h>

#include "form/ControlIds.h"
#include "tests/support/AppDriver.h"

namespace {

// "免费Kelvora2.0 " in code page 936, the trailing blank included.
const AnsiText Caption = "\xC3\xE2\xB7\xD1"
                         "Kelvora2.0 ";

struct ExpectedControl {
    uint32_t id;
    const wchar_t* className;
    RECT rect;
    AnsiText text;
    bool tabStop;
};

const ExpectedControl VisibleControls[] = {
    // 透明标签2 "免费软件、严禁盗卖！！"
    {NoticeLabelId,
     nullptr,
     {16, 416, 328, 448},
     "\xC3\xE2\xB7\xD1\xC8\xED\xBC\xFE\xA1\xA2\xD1\xCF\xBD\xFB\xB5\xC1\xC2\xF4\xA3\xA1\xA3\xA1",
     false},
    // 透明标签1 "请输入题目："
    {PromptLabelId, nullptr, {17, 15, 177, 31}, "\xC7\xEB\xCA\xE4\xC8\xEB\xCC\xE2\xC4\xBF\xA3\xBA", false},
    {ResultBoxId, L"Edit", {16, 256, 328, 408}, "", true},
    // 按钮1 "查询答案"
    {QueryButtonId, L"Button", {48, 203, 296, 243}, "\xB2\xE9\xD1\xAF\xB4\xF0\xB0\xB8", true},
    {QuestionBoxId, L"Edit", {16, 38, 328, 190}, "", true},
};

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

void ExpectRect(const RECT& expected, const RECT& actual)
{
    EXPECT_EQ(expected.left, actual.left);
    EXPECT_EQ(expected.top, actual.top);
    EXPECT_EQ(expected.right, actual.right);
    EXPECT_EQ(expected.bottom, actual.bottom);
}

// A fresh Kelvora.exe per test, in front, with the caret where start-up put it.
class MainWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(app_.StartInFront());
        question_ = app_.Control(QuestionBoxId);
        ASSERT_NE(nullptr, question_);
    }

    // The focus cycle as it is on screen: the unseen web view only when it exists.
    std::vector<HWND> ExpectedCycle() const
    {
        std::vector<HWND> cycle = {app_.Control(QuestionBoxId), app_.Control(QueryButtonId), app_.Control(ResultBoxId)};
        if (HWND webView = app_.Control(WebViewId))
            cycle.push_back(webView);
        return cycle;
    }

    bool FocusIsIn(HWND control) const
    {
        return AppDriver::WaitFor([&] {
            HWND focus = app_.FocusedWindow();
            return focus && (focus == control || IsChild(control, focus));
        });
    }

    AppDriver app_;
    HWND question_ = nullptr;
};

TEST_F(MainWindowTest, FrameIsFixedCentredAndCaptioned)
{
    HWND window = app_.MainWindow();
    EXPECT_EQ(Caption, AppDriver::ReadText(window));
    EXPECT_EQ(L"WTWindow", ClassOf(window));

    RECT outer{};
    GetWindowRect(window, &outer);
    int left = (GetSystemMetrics(SM_CXSCREEN) - 353) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - 480) / 2;
    ExpectRect({left, top, left + 353, top + 480}, outer);

    LONG style = GetWindowLongW(window, GWL_STYLE);
    LONG wanted = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    EXPECT_EQ(wanted, style & wanted);
    EXPECT_EQ(0, style & WS_MAXIMIZEBOX) << "no maximize box";
    EXPECT_EQ(0, style & WS_THICKFRAME) << "not resizable";
    EXPECT_EQ(0, GetWindowLongW(window, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW));
    EXPECT_EQ(nullptr, GetWindow(window, GW_OWNER));
}

TEST_F(MainWindowTest, ControlsSitAtTheirPlacesWithTheirStartTexts)
{
    for (const ExpectedControl& expected : VisibleControls) {
        SCOPED_TRACE(testing::Message() << "control 0x" << std::hex << expected.id);
        HWND control = app_.Control(expected.id);
        ASSERT_NE(nullptr, control);
        if (expected.className) {
            EXPECT_EQ(expected.className, ClassOf(control));
        }
        ExpectRect(expected.rect, app_.ControlRect(control));
        EXPECT_EQ(expected.text, AppDriver::ReadText(control));
        EXPECT_TRUE(IsWindowVisible(control));
        EXPECT_TRUE(IsWindowEnabled(control));
        EXPECT_EQ(expected.tabStop, (GetWindowLongW(control, GWL_STYLE) & WS_TABSTOP) != 0);
    }

    // The edit control takes WS_BORDER over and draws the thin line itself.
    LONG editStyle = GetWindowLongW(question_, GWL_STYLE);
    LONG wanted = ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
    EXPECT_EQ(wanted, editStyle & wanted);
    EXPECT_EQ(0, editStyle & (WS_VSCROLL | WS_HSCROLL | ES_AUTOHSCROLL | ES_READONLY | ES_PASSWORD));
    EXPECT_EQ(0, GetWindowLongW(question_, GWL_EXSTYLE) & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE));
    LONG buttonStyle = GetWindowLongW(app_.Control(QueryButtonId), GWL_STYLE);
    EXPECT_EQ(BS_PUSHBUTTON, buttonStyle & 0x0F) << "a plain push button, not the default one";
    EXPECT_EQ(BS_MULTILINE, buttonStyle & BS_MULTILINE);
    EXPECT_NE(0, GetWindowLongW(app_.Control(NoticeLabelId), GWL_EXSTYLE) & WS_EX_TRANSPARENT);

    // The web view lies outside the client area where it exists at all.
    if (HWND webView = app_.Control(WebViewId))
        ExpectRect({576, 88, 848, 312}, app_.ControlRect(webView));
}

TEST_F(MainWindowTest, MinimizeAndRestoreKeepTheLayout)
{
    HWND window = app_.MainWindow();
    ShowWindowAsync(window, SW_MINIMIZE);
    ASSERT_TRUE(AppDriver::WaitFor([&] { return IsIconic(window) != FALSE; }));
    ShowWindowAsync(window, SW_RESTORE);
    RECT outer{};
    EXPECT_TRUE(AppDriver::WaitFor([&] {
        GetWindowRect(window, &outer);
        return !IsIconic(window) && outer.right - outer.left == 353;
    }));
    EXPECT_EQ(353, outer.right - outer.left);
    EXPECT_EQ(480, outer.bottom - outer.top);
    ExpectRect({16, 38, 328, 190}, app_.ControlRect(question_));
    ExpectRect({48, 203, 296, 243}, app_.ControlRect(app_.Control(QueryButtonId)));
}

TEST_F(MainWindowTest, TypingAfterStartGoesIntoTheQuestionBoxWithCrLfBreaks)
{
    ASSERT_TRUE(app_.WaitForFocus(question_));
    // "题目" then a line break and a second line, with no click first.
    EXPECT_TRUE(app_.TypeInto(question_, L"\x9898\x76EE one\nline two", false));
    EXPECT_EQ("\xCC\xE2\xC4\xBF one\r\nline two", AppDriver::ReadText(question_));
    EXPECT_EQ("", AppDriver::ReadText(app_.Control(ResultBoxId)));
}

TEST_F(MainWindowTest, TabAndShiftTabWalkTheFocusCycle)
{
    ASSERT_TRUE(app_.WaitForFocus(question_));
    std::vector<HWND> cycle = ExpectedCycle();
    for (size_t step = 1; step <= cycle.size(); ++step) {
        app_.PressKey(VK_TAB);
        EXPECT_TRUE(FocusIsIn(cycle[step % cycle.size()])) << "after Tab number " << step;
    }
    for (size_t step = 1; step <= cycle.size(); ++step) {
        app_.PressKey(VK_TAB, true);
        EXPECT_TRUE(FocusIsIn(cycle[(cycle.size() * 2 - step) % cycle.size()])) << "after Shift+Tab number " << step;
    }
    // Tab put no tab character into the edit boxes on its way.
    EXPECT_EQ("", AppDriver::ReadText(question_));
    EXPECT_EQ("", AppDriver::ReadText(app_.Control(ResultBoxId)));
}

TEST_F(MainWindowTest, EnterInTheResultBoxBreaksTheLineThere)
{
    ASSERT_TRUE(app_.WaitForFocus(question_));
    app_.PressKey(VK_TAB);
    app_.PressKey(VK_TAB);
    HWND result = app_.Control(ResultBoxId);
    ASSERT_TRUE(app_.WaitForFocus(result));
    EXPECT_TRUE(app_.TypeInto(result, L"a\nb", false));
    EXPECT_EQ(result, app_.FocusedWindow()) << "Enter moves no focus";
}

TEST_F(MainWindowTest, MouseClickOnTheQueryButtonReachesIt)
{
    HWND button = app_.Control(QueryButtonId);
    app_.Click(button);
    EXPECT_TRUE(app_.WaitForFocus(button)) << "a pressed button takes the focus";
    EXPECT_TRUE(app_.IsRunning());
    EXPECT_EQ("", AppDriver::ReadText(question_));
}

TEST_F(MainWindowTest, FocusComesBackAfterSwitchingToAnotherWindow)
{
    ASSERT_TRUE(app_.WaitForFocus(question_));
    app_.PressKey(VK_TAB);
    HWND button = app_.Control(QueryButtonId);
    ASSERT_TRUE(app_.WaitForFocus(button));

    // Another application's window, made here in the corner of the screen.
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 0, 0, 120, 80,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, other);
    EXPECT_TRUE(AppDriver::WaitFor([&] {
        SetForegroundWindow(other);
        return GetForegroundWindow() == other;
    }));
    EXPECT_TRUE(AppDriver::WaitFor([&] { return app_.FocusedWindow() != button; })) << "the focus left Kelvora";

    ASSERT_TRUE(app_.BringToFront());
    EXPECT_TRUE(app_.WaitForFocus(button)) << "focus is on " << app_.FocusedWindow();
    DestroyWindow(other);
}

TEST_F(MainWindowTest, EscapeWhileTypingEndsTheProgramWithExitCodeZero)
{
    ASSERT_TRUE(app_.WaitForFocus(question_));
    ASSERT_TRUE(app_.TypeInto(question_, L"half a question", false));
    app_.PressKey(VK_ESCAPE);
    DWORD exitCode = 0xdeadbeef;
    ASSERT_TRUE(app_.WaitForExit(DefaultWaitMs, &exitCode));
    EXPECT_EQ(0u, exitCode);
}

} // namespace

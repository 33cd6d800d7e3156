// The window framework inside the test process: a window built from a layout
// of its own, its text properties, button events and window-level keys.
#include <windows.h>

#include <gtest/gtest.h>

#include <iterator>

#include "form/ControlIds.h"
#include "form/ControlProperties.h"
#include "form/EventTable.h"
#include "form/Form.h"
#include "form/WindowText.h"

namespace {

constexpr uint32_t TestFormId = 0x52017777;
constexpr uint32_t TestFormUnitId = 0x06017777;
constexpr uint32_t LabelId = 0x16010101;
constexpr uint32_t FirstEditId = 0x16010102;
constexpr uint32_t SecondEditId = 0x16010103;
// Two buttons whose ids differ only above the low 16 bits, as a notification carries them.
constexpr uint32_t LowButtonId = 0x16010104;
constexpr uint32_t HighButtonId = 0x16020104;

const ControlLayout TestControls[] = {
    {LabelId, ControlKind::TransparentLabel, 10, 10, 100, 20, "label", false, 0x0000FF, DT_CENTER},
    {SecondEditId, ControlKind::EditBox, 10, 40, 100, 50, "", true},
    {LowButtonId, ControlKind::PushButton, 10, 100, 100, 30, "low", true},
    {HighButtonId, ControlKind::PushButton, 120, 100, 100, 30, "high", true},
    {FirstEditId, ControlKind::EditBox, 10, 140, 100, 50, "", true},
};

const FormLayout TestForm = {TestFormId, TestFormUnitId, "test form", 300, 260, TestControls, nullptr};

HWND Child(uint32_t id)
{
    return FindControlWindow(TestFormId, id);
}

// The quit message that the last window's end posts; -1 when there is none.
int DrainQuit()
{
    int exitCode = -1;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            exitCode = static_cast<int>(message.wParam);
        else
            DispatchMessageW(&message);
    }
    return exitCode;
}

bool KeyDown(HWND target, WPARAM virtualKey)
{
    MSG message{};
    message.hwnd = target;
    message.message = WM_KEYDOWN;
    message.wParam = virtualKey;
    message.lParam = 1;
    return HandleFormKey(message);
}

// One window for the whole suite: closing a top-level window is slow under
// Wine without a window manager. Each test leaves the texts as it found them.
class FormTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        InitWindowFramework();
        LoadWindow(TestForm, nullptr, false);
    }

    static void TearDownTestSuite()
    {
        DestroyWindow(FindControlWindow(TestFormId, TestFormUnitId));
        DrainQuit();
    }

    void SetUp() override
    {
        window_ = FindControlWindow(TestFormId, TestFormUnitId);
        ASSERT_NE(nullptr, window_) << "the test window did not load";
        SetWindowTextW(Child(FirstEditId), L"");
        SetWindowTextW(Child(SecondEditId), L"");
        SetWindowTextW(Child(LabelId), L"label");
        SetWindowTextW(window_, L"test form");
    }

    HWND window_ = nullptr;
};

// A window of its own for tests that close it or take controls away.
class FormLifetimeTest : public testing::Test {
protected:
    static void SetUpTestSuite() { InitWindowFramework(); }

    void SetUp() override
    {
        ASSERT_TRUE(LoadWindow(TestForm, nullptr, false));
        window_ = FindControlWindow(TestFormId, TestFormUnitId);
        ASSERT_NE(nullptr, window_);
    }

    void TearDown() override
    {
        if (IsWindow(window_))
            DestroyWindow(window_);
        DrainQuit();
    }

    HWND window_ = nullptr;
};

TEST_F(FormTest, EditBoxTextIsReadLiveInCodePage936)
{
    // What the user typed, as the edit box holds it: "中文" and a line break.
    SetWindowTextW(Child(FirstEditId), L"\x4E2D\x6587\r\nabc");
    EXPECT_EQ("\xD6\xD0\xCE\xC4\r\nabc", GetControlProperty(TestFormId, FirstEditId, TextProperty));
}

TEST_F(FormTest, EditBoxTextIsWrittenWithLineBreaksAsGiven)
{
    SetControlProperty(TestFormId, SecondEditId, TextProperty, "\xB4\xF0\xB0\xB8\r\nline two\nthree");
    EXPECT_EQ(L"\x7B54\x6848\r\nline two\nthree", WindowTextWide(Child(SecondEditId)));
    EXPECT_EQ("\xB4\xF0\xB0\xB8\r\nline two\nthree", GetControlProperty(TestFormId, SecondEditId, TextProperty));

    SetControlProperty(TestFormId, SecondEditId, TextProperty, "");
    EXPECT_EQ(L"", WindowTextWide(Child(SecondEditId)));
}

TEST_F(FormTest, LabelKeepsTheTextItWasGiven)
{
    EXPECT_EQ("label", GetControlProperty(TestFormId, LabelId, TextProperty));
    SetControlProperty(TestFormId, LabelId, TextProperty, "\xC3\xE2\xB7\xD1 & more");
    EXPECT_EQ("\xC3\xE2\xB7\xD1 & more", GetControlProperty(TestFormId, LabelId, TextProperty));
    EXPECT_EQ(L"\x514D\x8D39 & more", WindowTextWide(Child(LabelId)));
    SetControlProperty(TestFormId, LabelId, TextProperty, "");
    EXPECT_EQ("", GetControlProperty(TestFormId, LabelId, TextProperty));
}

TEST_F(FormTest, WindowCaptionIsTheWindowsOwnTextProperty)
{
    EXPECT_EQ("test form", GetControlProperty(TestFormId, TestFormUnitId, TextProperty));
    SetControlProperty(TestFormId, TestFormUnitId, TextProperty, "\xC3\xE2\xB7\xD1 ");
    EXPECT_EQ(L"\x514D\x8D39 ", WindowTextWide(window_));
}

TEST_F(FormTest, UnknownAddressesReadEmptyAndIgnoreWrites)
{
    SetWindowTextW(Child(FirstEditId), L"kept");
    EXPECT_EQ("", GetControlProperty(TestFormId + 1, FirstEditId, TextProperty));
    EXPECT_EQ("", GetControlProperty(TestFormId, 0x16019999, TextProperty));
    EXPECT_EQ("", GetControlProperty(TestFormId, FirstEditId, 7));
    SetControlProperty(TestFormId + 1, FirstEditId, TextProperty, "lost");
    SetControlProperty(TestFormId, FirstEditId, 4, "lost");
    SetControlProperty(TestFormId, 0x16019999, TextProperty, "lost");
    EXPECT_EQ(L"kept", WindowTextWide(Child(FirstEditId)));
}

TEST_F(FormTest, ButtonClickRaisesEventZeroOfThatButtonOnly)
{
    int lowClicks = 0;
    int highClicks = 0;
    BindEvent(TestFormId, LowButtonId, 0, [&](const EventRecord&) -> std::optional<int32_t> {
        ++lowClicks;
        return std::nullopt;
    });
    BindEvent(TestFormId, HighButtonId, 0, [&](const EventRecord& record) -> std::optional<int32_t> {
        EXPECT_EQ(TestFormId, record.formId);
        ++highClicks;
        return std::nullopt;
    });
    SendMessageW(Child(HighButtonId), BM_CLICK, 0, 0);
    EXPECT_EQ(1, highClicks);
    EXPECT_EQ(0, lowClicks);
    UnbindControlEvents(TestFormId, LowButtonId);
    UnbindControlEvents(TestFormId, HighButtonId);
}

TEST_F(FormTest, TabRunsFromTheLastCreatedControlToTheFirst)
{
    SetFocus(Child(FirstEditId));
    ASSERT_EQ(Child(FirstEditId), GetFocus());
    const uint32_t expected[] = {HighButtonId, LowButtonId, SecondEditId, FirstEditId};
    for (uint32_t id : expected) {
        EXPECT_TRUE(KeyDown(GetFocus(), VK_TAB));
        EXPECT_EQ(Child(id), GetFocus()) << std::hex << "expected control 0x" << id;
    }
}

TEST_F(FormTest, EnterBelongsToTheEditBoxAndF1ToNobody)
{
    SetFocus(Child(FirstEditId));
    EXPECT_FALSE(KeyDown(Child(FirstEditId), VK_RETURN));
    SetFocus(Child(LowButtonId));
    EXPECT_TRUE(KeyDown(Child(LowButtonId), VK_RETURN));
    EXPECT_EQ(Child(LowButtonId), GetFocus());
    EXPECT_TRUE(KeyDown(Child(LowButtonId), VK_F1)) << "F1 is the window's, and does nothing";
    EXPECT_EQ(Child(LowButtonId), GetFocus());
    EXPECT_FALSE(KeyDown(Child(LowButtonId), 'A'));
}

TEST_F(FormLifetimeTest, EscapeClosesTheWindowAndTheLastWindowQuitsWithZero)
{
    SetFocus(Child(SecondEditId));
    EXPECT_TRUE(KeyDown(Child(SecondEditId), VK_ESCAPE));
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(nullptr, FindControlWindow(TestFormId, TestFormUnitId));
    EXPECT_EQ(0, DrainQuit());
    // With no window left the loop has nothing to serve.
    RunMessageLoop();
}

TEST_F(FormLifetimeTest, FocusReturnsToTheRememberedControlOnActivation)
{
    SetFocus(Child(LowButtonId));
    SendMessageW(window_, WM_ACTIVATE, WA_INACTIVE, 0);
    SetFocus(nullptr);
    SendMessageW(window_, WM_SETFOCUS, 0, 0);
    EXPECT_EQ(Child(LowButtonId), GetFocus());

    // A control that is gone is not restored: the first of the cycle is.
    SetFocus(Child(SecondEditId));
    SendMessageW(window_, WM_ACTIVATE, WA_INACTIVE, 0);
    DestroyWindow(Child(SecondEditId));
    SetFocus(nullptr);
    SendMessageW(window_, WM_SETFOCUS, 0, 0);
    EXPECT_EQ(Child(FirstEditId), GetFocus());
}

TEST_F(FormLifetimeTest, ControlThatReportsItsEndIsForgotten)
{
    // What the web view's host does when its window goes.
    HWND result = Child(SecondEditId);
    NotifyControlDestroyed(TestFormId, SecondEditId);
    DestroyWindow(result);
    EXPECT_EQ(nullptr, Child(SecondEditId));
    EXPECT_EQ("", GetControlProperty(TestFormId, SecondEditId, TextProperty));
    SetControlProperty(TestFormId, SecondEditId, TextProperty, "nowhere");

    // The focus cycle goes around the gap.
    SetFocus(Child(FirstEditId));
    KeyDown(Child(FirstEditId), VK_TAB);
    KeyDown(GetFocus(), VK_TAB);
    EXPECT_EQ(Child(LowButtonId), GetFocus());
    KeyDown(GetFocus(), VK_TAB);
    EXPECT_EQ(Child(FirstEditId), GetFocus());

    // Reports for unknown windows or controls change nothing.
    NotifyControlDestroyed(TestFormId + 1, FirstEditId);
    NotifyControlDestroyed(TestFormId, 0x16019999);
    EXPECT_NE(nullptr, Child(FirstEditId));
}

// A modal load keeps its owner disabled until the window closes, then returns.
HWND modalOwner = nullptr;
bool ownerWasDisabled = false;

void CALLBACK CloseModalWindow(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND modal = FindControlWindow(TestFormId, TestFormUnitId);
    if (!modal)
        return;
    KillTimer(nullptr, timer);
    ownerWasDisabled = !IsWindowEnabled(modalOwner);
    SendMessageW(modal, WM_CLOSE, 0, 0);
    if (IsWindow(modal))
        DestroyWindow(modal); // the check below fails, but the modal loop still ends
}

TEST(FormModalTest, ModalLoadDisablesTheOwnerUntilTheWindowCloses)
{
    InitWindowFramework();
    modalOwner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, modalOwner);
    UINT_PTR timer = SetTimer(nullptr, 0, 50, CloseModalWindow);
    ASSERT_NE(0u, timer);
    EXPECT_TRUE(LoadWindow(TestForm, modalOwner, true));
    EXPECT_TRUE(ownerWasDisabled);
    EXPECT_TRUE(IsWindowEnabled(modalOwner));
    EXPECT_EQ(nullptr, FindControlWindow(TestFormId, TestFormUnitId));
    DestroyWindow(modalOwner);
    // The owner is a window of the test, not of the framework: its end posts no quit.
    DrainQuit();
}

} // namespace

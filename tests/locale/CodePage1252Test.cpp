// The real Kelvora.exe on a system whose ANSI code page is 1252 (en_US.UTF-8
// under Wine): every text it shows, in the window, in the result of a lookup
// and in its message boxes, is its own code page 936 text converted
// explicitly, so it reads the same as on the Chinese system it is made for.
#include <windows.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "form/ControlIds.h"
#include "tests/support/KelvoraUnderTest.h"

namespace {

constexpr DWORD BoxWaitMs = 20000;

std::wstring WindowsPath(const std::string& linuxPath)
{
    std::wstring path = L"Z:";
    for (char c : linuxPath)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return path;
}

// The texts of a message box's children, joined by "|".
std::wstring BoxChildTexts(HWND box)
{
    std::wstring texts;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        texts += AppDriver::ReadTextWide(child) + L"|";
    return texts;
}

bool HasChildText(HWND box, const std::wstring& text)
{
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (AppDriver::ReadTextWide(child) == text)
            return true;
    }
    return false;
}

// The first message box of the process, once one is open; nullptr after the time-out.
HWND WaitForBox(DWORD processId)
{
    HWND box = nullptr;
    AppDriver::WaitFor(
        [&] {
            const std::vector<HWND> boxes = AppDriver::VisibleTopLevelWindows(processId, L"#32770");
            box = boxes.empty() ? nullptr : boxes.front();
            return box != nullptr;
        },
        BoxWaitMs);
    return box;
}

void PressOk(HWND box)
{
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(AppDriver::WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, BoxWaitMs));
}

class CodePage1252Test : public KelvoraSuite {};

TEST_F(CodePage1252Test, SystemCodePageIsNot936)
{
    EXPECT_EQ(1252u, GetACP());
}

TEST_F(CodePage1252Test, WindowTextsReadAsWritten)
{
    EXPECT_EQ(L"免费Kelvora2.0 ", AppDriver::ReadTextWide(app_->MainWindow()));
    EXPECT_EQ(L"查询答案", AppDriver::ReadTextWide(Control(QueryButtonId)));
    EXPECT_EQ(L"请输入题目：", AppDriver::ReadTextWide(Control(PromptLabelId)));
    EXPECT_EQ(L"免费软件、严禁盗卖！！", AppDriver::ReadTextWide(Control(NoticeLabelId)));
}

TEST_F(CodePage1252Test, LookupSendsAndShowsChinese)
{
    service_->SetAnswer(R"({"answer":"北京","title":"中国的首都是哪里"})");
    SetText(QuestionBoxId, L"首都");
    SetText(ResultBoxId, L"(waiting)");
    ASSERT_TRUE(app_->ClickButton(Control(QueryButtonId), [] { return service_->Server().RequestCount() > 0; }));
    std::wstring shown;
    EXPECT_TRUE(AppDriver::WaitFor(
        [&] { return AppDriver::TryReadTextWide(Control(ResultBoxId), 1000, shown) && shown != L"(waiting)"; }, 30000));
    EXPECT_EQ(L"题目:中国的首都是哪里\r\n======\r\n答案:北京", shown);
    EXPECT_EQ(L"测试公告", AppDriver::ReadTextWide(Control(NoticeLabelId)));
    const auto lookups = service_->RequestsTo(TestAnswerService::LookupPath);
    ASSERT_FALSE(lookups.empty());
    EXPECT_EQ("t=%E9%A6%96%E9%83%BD", lookups[0].Query());
}

TEST_F(CodePage1252Test, EmptyQuestionWarningReadsAsWritten)
{
    SetText(QuestionBoxId, L"");
    ASSERT_TRUE(app_->BringToFront());
    app_->Click(Control(QueryButtonId));
    HWND box = WaitForBox(app_->ProcessId());
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(L"友情提醒", AppDriver::ReadTextWide(box));
    EXPECT_TRUE(HasChildText(box, L"请输入题目！")) << "the box holds: " << testing::PrintToString(BoxChildTexts(box));
    PressOk(box);
}

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using FileLock = std::unique_ptr<void, HandleCloser>;

// The engine start-up's box: the program folder holds an engine that lacks
// an entry point, locked against writing so that start-up cannot replace it.
TEST(CodePage1252StartupBox, LackingEngineBoxReadsAsWritten)
{
    TestAnswerService service;
    ASSERT_TRUE(service.Start());
    ScratchDirectory directory;
    const std::wstring exe = PrepareKelvoraCopy(directory.Path(), service.BaseUrl());
    ASSERT_FALSE(exe.empty());
    const std::wstring engine = directory / L"node.dll";
    ASSERT_TRUE(CopyFileW(WindowsPath(KELVORA_FAKE_ENGINE_LACKING).c_str(), engine.c_str(), FALSE));
    FileLock lock(CreateFileW(engine.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(INVALID_HANDLE_VALUE, lock.get());

    AppDriver app;
    ASSERT_TRUE(app.Start(exe, directory.Path()));
    HWND box = WaitForBox(app.ProcessId());
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(L"请使用配套的node.dll", AppDriver::ReadTextWide(box));
    const std::wstring text = L"\"wkeSetCspCheckEnable\"命令未找到,请使用发布时配套或更高版本的node.dll";
    EXPECT_TRUE(HasChildText(box, text)) << "the box holds: " << testing::PrintToString(BoxChildTexts(box));
    PressOk(box);
    // Start-up goes on to the window.
    EXPECT_NE(nullptr, app.WaitForMainWindow(30000));
    app.Terminate();
}

} // namespace

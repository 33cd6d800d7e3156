// The real Kelvora.exe, driven through its window, against the real answer
// service (started by service-e2e.sh with the sample bank).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "form/ControlIds.h"
#include "tests/support/AppDriver.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/support/TestAnswerService.h"

namespace {

class ServiceEndToEnd : public testing::Test {
protected:
    void SetUp() override
    {
        const char* url = std::getenv("KELVORA_SERVICE_URL");
        ASSERT_NE(nullptr, url) << "run through service-e2e.sh";
        const std::wstring exe = PrepareKelvoraCopy(directory_.Path(), url);
        ASSERT_FALSE(exe.empty());
        ASSERT_TRUE(app_.Start(exe, directory_.Path()));
        ASSERT_NE(nullptr, app_.WaitForMainWindow(30000));
    }

    // Types the question with real keys, clicks 按钮1 and returns the result.
    AnsiText Ask(const std::wstring& question)
    {
        HWND box = app_.Control(QuestionBoxId);
        HWND result = app_.Control(ResultBoxId);
        SendMessageW(result, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
        EXPECT_TRUE(app_.TypeInto(box, question));
        EXPECT_TRUE(app_.ClickButton(app_.Control(QueryButtonId)));
        EXPECT_TRUE(AppDriver::WaitFor([&] { return !AppDriver::ReadText(result).empty(); }, 60000))
            << "foreground window " << GetForegroundWindow() << ", focus " << app_.FocusedWindow();
        return AppDriver::ReadText(result);
    }

    ScratchDirectory directory_;
    AppDriver app_;
};

TEST_F(ServiceEndToEnd, SampleQuestionGetsItsAnswer)
{
    // 中国的首都是哪座城市？ typed without its question mark and with a blank.
    EXPECT_EQ(
        "\xCC\xE2\xC4\xBF:\xD6\xD0\xB9\xFA\xB5\xC4\xCA\xD7\xB6\xBC\xCA\xC7\xC4\xC4\xD7\xF9\xB3\xC7\xCA\xD0\xA3\xBF"
        "\r\n======\r\n\xB4\xF0\xB0\xB8:\xB1\xB1\xBE\xA9",
        Ask(L"\u4E2D\u56FD\u7684\u9996\u90FD \u662F\u54EA\u5EA7\u57CE\u5E02"));
}

TEST_F(ServiceEndToEnd, UnknownQuestionShowsTheServiceNotice)
{
    const AnsiText result = Ask(L"\u4E00\u4E2A\u9898\u5E93\u91CC\u6CA1\u6709\u7684\u95EE\u9898xyz");
    EXPECT_EQ(std::string::npos, result.find("\xB4\xF0\xB0\xB8:")); // no 答案: line
    EXPECT_FALSE(result.empty());
}

} // namespace

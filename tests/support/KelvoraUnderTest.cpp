#include "tests/support/KelvoraUnderTest.h"

#include "form/ControlIds.h"

testing::AssertionResult KelvoraUnderTest::Start()
{
    if (!service.Start())
        return testing::AssertionFailure() << "the answer service did not start";
    const std::wstring exe = PrepareKelvoraCopy(directory.Path(), service.BaseUrl());
    if (exe.empty())
        return testing::AssertionFailure() << "Kelvora.exe could not be copied";
    if (!app.Start(exe, directory.Path()))
        return testing::AssertionFailure() << "Kelvora.exe did not start";
    if (!app.WaitForMainWindow(30000))
        return testing::AssertionFailure() << "no main window within 30 s";
    return testing::AssertionSuccess();
}

void KelvoraUnderTest::SetText(uint32_t controlId, const std::wstring& text)
{
    SendMessageTimeoutW(app.Control(controlId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_BLOCK, 5000,
                        nullptr);
}

AnsiText KelvoraUnderTest::Result(const AnsiText& title, const AnsiText& answer)
{
    return "\xCC\xE2\xC4\xBF:" + title + "\r\n======\r\n\xB4\xF0\xB0\xB8:" + answer;
}

KelvoraUnderTest* KelvoraSuite::kelvora_ = nullptr;
ScratchDirectory* KelvoraSuite::directory_ = nullptr;
TestAnswerService* KelvoraSuite::service_ = nullptr;
AppDriver* KelvoraSuite::app_ = nullptr;

void KelvoraSuite::SetUpTestSuite()
{
    kelvora_ = new KelvoraUnderTest();
    directory_ = &kelvora_->directory;
    service_ = &kelvora_->service;
    app_ = &kelvora_->app;
    ASSERT_TRUE(kelvora_->Start());
}

void KelvoraSuite::TearDownTestSuite()
{
    delete kelvora_;
    kelvora_ = nullptr;
    directory_ = nullptr;
    service_ = nullptr;
    app_ = nullptr;
}

AnsiText KelvoraSuite::ResultText()
{
    return AppDriver::ReadText(Control(ResultBoxId));
}

AnsiText KelvoraSuite::NoticeText()
{
    return AppDriver::ReadText(Control(NoticeLabelId));
}

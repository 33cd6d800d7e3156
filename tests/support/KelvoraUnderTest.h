#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/AppDriver.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/support/TestAnswerService.h"

// A copy of the real Kelvora.exe in a scratch folder, pointed at a loopback
// answer service, with its window up: the setting of end-to-end lookup tests.
//
//   KelvoraUnderTest kelvora;
//   ASSERT_TRUE(kelvora.Start());
//   kelvora.service.SetAnswer(...);
//   kelvora.SetText(QuestionBoxId, L"q");
//   kelvora.app.Click(kelvora.app.Control(QueryButtonId));
struct KelvoraUnderTest {
    ScratchDirectory directory;
    TestAnswerService service;
    AppDriver app;

    // Starts the service, copies the executable and waits for its main window.
    testing::AssertionResult Start();
    // Sets a control's text, bounded: a window busy with a lookup does not answer.
    void SetText(uint32_t controlId, const std::wstring& text);
    // The answer text of the result box: 题目:title\r\n======\r\n答案:answer.
    static AnsiText Result(const AnsiText& title, const AnsiText& answer);
};

// A test suite that shares one KelvoraUnderTest among its tests: lookups keep
// no state between them, and each process start under Wine is costly.
class KelvoraSuite : public testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

    static HWND Control(uint32_t controlId) { return app_->Control(controlId); }
    static void SetText(uint32_t controlId, const std::wstring& text) { kelvora_->SetText(controlId, text); }
    static AnsiText ResultText();
    static AnsiText NoticeText();

    static KelvoraUnderTest* kelvora_;
    static ScratchDirectory* directory_;
    static TestAnswerService* service_;
    static AppDriver* app_;
};

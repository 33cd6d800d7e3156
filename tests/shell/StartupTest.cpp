// Start-up of the shipped Kelvora.exe, run from a copy in a directory of its
// own: where node.dll goes, that it is the embedded engine byte for byte,
// and that a file that cannot be written does not stop the window.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "owners/UniqueHandle.h"
#include "webview/ProgramFiles.h"
#include "tests/support/AppDriver.h"
#include "tests/support/ScratchDirectory.h"

namespace {

// Visible top-level windows of the process other than the main window: a
// message box would be one.
int OtherVisibleWindows(const AppDriver& app)
{
    const std::vector<HWND> windows = AppDriver::VisibleTopLevelWindows(app.ProcessId());
    return static_cast<int>(
        std::count_if(windows.begin(), windows.end(), [&](HWND window) { return window != app.MainWindow(); }));
}

class StartupTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(programDir_.Path().empty());
        ASSERT_FALSE(workingDir_.Path().empty());
        engine_ = ReadFileBytes(AppDriver::EnginePath());
        ASSERT_GT(engine_.size(), 2u);
        ASSERT_EQ('M', engine_[0]);
        ASSERT_EQ('Z', engine_[1]);
        exe_ = programDir_ / L"Kelvora.exe";
        ASSERT_TRUE(CopyFileW(AppDriver::KelvoraExePath().c_str(), exe_.c_str(), FALSE));
    }

    // Starts the copy from the other directory and waits for its window.
    testing::AssertionResult StartFromElsewhere() { return app_.StartInFront(exe_, workingDir_.Path()); }

    testing::AssertionResult CloseAndExitZero()
    {
        PostMessageW(app_.MainWindow(), WM_CLOSE, 0, 0);
        DWORD exitCode = 0xdeadbeef;
        if (!app_.WaitForExit(DefaultWaitMs, &exitCode))
            return testing::AssertionFailure() << "Kelvora did not end after WM_CLOSE";
        if (exitCode != 0)
            return testing::AssertionFailure() << "Kelvora ended with exit code " << exitCode;
        return testing::AssertionSuccess();
    }

    ScratchDirectory programDir_;
    ScratchDirectory workingDir_;
    ByteBuffer engine_;
    std::wstring exe_;
    AppDriver app_; // last: the process ends before its directories go
};

TEST_F(StartupTest, EngineGoesNextToTheExecutableNotIntoTheWorkingDirectory)
{
    ASSERT_TRUE(StartFromElsewhere());
    ByteBuffer written = ReadFileBytes(programDir_ / L"node.dll");
    EXPECT_EQ(engine_.size(), written.size());
    EXPECT_TRUE(written == engine_) << "node.dll differs from the embedded image";
    EXPECT_FALSE(FileExists(workingDir_ / L"node.dll"));

    EXPECT_TRUE(CloseAndExitZero());
    EXPECT_TRUE(ReadFileBytes(programDir_ / L"node.dll") == engine_) << "node.dll stays after the end";
}

TEST_F(StartupTest, DifferentLongerEngineFileIsTruncatedAndRewritten)
{
    ByteBuffer stale(engine_.size() + 4096, 'x');
    ASSERT_TRUE(WriteWholeFile(programDir_ / L"node.dll", stale.data(), stale.size()));
    ASSERT_TRUE(StartFromElsewhere());
    EXPECT_TRUE(ReadFileBytes(programDir_ / L"node.dll") == engine_);
    EXPECT_TRUE(CloseAndExitZero());
}

TEST_F(StartupTest, EngineFileThatCannotBeWrittenIsLeftAndTheWindowStillOpens)
{
    // A running copy that has node.dll loaded keeps others from writing it.
    // Holding the file open for reading, with only read sharing, does the same
    // here (a read-only directory does not stop root under Wine). The held
    // file is the engine with 16 bytes of trailing data: still loadable, and
    // its length tells whether start-up managed to rewrite it.
    ByteBuffer held = engine_;
    held.insert(held.end(), 16, 0x5A);
    std::wstring path = programDir_ / L"node.dll";
    ASSERT_TRUE(WriteWholeFile(path, held.data(), held.size()));
    const KernelHandle lock =
        OwnFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);

    ASSERT_TRUE(StartFromElsewhere());
    EXPECT_EQ(0, OtherVisibleWindows(app_)) << "start-up showed something of its own";
    EXPECT_TRUE(ReadFileBytes(path) == held) << "the held file was changed";
    EXPECT_TRUE(CloseAndExitZero());
}

TEST_F(StartupTest, EveryStartWritesTheFileAgain)
{
    ASSERT_TRUE(StartFromElsewhere());
    ASSERT_TRUE(CloseAndExitZero());
    std::wstring path = programDir_ / L"node.dll";
    // Back-date the identical copy: a new start must still write it.
    FILETIME old{0x00000000, 0x01D00000}; // some day in 2014
    {
        const KernelHandle file = OwnFile(
            CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &old));
    }

    ASSERT_TRUE(StartFromElsewhere());
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes));
    EXPECT_GT(CompareFileTime(&attributes.ftLastWriteTime, &old), 0) << "the file was not rewritten";
    EXPECT_TRUE(CloseAndExitZero());
}

} // namespace

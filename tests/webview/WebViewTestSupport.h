#pragma once
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ScratchDirectory.h"
#include "form/EventTable.h"
#include "owners/UniqueHandle.h"
#include "text/AnsiText.h"
#include "webview/WebViewControl.h"

// Helpers for the web view tests: a form window to hold controls, bounded
// message pumping, a recorder for LoadingFinished, a watcher that reads and
// closes message boxes, and throw-away program folders for child runs.

inline constexpr uint32_t TestFormId = 0x52017777;
inline constexpr uint32_t TestUnitId = 0x16017777;

// A path given to the test as a Linux path, as Wine sees it.
std::wstring WindowsPathOf(const std::string& linuxPath);
std::wstring EnvironmentText(const wchar_t* name);
std::wstring ThisProgramPath();

// The folder of this program, ending with a backslash.
std::wstring ProgramFolderPath();

// Code page 936 and UTF-8 bytes of a UTF-16 text, for expected values.
AnsiText Cp936(const std::wstring& text);
std::string Utf8(const std::wstring& text);

// Processes messages until the condition holds or the time is up.
bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
void PumpFor(std::chrono::milliseconds duration);

// A visible window that holds the controls under test.
class TestForm {
public:
    TestForm();

    HWND Handle() const { return window_.Get(); }
    // Creates a web view control in the form; nullptr when creation failed.
    HWND AddWebView(uint32_t unitId, int x = 10, int y = 10, int width = 320, int height = 240,
                    const void* block = nullptr, size_t cbBlock = 0);
    void Destroy() { window_.Reset(); }

private:
    OwnedWindow window_;
};

// Gives an engine window the keyboard focus, its top-level window in front;
// false when it did not get it in time.
bool FocusEngineWindow(HWND engineWindow);
// A real key press or release through the system's input queue.
void SendKey(WORD virtualKey, bool down);

// Counts the host windows of web views that exist under a window.
int WebViewHostCount(HWND form);

// One LoadingFinished as the handler saw it.
struct LoadRecord {
    AnsiText url;
    int32_t result = -1;
    AnsiText reason;
    AnsiText source;         // the page source read inside the handler
    bool argShapeOk = false; // text by reference, int by value, text by reference
};

// Binds LoadingFinished of one control and keeps every raise.
class LoadRecorder {
public:
    LoadRecorder(uint32_t formId, uint32_t unitId);
    ~LoadRecorder();
    LoadRecorder(const LoadRecorder&) = delete;
    LoadRecorder& operator=(const LoadRecorder&) = delete;

    const std::vector<LoadRecord>& Records() const { return records_; }
    bool WaitFor(size_t count, std::chrono::milliseconds timeout) const;

private:
    uint32_t formId_;
    uint32_t unitId_;
    std::vector<LoadRecord> records_;
};

// One raised event as its handler saw it: each argument's kind, by-reference
// flag and value, copied while the event ran.
struct SeenEvent {
    int32_t eventNumber = -1;
    std::string shape;            // e.g. "int text& text&": kind, & for by reference
    std::vector<int32_t> numbers; // per argument; 0 for a text
    std::vector<AnsiText> texts;  // per argument; empty for a number
};

// Binds a set of events of one control and keeps every raise in order. Each
// handler answers what SetAnswer gave for its event, by default no value.
class EventRecorder {
public:
    EventRecorder(uint32_t formId, uint32_t unitId, std::initializer_list<int32_t> events);
    ~EventRecorder();
    EventRecorder(const EventRecorder&) = delete;
    EventRecorder& operator=(const EventRecorder&) = delete;

    void SetAnswer(int32_t eventNumber, std::optional<int32_t> value) { answers_[eventNumber] = value; }
    // Runs inside the handler of the event, before it answers.
    void OnRaise(int32_t eventNumber, std::function<void(const EventRecord&)> action)
    {
        actions_[eventNumber] = action;
    }
    const std::vector<SeenEvent>& Events() const { return events_; }
    std::vector<SeenEvent> Of(int32_t eventNumber) const;
    bool WaitFor(int32_t eventNumber, size_t count, std::chrono::milliseconds timeout) const;
    void Clear() { events_.clear(); }

private:
    uint32_t formId_;
    uint32_t unitId_;
    std::vector<int32_t> bound_;
    std::map<int32_t, std::optional<int32_t>> answers_;
    std::map<int32_t, std::function<void(const EventRecord&)>> actions_;
    std::vector<SeenEvent> events_;
};

// Finds the process's message boxes from a thread of its own, records their
// caption and text, and closes them with OK.
class MessageBoxWatcher {
public:
    struct Box {
        std::wstring caption;
        std::wstring text;
    };
    MessageBoxWatcher();
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;
    std::vector<Box> Boxes() const;

private:
    void Run();
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<Box> boxes_;
    std::vector<HWND> closed_;
    std::thread thread_;
};

// A throw-away folder that plays the program directory of a child run.
class ProgramFolder {
public:
    // The folder itself, or a folder of that name inside it.
    explicit ProgramFolder(const std::wstring& name = {});
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    const std::wstring& Path() const { return path_; } // ends with a backslash
    bool CopyIn(const std::wstring& source, const std::wstring& name) const;
    bool Exists(const std::wstring& name) const;

private:
    ScratchDirectory scratch_;
    std::wstring path_;
};

// Runs this test program from `folder` with the given test filter, in the
// working directory `workingDir` (the folder when empty). Returns the exit
// code, or -1 when it could not start or had to be stopped; the child's
// output is appended to `output`.
int RunChildTests(const ProgramFolder& folder, const std::wstring& filter, std::string& output,
                  const std::wstring& workingDir = {}, std::chrono::seconds timeout = std::chrono::seconds(120));

// Runs the child and expects it to pass at least one test.
void ExpectChildPasses(const ProgramFolder& folder, const std::wstring& filter, const std::wstring& workingDir = {});

// True in a run started by RunChildTests.
bool IsChildRun();

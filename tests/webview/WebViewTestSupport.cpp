#include "tests/webview/WebViewTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "form/ControlIds.h"
#include "form/EventTable.h"
#include "tests/support/MessagePump.h"

namespace {

constexpr wchar_t FormClassName[] = L"KelvoraWebViewTestForm";

bool childRun = false;

struct ChildRunFlag {
    ChildRunFlag() { childRun = !EnvironmentText(L"KELVORA_WEBVIEW_CHILD").empty(); }
} childRunFlag;

BOOL CALLBACK CountHosts(HWND window, LPARAM count)
{
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (std::wstring(className) == L"UlowkeCtrl")
        ++*reinterpret_cast<int*>(count);
    return TRUE;
}

} // namespace

std::wstring WindowsPathOf(const std::string& linuxPath)
{
    std::wstring path = L"Z:";
    for (char c : linuxPath)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return path;
}

std::wstring EnvironmentText(const wchar_t* name)
{
    wchar_t buffer[4096] = {};
    DWORD cch = GetEnvironmentVariableW(name, buffer, 4096);
    return cch && cch < 4096 ? std::wstring(buffer, cch) : std::wstring();
}

std::wstring ThisProgramPath()
{
    wchar_t buffer[MAX_PATH * 2] = {};
    DWORD cch = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 2);
    return std::wstring(buffer, cch);
}

AnsiText Cp936(const std::wstring& text)
{
    if (text.empty())
        return {};
    int cb = WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    AnsiText ansi(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), ansi.data(), cb, nullptr, nullptr);
    return ansi;
}

std::wstring ProgramFolderPath()
{
    std::wstring path = ThisProgramPath();
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::string Utf8(const std::wstring& text)
{
    int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), cb, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(cb) - 1);
    return utf8;
}

bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    return PumpMessagesUntil(condition, static_cast<DWORD>(timeout.count()));
}

void PumpFor(std::chrono::milliseconds duration)
{
    PumpUntil([] { return false; }, duration);
}

TestForm::TestForm()
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = FormClassName;
    RegisterClassExW(&windowClass);
    // One top-level window for the whole run: without a window manager, Wine
    // waits seconds for each top-level window that goes away. Each test's
    // form is a child panel of it.
    static HWND topLevel =
        CreateWindowExW(0, FormClassName, L"web view test", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0,
                        820, 640, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    window_.Reset(CreateWindowExW(0, FormClassName, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 800, 600,
                                  topLevel, nullptr, GetModuleHandleW(nullptr), nullptr));
}

HWND TestForm::AddWebView(uint32_t unitId, int x, int y, int width, int height, const void* block, size_t cbBlock)
{
    WebViewCreateParams params;
    params.parent = window_.Get();
    params.style = WS_TABSTOP;
    params.controlId = unitId & 0xffff;
    params.x = x;
    params.y = y;
    params.width = width;
    params.height = height;
    params.propertyBlock = block;
    params.cbPropertyBlock = cbBlock;
    params.formId = TestFormId;
    params.unitId = unitId;
    return CreateWebViewControl(params);
}

bool FocusEngineWindow(HWND engineWindow)
{
    HWND topLevel = GetAncestor(engineWindow, GA_ROOT);
    SetForegroundWindow(topLevel);
    SetActiveWindow(topLevel);
    SetFocus(engineWindow);
    return PumpUntil([&] { return GetFocus() == engineWindow; }, std::chrono::seconds(5));
}

void SendKey(WORD virtualKey, bool down)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
}

int WebViewHostCount(HWND form)
{
    int count = 0;
    if (form)
        EnumChildWindows(form, CountHosts, reinterpret_cast<LPARAM>(&count));
    return count;
}

LoadRecorder::LoadRecorder(uint32_t formId, uint32_t unitId) : formId_(formId), unitId_(unitId)
{
    BindEvent(formId, unitId, 5, [this](const EventRecord& record) -> std::optional<int32_t> {
        LoadRecord load;
        load.url = EventArgText(record, 0);
        load.result = EventArgInt(record, 1);
        load.reason = EventArgText(record, 2);
        load.argShapeOk = record.argCount == 3 && record.args[0].type == EventArgType::Text && record.args[0].byRef &&
                          record.args[1].type == EventArgType::Int32 && !record.args[1].byRef &&
                          record.args[2].type == EventArgType::Text && record.args[2].byRef;
        load.source = WebViewGetPageSource(record.formId, record.unitId, WebViewKindCode);
        records_.push_back(std::move(load));
        return std::nullopt;
    });
}

LoadRecorder::~LoadRecorder()
{
    BindEvent(formId_, unitId_, 5, nullptr);
}

bool LoadRecorder::WaitFor(size_t count, std::chrono::milliseconds timeout) const
{
    return PumpUntil([&] { return records_.size() >= count; }, timeout);
}

EventRecorder::EventRecorder(uint32_t formId, uint32_t unitId, std::initializer_list<int32_t> events)
    : formId_(formId), unitId_(unitId), bound_(events)
{
    for (int32_t eventNumber : bound_) {
        BindEvent(formId, unitId, eventNumber, [this](const EventRecord& record) -> std::optional<int32_t> {
            SeenEvent seen;
            seen.eventNumber = record.eventNumber;
            for (int i = 0; i < record.argCount; ++i) {
                const EventArg& arg = record.args[i];
                bool text = arg.type == EventArgType::Text;
                seen.shape +=
                    std::string(seen.shape.empty() ? "" : " ") + (text ? "text" : "int") + (arg.byRef ? "&" : "");
                seen.numbers.push_back(text ? 0 : EventArgInt(record, i));
                seen.texts.push_back(text ? EventArgText(record, i) : "");
            }
            events_.push_back(std::move(seen));
            auto action = actions_.find(record.eventNumber);
            if (action != actions_.end() && action->second)
                action->second(record);
            auto answer = answers_.find(record.eventNumber);
            return answer == answers_.end() ? std::nullopt : answer->second;
        });
    }
}

EventRecorder::~EventRecorder()
{
    for (int32_t eventNumber : bound_)
        BindEvent(formId_, unitId_, eventNumber, nullptr);
}

std::vector<SeenEvent> EventRecorder::Of(int32_t eventNumber) const
{
    std::vector<SeenEvent> found;
    for (const SeenEvent& seen : events_)
        if (seen.eventNumber == eventNumber)
            found.push_back(seen);
    return found;
}

bool EventRecorder::WaitFor(int32_t eventNumber, size_t count, std::chrono::milliseconds timeout) const
{
    return PumpUntil([&] { return Of(eventNumber).size() >= count; }, timeout);
}

MessageBoxWatcher::MessageBoxWatcher() : thread_([this] { Run(); }) {}

MessageBoxWatcher::~MessageBoxWatcher()
{
    stop_ = true;
    thread_.join();
}

std::vector<MessageBoxWatcher::Box> MessageBoxWatcher::Boxes() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

void MessageBoxWatcher::Run()
{
    DWORD self = GetCurrentProcessId();
    while (!stop_) {
        HWND box = nullptr;
        while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
            DWORD owner = 0;
            GetWindowThreadProcessId(box, &owner);
            if (owner != self || !IsWindowVisible(box))
                continue;
            std::lock_guard<std::mutex> lock(mutex_);
            bool seen = false;
            for (HWND closed : closed_)
                seen = seen || closed == box;
            if (seen)
                continue;
            wchar_t caption[512] = {};
            wchar_t text[2048] = {};
            GetWindowTextW(box, caption, 512);
            GetDlgItemTextW(box, 0xFFFF, text, 2048);
            boxes_.push_back({caption, text});
            closed_.push_back(box);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        Sleep(20);
    }
}

ProgramFolder::ProgramFolder(const std::wstring& name)
{
    if (scratch_.Path().empty())
        return;
    std::wstring path = name.empty() ? scratch_.Path() : scratch_.Path() + L"\\" + name;
    if (name.empty() || CreateDirectoryW(path.c_str(), nullptr))
        path_ = path + L"\\";
}

bool ProgramFolder::CopyIn(const std::wstring& source, const std::wstring& name) const
{
    return !path_.empty() && CopyFileW(source.c_str(), (path_ + name).c_str(), FALSE);
}

bool ProgramFolder::Exists(const std::wstring& name) const
{
    return GetFileAttributesW((path_ + name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int RunChildTests(const ProgramFolder& folder, const std::wstring& filter, std::string& output,
                  const std::wstring& workingDir, std::chrono::seconds timeout)
{
    std::wstring program = folder.Path() + L"webview_test.exe";
    if (GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES &&
        !folder.CopyIn(ThisProgramPath(), L"webview_test.exe"))
        return -1;
    // The child's output goes to a file: a pipe would be held open by
    // anything the child leaves behind.
    std::wstring logPath = folder.Path() + L"child-output.txt";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE log = CreateFileW(logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    if (log == INVALID_HANDLE_VALUE)
        return -1;
    std::wstring commandLine = L"\"" + program + L"\" --gtest_filter=" + filter;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = log;
    startup.hStdError = log;
    PROCESS_INFORMATION process{};
    SetEnvironmentVariableW(L"KELVORA_WEBVIEW_CHILD", L"1");
    BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  workingDir.empty() ? folder.Path().c_str() : workingDir.c_str(), &startup, &process);
    SetEnvironmentVariableW(L"KELVORA_WEBVIEW_CHILD", nullptr);
    CloseHandle(log);
    if (!started)
        return -1;
    DWORD exitCode = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeout.count() * 1000)) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &exitCode);
    } else {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 10000);
        output += "child run timed out\n";
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    HANDLE read = CreateFileW(logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (read != INVALID_HANDLE_VALUE) {
        char buffer[8192];
        DWORD got = 0;
        while (ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got)
            output.append(buffer, got);
        CloseHandle(read);
    }
    DeleteFileW(logPath.c_str());
    return static_cast<int>(exitCode);
}

void ExpectChildPasses(const ProgramFolder& folder, const std::wstring& filter, const std::wstring& workingDir)
{
    std::string output;
    int exitCode = RunChildTests(folder, filter, output, workingDir);
    EXPECT_EQ(0, exitCode) << output;
    EXPECT_EQ(std::string::npos, output.find("Running 0 tests")) << "the filter matched nothing";
    if (!EnvironmentText(L"KELVORA_WEBVIEW_VERBOSE").empty())
        std::printf("%s", output.c_str());
}

bool IsChildRun()
{
    return childRun;
}

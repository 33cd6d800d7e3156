#include "ScriptThread.h"

#include <objbase.h>

#include "owners/UniqueHandle.h"

namespace {

// How long the runaway stop waits for the thread to be inside the script
// interpreter itself, where it holds no lock of the process (the heap's, the
// loader's) that ending it would leave taken.
constexpr int SafePointTries = 2000;

bool IsInsideModule(HMODULE module, DWORD address)
{
    if (!module)
        return false;
    const auto base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const DWORD start = reinterpret_cast<DWORD>(base);
    return address >= start && address - start < nt->OptionalHeader.SizeOfImage;
}

} // namespace

struct ScriptThread::State {
    KernelHandle thread;
    KernelHandle jobReady{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    KernelHandle jobDone{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    KernelHandle callReady{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    KernelHandle callDone{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    KernelHandle abandoned{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::function<void()> job;
    const std::function<void()>* call = nullptr;
    bool quit = false;
    bool busy = false;
    bool stopped = false;

    bool Valid() const { return jobReady && jobDone && callReady && callDone && abandoned; }
};

namespace {

DWORD WINAPI ScriptThreadMain(void* parameter)
{
    // The thread's own reference: the state outlives the view's side if it must.
    std::unique_ptr<std::shared_ptr<ScriptThread::State>> holder(
        static_cast<std::shared_ptr<ScriptThread::State>*>(parameter));
    const std::shared_ptr<ScriptThread::State> state = *holder;
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    for (;;) {
        WaitForSingleObject(state->jobReady.Get(), INFINITE);
        if (state->quit)
            break;
        if (state->job)
            state->job();
        SetEvent(state->jobDone.Get());
    }
    if (com)
        CoUninitialize();
    return 0;
}

} // namespace

std::unique_ptr<ScriptThread> ScriptThread::Start()
{
    auto state = std::make_shared<State>();
    if (!state->Valid())
        return nullptr;
    auto* parameter = new std::shared_ptr<State>(state);
    // A deep stack: the interpreter recurses for nested calls.
    const HANDLE thread =
        CreateThread(nullptr, 4 * 1024 * 1024, ScriptThreadMain, parameter, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) {
        delete parameter;
        return nullptr;
    }
    state->thread.Reset(thread);
    return std::unique_ptr<ScriptThread>(new ScriptThread(std::move(state)));
}

ScriptThread::~ScriptThread()
{
    if (state_->stopped || state_->busy)
        return;
    state_->quit = true;
    SetEvent(state_->jobReady.Get());
    WaitForSingleObject(state_->thread.Get(), 2000);
}

bool ScriptThread::Stopped() const
{
    return state_->stopped;
}

bool ScriptThread::Busy() const
{
    return state_->busy;
}

bool ScriptThread::Run(std::function<void()> job, DWORD budgetMs)
{
    State& s = *state_;
    if (s.stopped || s.busy)
        return false;
    s.job = std::move(job);
    s.busy = true;
    ResetEvent(s.abandoned.Get());
    SetEvent(s.jobReady.Get());
    const DWORD start = GetTickCount();
    DWORD hostMs = 0;
    for (;;) {
        const HANDLE handles[2] = {s.jobDone.Get(), s.callReady.Get()};
        const DWORD woken = MsgWaitForMultipleObjects(2, handles, FALSE, 20, QS_SENDMESSAGE);
        if (woken == WAIT_OBJECT_0) {
            s.busy = false;
            s.job = nullptr;
            return true;
        }
        if (woken == WAIT_OBJECT_0 + 1) {
            const DWORD callStart = GetTickCount();
            if (s.call)
                (*s.call)();
            hostMs += GetTickCount() - callStart;
            SetEvent(s.callDone.Get());
        } else if (woken == WAIT_OBJECT_0 + 2) {
            // Answers messages sent from other threads; posted ones wait for the loop.
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        // Checked after every call too: a script that calls the host all the time is still a runaway.
        if (GetTickCount() - start - hostMs > budgetMs) {
            StopRunaway();
            s.busy = false;
            return false;
        }
    }
}

bool ScriptThread::OnViewThread(const std::function<void()>& work)
{
    State& s = *state_;
    if (WaitForSingleObject(s.abandoned.Get(), 0) == WAIT_OBJECT_0)
        return false;
    s.call = &work;
    SetEvent(s.callReady.Get());
    const HANDLE handles[2] = {s.callDone.Get(), s.abandoned.Get()};
    const DWORD woken = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    s.call = nullptr;
    return woken == WAIT_OBJECT_0;
}

void ScriptThread::StopRunaway()
{
    State& s = *state_;
    SetEvent(s.abandoned.Get());
    const HANDLE thread = s.thread.Get();
    const HMODULE interpreter = GetModuleHandleW(L"jscript.dll");
    bool ended = false;
    for (int i = 0; i < SafePointTries && !ended; ++i) {
        if (SuspendThread(thread) == static_cast<DWORD>(-1))
            break;
        CONTEXT context{};
        context.ContextFlags = CONTEXT_CONTROL;
        if (GetThreadContext(thread, &context) && IsInsideModule(interpreter, context.Eip))
            ended = TerminateThread(thread, 1) != FALSE;
        else {
            ResumeThread(thread);
            Sleep(1);
        }
    }
    if (!ended)
        TerminateThread(thread, 1);
    WaitForSingleObject(thread, 2000);
    // The job's engine belongs to the dead thread's apartment: its owner leaves it be.
    s.stopped = true;
}

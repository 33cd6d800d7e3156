#pragma once
#include <windows.h>

#include <functional>
#include <memory>

// The thread a document's scripts run on. The view's thread hands it one job
// at a time and waits, serving the job's calls back into the view (alert,
// title, ...) and sent messages meanwhile, so callbacks stay on the view's
// thread and the window keeps answering. A job that runs past its budget is
// stopped by ending the thread: the platform's script engine cannot be
// interrupted, so confinement is the thread itself.
class ScriptThread {
public:
    // Null when no thread could be started.
    static std::unique_ptr<ScriptThread> Start();
    // Ends the thread when it is idle (bounded wait); a stopped or stuck
    // thread is left behind with whatever its job held.
    ~ScriptThread();
    ScriptThread(const ScriptThread&) = delete;
    ScriptThread& operator=(const ScriptThread&) = delete;

    // View's thread: runs job on the script thread. budgetMs counts the
    // job's own time, not the time its calls spend on the view's thread.
    // False when the job had to be stopped; the thread is then gone and
    // Run refuses every later job.
    bool Run(std::function<void()> job, DWORD budgetMs);
    bool Stopped() const;
    bool Busy() const;

    // Script thread, inside a job: runs work on the view's thread and returns
    // once it ran; false when the view's thread no longer waits for the job.
    bool OnViewThread(const std::function<void()>& work);

    struct State;

private:
    explicit ScriptThread(std::shared_ptr<State> state) : state_(std::move(state)) {}
    void StopRunaway();

    std::shared_ptr<State> state_;
};

#include "PageScripts.h"

#include "ScriptContext.h"

namespace {

constexpr wchar_t StoppedMessage[] = L"A script of the page ran longer than 5 seconds and was stopped";

} // namespace

std::wstring JoinArguments(const ScriptCall& call)
{
    std::wstring text;
    for (size_t i = 0; i < call.args.size(); ++i) {
        if (i)
            text += L' ';
        text += call.Text(i);
    }
    return text;
}

bool ScriptContext::Build()
{
    engine = ScriptEngine::Create([this](const std::wstring& message, unsigned errorLine) {
        OnView([&] { host->ScriptConsole(wkeLevelError, message, errorLine); });
    });
    if (!engine)
        return false;
    window = ComPtr<DispatchObject>(new DispatchObject);
    document = ComPtr<DispatchObject>(new DispatchObject);
    console = ComPtr<DispatchObject>(new DispatchObject);
    location = ComPtr<DispatchObject>(new DispatchObject);
    navigator = ComPtr<DispatchObject>(new DispatchObject);
    AddWindowMembers();
    AddDocumentMembers();
    AddConsoleMembers();
    AddLocationMembers();
    AddNavigatorMembers();
    // Pages take window for the global object: what they set on one they
    // read from the other. The engine keeps its own global, so window hands
    // every name it has no member for to that.
    const ComPtr<IDispatchEx> global = engine->GlobalObject();
    if (!global)
        return false;
    window->ForwardOtherNames(global.Get());
    return engine->AddGlobalObject(L"window", window.Get());
}

void ScriptContext::Release()
{
    timers.clear();
    readyListeners.clear();
    loadListeners.clear();
    elements.clear();
    missingIds.clear();
    body.Reset();
    if (window)
        window->StopForwarding();
    window.Reset();
    document.Reset();
    console.Reset();
    location.Reset();
    navigator.Reset();
    engine.reset();
}

void ScriptContext::AddWindowMembers()
{
    DispatchObject& w = *window.Get();
    w.AddMethod(L"alert", [this](ScriptCall& call) {
        const std::wstring message = call.Has(0) ? call.Text(0) : std::wstring();
        OnView([&] { host->ScriptAlert(message); });
        return S_OK;
    });
    w.AddMethod(L"confirm", [this](ScriptCall& call) {
        const std::wstring message = call.Has(0) ? call.Text(0) : std::wstring();
        bool answer = false;
        OnView([&] { answer = host->ScriptConfirm(message); });
        call.ReturnBool(answer);
        return S_OK;
    });
    w.AddMethod(L"prompt", [this](ScriptCall& call) {
        const std::wstring message = call.Has(0) ? call.Text(0) : std::wstring();
        const std::wstring defaultText = call.Has(1) ? call.Text(1) : std::wstring();
        std::optional<std::wstring> answer;
        OnView([&] { answer = host->ScriptPrompt(message, defaultText); });
        if (answer)
            call.ReturnText(*answer);
        else
            call.ReturnNull();
        return S_OK;
    });
    w.AddMethod(L"open", [this](ScriptCall& call) {
        const std::wstring url = call.Has(0) ? call.Text(0) : std::wstring();
        const std::wstring features = call.Has(2) ? call.Text(2) : std::wstring();
        bool opened = false;
        OnView([&] { opened = host->ScriptOpenWindow(url, features); });
        // No window object of the new view exists here: a true value stands for it.
        if (opened)
            call.ReturnBool(true);
        else
            call.ReturnNull();
        return S_OK;
    });
    w.AddMethod(L"setTimeout", [this](ScriptCall& call) { return StartTimer(call, false); });
    w.AddMethod(L"setInterval", [this](ScriptCall& call) { return StartTimer(call, true); });
    w.AddMethod(L"clearTimeout", [this](ScriptCall& call) { return StopTimer(call); });
    w.AddMethod(L"clearInterval", [this](ScriptCall& call) { return StopTimer(call); });
    const auto self = [this](ScriptCall& call) {
        call.ReturnObject(window.Get());
        return call.IsPut() ? DISP_E_MEMBERNOTFOUND : S_OK;
    };
    for (const wchar_t* name : {L"window", L"self", L"top", L"parent"})
        w.AddProperty(name, self);
    w.AddProperty(L"document", [this](ScriptCall& call) {
        call.ReturnObject(document.Get());
        return S_OK;
    });
    w.AddProperty(L"console", [this](ScriptCall& call) {
        call.ReturnObject(console.Get());
        return S_OK;
    });
    w.AddProperty(L"navigator", [this](ScriptCall& call) {
        call.ReturnObject(navigator.Get());
        return S_OK;
    });
    w.AddMethod(L"addEventListener", [this](ScriptCall& call) { return AddListener(call); });
    w.AddMethod(L"attachEvent", [this](ScriptCall& call) { return AddListener(call); });
    w.AddMethod(L"removeEventListener", [](ScriptCall&) { return S_OK; });
    w.AddProperty(L"location", [this](ScriptCall& call) {
        if (call.IsPut()) {
            const std::wstring url = call.Text(0);
            OnView([&] { host->ScriptNavigate(url, WKE_NAVIGATION_TYPE_OTHER); });
            return S_OK;
        }
        call.ReturnObject(location.Get());
        return S_OK;
    });
}

void ScriptContext::AddConsoleMembers()
{
    const std::pair<const wchar_t*, wkeConsoleLevel> levels[] = {{L"log", wkeLevelLog},
                                                                 {L"info", wkeLevelInfo},
                                                                 {L"warn", wkeLevelWarning},
                                                                 {L"error", wkeLevelError},
                                                                 {L"debug", wkeLevelDebug}};
    for (const auto& [name, level] : levels) {
        console->AddMethod(name, [this, level](ScriptCall& call) {
            const std::wstring message = JoinArguments(call);
            OnView([&] { host->ScriptConsole(level, message, line); });
            return S_OK;
        });
    }
}

void ScriptContext::AddLocationMembers()
{
    DispatchObject& l = *location.Get();
    const auto href = [this](ScriptCall& call) {
        if (call.IsPut()) {
            const std::wstring url = call.Text(0);
            OnView([&] { host->ScriptNavigate(url, WKE_NAVIGATION_TYPE_OTHER); });
            return S_OK;
        }
        std::wstring current;
        OnView([&] { current = host->ScriptLocation(); });
        call.ReturnText(current);
        return S_OK;
    };
    l.AddProperty(L"href", href);
    l.SetValue(href);
    l.AddMethod(L"toString", href);
    const auto go = [this](ScriptCall& call) {
        const std::wstring url = call.Text(0);
        OnView([&] { host->ScriptNavigate(url, WKE_NAVIGATION_TYPE_OTHER); });
        return S_OK;
    };
    l.AddMethod(L"assign", go);
    l.AddMethod(L"replace", go);
    l.AddMethod(L"reload", [this](ScriptCall&) {
        OnView([&] { host->ScriptNavigate(std::wstring(), WKE_NAVIGATION_TYPE_RELOAD); });
        return S_OK;
    });
}

HRESULT ScriptContext::StartTimer(ScriptCall& call, bool repeat)
{
    if (!call.Has(0) || timers.size() >= MaxTimers) {
        call.ReturnNumber(0);
        return S_OK;
    }
    Timer timer;
    if (call.args[0]->vt == VT_DISPATCH && call.args[0]->pdispVal) {
        call.args[0]->pdispVal->AddRef();
        timer.function = ComPtr<IDispatch>(call.args[0]->pdispVal);
    } else {
        timer.code = call.Text(0);
    }
    const double delay = call.Number(1, 0);
    timer.delayMs = delay < 0 ? 0 : delay > 0x7FFFFFFF ? 0x7FFFFFFFu : static_cast<unsigned>(delay);
    timer.repeat = repeat;
    const unsigned id = nextTimer++;
    const unsigned delayMs = timer.delayMs;
    timers[id] = std::move(timer);
    OnView([&] { host->ScriptStartTimer(id, delayMs); });
    call.ReturnNumber(id);
    return S_OK;
}

HRESULT ScriptContext::StopTimer(ScriptCall& call)
{
    const double id = call.Number(0, 0);
    const auto found = timers.find(id > 0 && id < 4e9 ? static_cast<unsigned>(id) : 0);
    if (found == timers.end())
        return S_OK;
    timers.erase(found);
    const unsigned stopped = static_cast<unsigned>(id);
    OnView([&] { host->ScriptStopTimer(stopped); });
    return S_OK;
}

void ScriptContext::Fire(unsigned id)
{
    const auto found = timers.find(id);
    if (found == timers.end())
        return;
    line = 0;
    if (found->second.repeat) {
        const unsigned delayMs = found->second.delayMs;
        OnView([&] { host->ScriptStartTimer(id, delayMs); });
        if (found->second.function)
            engine->Call(found->second.function.Get());
        else
            engine->Run(found->second.code, 1);
        return;
    }
    Timer timer = std::move(found->second);
    timers.erase(found);
    if (timer.function)
        engine->Call(timer.function.Get());
    else
        engine->Run(timer.code, 1);
}

std::shared_ptr<PageScripts> PageScripts::Start(PageHost& host, std::string source)
{
    auto thread = ScriptThread::Start();
    if (!thread)
        return nullptr;
    std::shared_ptr<PageScripts> scripts(new PageScripts);
    scripts->host_ = &host;
    scripts->context_ = std::make_unique<ScriptContext>();
    scripts->context_->thread = thread.get();
    scripts->context_->host = &host;
    scripts->context_->source = std::move(source);
    scripts->thread_ = std::move(thread);
    bool built = false;
    ScriptContext* context = scripts->context_.get();
    if (!scripts->RunJob([&] { built = context->Build(); }) || !built)
        return nullptr;
    return scripts;
}

PageScripts::~PageScripts()
{
    if (!thread_)
        return;
    if (thread_->Stopped() || thread_->Busy()) {
        // Its objects live in a dead (or still running) thread's apartment.
        context_.release();
        return;
    }
    ScriptContext* context = context_.get();
    thread_->Run([context] { context->Release(); }, ScriptBudgetMs);
    if (thread_->Stopped())
        context_.release();
}

bool PageScripts::Busy() const
{
    return thread_ && thread_->Busy();
}

bool PageScripts::RunJob(const std::function<void()>& job)
{
    if (!thread_ || thread_->Stopped() || thread_->Busy())
        return false;
    if (thread_->Run(job, ScriptBudgetMs))
        return true;
    if (thread_->Stopped()) {
        // Nothing of the page runs again: its timers go with it.
        for (const auto& [id, timer] : context_->timers)
            host_->ScriptStopTimer(id);
        host_->ScriptConsole(wkeLevelError, StoppedMessage, context_->line);
    }
    return false;
}

std::vector<std::string> PageScripts::RunBlocks(const std::vector<ScriptBlock>& blocks, const std::string& bodyOnload)
{
    std::vector<std::string> writes(blocks.size());
    ScriptContext* context = context_.get();
    RunJob([&] {
        for (size_t i = 0; i < blocks.size(); ++i) {
            context->line = blocks[i].line;
            context->writes = &writes[i];
            context->engine->Run(Utf8ToWide(blocks[i].code), blocks[i].line, true);
        }
        context->FireLoad(Utf8ToWide(bodyOnload));
    });
    return writes;
}

void PageScripts::FireTimer(unsigned id)
{
    ScriptContext* context = context_.get();
    RunJob([context, id] { context->Fire(id); });
}

void PageScripts::RunCode(const std::wstring& code)
{
    ScriptContext* context = context_.get();
    RunJob([context, &code] {
        context->line = 0;
        context->engine->Run(code, 1);
    });
}

// The document side of a page's scripts: document and its elements as
// lookup pages read them, navigator, and the handlers that run once the page
// is in.
#include "HtmlElements.h"
#include "PageElements.h"
#include "ScriptContext.h"

namespace {

constexpr size_t MaxListeners = 1000;
// Ids found missing, remembered so that a loop asking for them does not read the page each time.
constexpr size_t MaxMissingIds = 1000;

} // namespace

void ScriptContext::AddDocumentMembers()
{
    DispatchObject& d = *document.Get();
    // A text of the host's, read and written on the view's thread.
    const auto hostText = [this](std::wstring (PageHost::*read)(), void (PageHost::*write)(const std::wstring&)) {
        return [this, read, write](ScriptCall& call) {
            if (call.IsPut()) {
                const std::wstring text = call.Text(0);
                OnView([&] { (host->*write)(text); });
                return S_OK;
            }
            std::wstring text;
            OnView([&] { text = (host->*read)(); });
            call.ReturnText(text);
            return S_OK;
        };
    };
    d.AddProperty(L"title", hostText(&PageHost::ScriptTitle, &PageHost::ScriptSetTitle));
    d.AddProperty(L"cookie", hostText(&PageHost::ScriptCookie, &PageHost::ScriptSetCookie));
    const auto url = [this](ScriptCall& call) {
        std::wstring href;
        OnView([&] { href = host->ScriptLocation(); });
        call.ReturnText(href);
        return call.IsPut() ? DISP_E_MEMBERNOTFOUND : S_OK;
    };
    d.AddProperty(L"URL", url);
    d.AddMethod(L"getElementById", [this](ScriptCall& call) { return ElementById(call); });
    d.AddProperty(L"body", [this](ScriptCall& call) {
        if (!body) {
            body = MakeElementObject(FindBodyElement(source));
        }
        call.ReturnObject(body.Get());
        return S_OK;
    });
    d.AddMethod(L"addEventListener", [this](ScriptCall& call) { return AddListener(call); });
    d.AddMethod(L"removeEventListener", [](ScriptCall&) { return S_OK; });
    d.AddProperty(L"location", [this](ScriptCall& call) {
        call.ReturnObject(location.Get());
        return S_OK;
    });
    // Written text joins the page only while it loads; later writes are dropped.
    d.AddMethod(L"write", [this](ScriptCall& call) {
        Write(JoinArguments(call));
        return S_OK;
    });
    d.AddMethod(L"writeln", [this](ScriptCall& call) {
        Write(JoinArguments(call) + L"\n");
        return S_OK;
    });
}

void ScriptContext::AddNavigatorMembers()
{
    DispatchObject& n = *navigator.Get();
    const auto text = [](const wchar_t* value) {
        return [value](ScriptCall& call) {
            call.ReturnText(value);
            return S_OK;
        };
    };
    n.AddProperty(L"userAgent", [this](ScriptCall& call) {
        std::wstring agent;
        OnView([&] { agent = host->ScriptUserAgent(); });
        call.ReturnText(agent);
        return S_OK;
    });
    n.AddProperty(L"appName", text(L"Netscape"));
    n.AddProperty(L"platform", text(L"Win32"));
    n.AddProperty(L"language", text(L"zh-CN"));
    n.AddProperty(L"cookieEnabled", [](ScriptCall& call) {
        call.ReturnBool(true);
        return S_OK;
    });
}

// addEventListener(type, f) and attachEvent("on" + type, f) for the two
// events of a page's load; other events never fire here.
HRESULT ScriptContext::AddListener(ScriptCall& call)
{
    if (!call.Has(1) || call.args[1]->vt != VT_DISPATCH || !call.args[1]->pdispVal)
        return S_OK;
    const std::wstring type = call.Text(0);
    auto* list = type == L"load" || type == L"onload" ? &loadListeners
                 : type == L"DOMContentLoaded"        ? &readyListeners
                                                      : nullptr;
    if (!list || list->size() >= MaxListeners)
        return S_OK;
    call.args[1]->pdispVal->AddRef();
    list->push_back(ComPtr<IDispatch>(call.args[1]->pdispVal));
    return S_OK;
}

HRESULT ScriptContext::ElementById(ScriptCall& call)
{
    const std::wstring id = call.Text(0);
    auto found = elements.find(id);
    if (found == elements.end()) {
        std::optional<HtmlElement> element;
        if (!missingIds.count(id))
            element = FindElementById(source, WideToUtf8(id));
        if (!element) {
            if (missingIds.size() < MaxMissingIds)
                missingIds.insert(id);
            call.ReturnNull();
            return S_OK;
        }
        found = elements.emplace(id, MakeElementObject(std::move(*element))).first;
    }
    call.ReturnObject(found->second.Get());
    return S_OK;
}

// After the page's blocks: DOMContentLoaded listeners, then window.onload and
// the load listeners, as a browser runs them once the page is in.
void ScriptContext::FireLoad(const std::wstring& bodyOnload)
{
    line = 0;
    writes = nullptr;
    // By index, up to the count at the start: a listener may add listeners.
    const auto callAll = [this](const std::vector<ComPtr<IDispatch>>& listeners) {
        const size_t count = listeners.size();
        for (size_t i = 0; i < count; ++i)
            engine->Call(listeners[i].Get());
    };
    callAll(readyListeners);
    // <body onload> is the page's window.onload unless a script set another.
    if (const ComPtr<IDispatch> onload = engine->GlobalFunction(L"onload"))
        engine->Call(onload.Get());
    else if (!bodyOnload.empty())
        engine->Run(bodyOnload, 1);
    callAll(loadListeners);
}

#include "PageElements.h"

#include <memory>
#include <optional>

#include "Charset.h"

namespace {

struct ElementState {
    HtmlElement element;
    std::optional<std::wstring> value; // once a script wrote one
};

// Text written as innerText stands as text, not markup.
std::string EscapeHtml(const std::wstring& text)
{
    std::string html;
    for (char c : WideToUtf8(text)) {
        switch (c) {
        case '&': html += "&amp;"; break;
        case '<': html += "&lt;"; break;
        case '>': html += "&gt;"; break;
        default: html += c; break;
        }
    }
    return html;
}

// A property that only reads.
MemberHandler ReadOnly(std::function<std::wstring()> read)
{
    return [read = std::move(read)](ScriptCall& call) {
        if (call.IsPut())
            return S_OK;
        call.ReturnText(read());
        return S_OK;
    };
}

} // namespace

ComPtr<DispatchObject> MakeElementObject(HtmlElement element)
{
    auto state = std::make_shared<ElementState>();
    state->element = std::move(element);
    ComPtr<DispatchObject> object(new DispatchObject);
    DispatchObject& e = *object.Get();
    e.AddProperty(L"innerHTML", [state](ScriptCall& call) {
        if (call.IsPut())
            state->element.innerHtml = WideToUtf8(call.Text(0));
        else
            call.ReturnText(Utf8ToWide(state->element.innerHtml));
        return S_OK;
    });
    const auto text = [state](ScriptCall& call) {
        if (call.IsPut())
            state->element.innerHtml = EscapeHtml(call.Text(0));
        else
            call.ReturnText(ElementText(state->element));
        return S_OK;
    };
    e.AddProperty(L"innerText", text);
    e.AddProperty(L"textContent", text);
    e.AddProperty(L"value", [state](ScriptCall& call) {
        if (call.IsPut()) {
            state->value = call.Text(0);
            return S_OK;
        }
        const std::optional<std::wstring> value = state->value ? state->value : ElementValue(state->element);
        // Elements without a value give undefined, as in a browser.
        if (value)
            call.ReturnText(*value);
        return S_OK;
    });
    e.AddProperty(L"id", ReadOnly([state] { return Utf8ToWide(state->element.tag.Attribute("id")); }));
    e.AddProperty(L"className", ReadOnly([state] { return Utf8ToWide(state->element.tag.Attribute("class")); }));
    e.AddProperty(L"tagName", ReadOnly([state] {
                      std::wstring name = Utf8ToWide(state->element.tag.name);
                      for (wchar_t& c : name)
                          c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
                      return name;
                  }));
    e.AddMethod(L"getAttribute", [state](ScriptCall& call) {
        const std::string name = AsciiLower(WideToUtf8(call.Text(0)));
        if (state->element.tag.HasAttribute(name))
            call.ReturnText(Utf8ToWide(state->element.tag.Attribute(name)));
        else
            call.ReturnNull();
        return S_OK;
    });
    return object;
}

#include "HtmlElements.h"

#include <algorithm>
#include <functional>

#include "Charset.h"
#include "HtmlText.h"

namespace {

bool IsVoidElement(std::string_view name)
{
    for (const char* empty : {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param",
                              "source", "track", "wbr"}) {
        if (name == empty)
            return true;
    }
    return false;
}

// The next tag at or after pos, past text, comments and declarations: reads
// it into tag, moves pos past it and gives the position of its '<'; npos at
// the page's end.
size_t ReadNextTag(std::string_view html, size_t& pos, Tag& tag)
{
    while (pos < html.size()) {
        const size_t lt = html.find('<', pos);
        if (lt == std::string_view::npos)
            break;
        if (!StartsMarkup(html, lt)) {
            pos = lt + 1;
            continue;
        }
        if (html[lt + 1] == '!' || html[lt + 1] == '?') {
            pos = SkipCommentOrDeclaration(html, lt);
            continue;
        }
        pos = ReadTag(html, lt, tag);
        return lt;
    }
    return std::string_view::npos;
}

// Where the content of the element whose start tag ends at pos stops: its own
// end tag, counting nested elements of the same name; without one, the page's end.
size_t ContentEnd(std::string_view html, size_t pos, std::string_view name)
{
    int depth = 1;
    for (;;) {
        Tag tag;
        const size_t lt = ReadNextTag(html, pos, tag);
        if (lt == std::string_view::npos)
            break;
        if (tag.name == name && (tag.end ? --depth : ++depth) == 0)
            return lt;
        if (!tag.end && IsRawTextElement(tag.name))
            pos = SkipRawText(html, pos, tag.name);
    }
    return html.size();
}

// The first element whose start tag fits.
std::optional<HtmlElement> FindElement(std::string_view html, const std::function<bool(const Tag&)>& fits)
{
    size_t pos = 0;
    for (;;) {
        HtmlElement element;
        if (ReadNextTag(html, pos, element.tag) == std::string_view::npos)
            break;
        const bool rawText = !element.tag.end && IsRawTextElement(element.tag.name);
        if (!element.tag.end && fits(element.tag)) {
            size_t end = pos;
            if (rawText) {
                end = FindEndTag(html, pos, element.tag.name);
                end = end == std::string_view::npos ? html.size() : end;
            } else if (!IsVoidElement(element.tag.name)) {
                end = ContentEnd(html, pos, element.tag.name);
            }
            element.innerHtml = std::string(html.substr(pos, end - pos));
            return element;
        }
        if (rawText)
            pos = SkipRawText(html, pos, element.tag.name);
    }
    return std::nullopt;
}

} // namespace

std::optional<HtmlElement> FindElementById(std::string_view html, std::string_view id)
{
    if (id.empty())
        return std::nullopt;
    return FindElement(html, [id](const Tag& tag) { return tag.HasAttribute("id") && tag.Attribute("id") == id; });
}

HtmlElement FindBodyElement(std::string_view html)
{
    if (auto body = FindElement(html, [](const Tag& tag) { return tag.name == "body"; }))
        return std::move(*body);
    HtmlElement whole;
    whole.tag.name = "body";
    whole.innerHtml = std::string(html);
    return whole;
}

std::wstring ElementText(const HtmlElement& element)
{
    if (element.tag.name == "textarea" || element.tag.name == "title")
        return Utf8ToWide(DecodeEntities(element.innerHtml));
    if (element.tag.name == "script" || element.tag.name == "style")
        return Utf8ToWide(element.innerHtml);
    const PageText page = ExtractPageText(element.innerHtml, false);
    std::wstring text;
    for (const TextItem& item : page.items) {
        if (item.kind == TextItem::Kind::Text)
            text += item.text;
        else if (item.kind == TextItem::Kind::LineBreak || (!text.empty() && text.back() != L'\n')) {
            while (!text.empty() && text.back() == L' ')
                text.pop_back();
            text += L'\n';
        }
    }
    while (!text.empty() && (text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    text.erase(0, std::min(text.find_first_not_of(L"\n "), text.size()));
    return text;
}

std::optional<std::wstring> ElementValue(const HtmlElement& element)
{
    const std::string& name = element.tag.name;
    if (name == "textarea")
        return Utf8ToWide(DecodeEntities(element.innerHtml));
    if (name == "option" && !element.tag.HasAttribute("value"))
        return ElementText(element);
    if (name == "input" || name == "option" || name == "button" || name == "param")
        return Utf8ToWide(element.tag.Attribute("value"));
    return std::nullopt;
}

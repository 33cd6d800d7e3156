#include "HtmlTags.h"

#include <algorithm>

#include "Charset.h"
#include "HtmlText.h"

namespace {

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

} // namespace

std::string Tag::Attribute(std::string_view attributeName) const
{
    for (const auto& [n, v] : attributes) {
        if (n == attributeName)
            return v;
    }
    return {};
}

bool Tag::HasAttribute(std::string_view attributeName) const
{
    return std::any_of(attributes.begin(), attributes.end(), [&](const auto& a) { return a.first == attributeName; });
}

bool IsHtmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool IsTagNameByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == ':' ||
           c == '_';
}

bool StartsMarkup(std::string_view html, size_t lt)
{
    const char next = lt + 1 < html.size() ? html[lt + 1] : '\0';
    return IsLetter(next) || next == '!' || next == '?' ||
           (next == '/' && lt + 2 < html.size() && IsLetter(html[lt + 2]));
}

size_t ReadTag(std::string_view html, size_t pos, Tag& tag)
{
    size_t i = pos + 1;
    if (html[i] == '/') {
        tag.end = true;
        ++i;
    }
    const size_t nameStart = i;
    while (i < html.size() && IsTagNameByte(html[i]))
        ++i;
    tag.name = AsciiLower(html.substr(nameStart, i - nameStart));
    while (i < html.size() && html[i] != '>') {
        if (IsHtmlSpace(html[i]) || html[i] == '/') {
            ++i;
            continue;
        }
        const size_t attrStart = i;
        while (i < html.size() && !IsHtmlSpace(html[i]) && html[i] != '=' && html[i] != '>' &&
               (html[i] != '/' || i == attrStart))
            ++i;
        std::string name = AsciiLower(html.substr(attrStart, i - attrStart));
        while (i < html.size() && IsHtmlSpace(html[i]))
            ++i;
        std::string value;
        if (i < html.size() && html[i] == '=') {
            ++i;
            while (i < html.size() && IsHtmlSpace(html[i]))
                ++i;
            if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
                const char quote = html[i++];
                const size_t close = html.find(quote, i);
                const size_t end = close == std::string_view::npos ? html.size() : close;
                value = DecodeEntities(html.substr(i, end - i));
                i = close == std::string_view::npos ? html.size() : close + 1;
            } else {
                const size_t valueStart = i;
                while (i < html.size() && !IsHtmlSpace(html[i]) && html[i] != '>')
                    ++i;
                value = DecodeEntities(html.substr(valueStart, i - valueStart));
            }
        }
        if (!name.empty() && tag.attributes.size() < 64)
            tag.attributes.emplace_back(std::move(name), std::move(value));
    }
    return i < html.size() ? i + 1 : html.size();
}

size_t FindEndTag(std::string_view html, size_t pos, std::string_view name)
{
    while ((pos = html.find("</", pos)) != std::string_view::npos) {
        const std::string_view candidate = html.substr(pos + 2, name.size());
        if (AsciiLower(candidate) == name) {
            const size_t after = pos + 2 + name.size();
            if (after >= html.size() || !IsTagNameByte(html[after]))
                return pos;
        }
        pos += 2;
    }
    return std::string_view::npos;
}

size_t SkipCommentOrDeclaration(std::string_view html, size_t lt)
{
    if (html.substr(lt, 4) == "<!--") {
        const size_t close = html.find("-->", lt + 4);
        return close == std::string_view::npos ? html.size() : close + 3;
    }
    const size_t close = html.find('>', lt);
    return close == std::string_view::npos ? html.size() : close + 1;
}

bool IsRawTextElement(std::string_view name)
{
    return name == "script" || name == "style" || name == "title" || name == "textarea";
}

size_t SkipRawText(std::string_view html, size_t pos, std::string_view name)
{
    const size_t close = FindEndTag(html, pos, name);
    const size_t closeEnd = close == std::string_view::npos ? std::string_view::npos : html.find('>', close);
    return closeEnd == std::string_view::npos ? html.size() : closeEnd + 1;
}

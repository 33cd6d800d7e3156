#include "HtmlText.h"

#include <algorithm>
#include <array>

#include "Charset.h"
#include "HtmlTags.h"

namespace {

// Text beyond this is never on screen in a view without scrolling; cutting it
// keeps a huge page from costing memory for nothing. Tags are still read past
// it: scripts, the title and a refresh may stand after a long text.
constexpr size_t MaxShownBytes = 256 * 1024;
constexpr size_t MaxScripts = 2000;

constexpr std::array LineBlocks = {"address", "article", "aside",   "body",     "caption",    "center", "dd",
                                   "details", "div",     "dt",      "fieldset", "figcaption", "figure", "footer",
                                   "form",    "header",  "html",    "legend",   "li",         "main",   "nav",
                                   "option",  "section", "summary", "tbody",    "tfoot",      "thead",  "tr"};
constexpr std::array ParagraphBlocks = {"blockquote", "dl", "h1", "h2", "h3",  "h4",    "h5",
                                        "h6",         "hr", "ol", "p",  "pre", "table", "ul"};
constexpr std::array BoldElements = {"b", "strong", "h1", "h2", "h3", "h4", "h5", "h6", "th"};

template <size_t N>
bool IsOneOf(std::string_view name, const std::array<const char*, N>& names)
{
    return std::any_of(names.begin(), names.end(), [name](const char* n) { return name == n; });
}

// Appends `c`, a run of HTML spaces becoming one blank; `lastWasSpace`
// carries the run from one character to the next.
void AppendCollapsingSpaces(std::string& out, char c, bool& lastWasSpace)
{
    const bool space = IsHtmlSpace(c);
    if (!space || !lastWasSpace)
        out += space ? ' ' : c;
    lastWasSpace = space;
}

std::string CollapseSpaces(std::string_view text)
{
    std::string out;
    bool space = true;
    for (char c : text)
        AppendCollapsingSpaces(out, c, space);
    if (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::optional<MetaRefresh> ParseRefresh(std::string_view content)
{
    size_t i = 0;
    while (i < content.size() && IsHtmlSpace(content[i]))
        ++i;
    if (i >= content.size() || content[i] < '0' || content[i] > '9')
        return std::nullopt;
    MetaRefresh refresh;
    while (i < content.size() && content[i] >= '0' && content[i] <= '9') {
        refresh.delaySeconds = std::min(refresh.delaySeconds * 10 + static_cast<unsigned>(content[i] - '0'), 1000000u);
        ++i;
    }
    while (i < content.size() && (content[i] == '.' || (content[i] >= '0' && content[i] <= '9')))
        ++i;
    while (i < content.size() && (IsHtmlSpace(content[i]) || content[i] == ';' || content[i] == ','))
        ++i;
    std::string_view rest = content.substr(i);
    if (AsciiLower(rest.substr(0, 3)) == "url") {
        size_t j = 3;
        while (j < rest.size() && IsHtmlSpace(rest[j]))
            ++j;
        if (j < rest.size() && rest[j] == '=') {
            rest = rest.substr(j + 1);
            while (!rest.empty() && IsHtmlSpace(rest.front()))
                rest.remove_prefix(1);
        }
    }
    if (!rest.empty() && (rest.front() == '"' || rest.front() == '\'')) {
        const char quote = rest.front();
        rest.remove_prefix(1);
        rest = rest.substr(0, rest.find(quote));
    }
    while (!rest.empty() && IsHtmlSpace(rest.back()))
        rest.remove_suffix(1);
    refresh.url = std::string(rest);
    return refresh;
}

class TextCollector {
public:
    explicit TextCollector(PageText& page) : page_(page) {}

    bool Full() const { return shownBytes_ >= MaxShownBytes; }

    // Plain text has no character references, so it is not decoded.
    void AddText(std::string_view raw, bool decode = true)
    {
        if (Full())
            return;
        std::string text = decode ? DecodeEntities(raw) : std::string(raw);
        if (text.size() > MaxShownBytes - shownBytes_) {
            // One long run is cut too, at a character's start.
            size_t cut = MaxShownBytes - shownBytes_;
            while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
                --cut;
            text.resize(cut);
        }
        for (char c : text) {
            if (pre_ > 0 && c == '\n') {
                Break(TextItem::Kind::LineBreak);
            } else if (pre_ > 0 && c != '\r') {
                pending_ += c == '\t' ? ' ' : c;
            } else {
                AppendCollapsingSpaces(pending_, c, lastWasSpace_);
            }
        }
        shownBytes_ += text.size();
    }

    void Break(TextItem::Kind kind)
    {
        // Breaks count too: a page of nothing but <br> must not grow without bound.
        if (Full())
            return;
        ++shownBytes_;
        Flush();
        TextItem item;
        item.kind = kind;
        page_.items.push_back(std::move(item));
        lastWasSpace_ = true;
    }

    void StartLink(std::string href)
    {
        Flush();
        if (Full())
            return;
        shownBytes_ += href.size();
        link_ = static_cast<int>(page_.links.size());
        page_.links.push_back(std::move(href));
    }
    void EndLink()
    {
        Flush();
        link_ = -1;
    }
    void ChangeBold(int delta)
    {
        Flush();
        bold_ = std::max(0, bold_ + delta);
    }
    void ChangePre(int delta) { pre_ = std::max(0, pre_ + delta); }

    void Flush()
    {
        if (pending_.empty())
            return;
        TextItem item;
        item.text = Utf8ToWide(pending_);
        item.link = link_;
        item.bold = bold_ > 0;
        item.preformatted = pre_ > 0;
        page_.items.push_back(std::move(item));
        pending_.clear();
    }

private:
    PageText& page_;
    std::string pending_;
    bool lastWasSpace_ = true;
    int link_ = -1;
    int bold_ = 0;
    int pre_ = 0;
    size_t shownBytes_ = 0;
};

void HandleTag(const Tag& tag, TextCollector& text, PageText& page)
{
    const std::string& name = tag.name;
    if (name == "br" && !tag.end) {
        text.Break(TextItem::Kind::LineBreak);
        return;
    }
    if (IsOneOf(name, ParagraphBlocks))
        text.Break(TextItem::Kind::ParagraphBreak);
    else if (IsOneOf(name, LineBlocks))
        text.Break(TextItem::Kind::BlockBreak);
    if (IsOneOf(name, BoldElements))
        text.ChangeBold(tag.end ? -1 : 1);
    if (name == "pre" || name == "listing")
        text.ChangePre(tag.end ? -1 : 1);
    if (name == "td" || name == "th")
        text.AddText(" ");
    if (name == "li" && !tag.end)
        text.AddText("\xE2\x80\xA2 ");
    if (name == "a") {
        if (tag.end)
            text.EndLink();
        else if (tag.HasAttribute("href"))
            text.StartLink(tag.Attribute("href"));
    }
    if (name == "body" && !tag.end && page.bodyOnload.empty())
        page.bodyOnload = tag.Attribute("onload");
    if (name == "meta" && !tag.end && !page.refresh && AsciiLower(tag.Attribute("http-equiv")) == "refresh")
        page.refresh = ParseRefresh(tag.Attribute("content"));
}

// A script element the engine runs: inline, and of no other language.
bool IsRunnableScript(const Tag& tag)
{
    if (tag.HasAttribute("src"))
        return false;
    const std::string type = AsciiLower(tag.Attribute("type"));
    const std::string language = AsciiLower(tag.Attribute("language"));
    const bool scriptType = type.empty() || type.find("javascript") != std::string::npos ||
                            type.find("jscript") != std::string::npos || type.find("ecmascript") != std::string::npos;
    return scriptType && (language.empty() || language.find("script") != std::string::npos) &&
           language.find("vbscript") == std::string::npos;
}

// Whether the tag at html[lt] is one that counts once no more text is kept:
// scripts, the title, a refresh, the body's onload, and the elements whose
// content must be skipped as text.
bool MattersPastTheText(std::string_view html, size_t lt)
{
    size_t i = lt + 1;
    if (i < html.size() && html[i] == '/')
        ++i;
    char name[9] = {};
    size_t length = 0;
    for (; i < html.size() && IsTagNameByte(html[i]); ++i) {
        if (length == sizeof name - 1)
            return false;
        const char c = html[i];
        name[length++] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view tagName(name, length);
    return IsRawTextElement(tagName) || tagName == "meta" || tagName == "body";
}

// Line numbers of offsets met in increasing order, counted once.
class LineCounter {
public:
    explicit LineCounter(std::string_view html) : html_(html) {}
    unsigned LineOf(size_t offset)
    {
        for (; counted_ < offset && counted_ < html_.size(); ++counted_)
            line_ += html_[counted_] == '\n';
        return line_;
    }

private:
    std::string_view html_;
    size_t counted_ = 0;
    unsigned line_ = 1;
};

} // namespace

PageText ExtractPageText(std::string_view html, bool plainText)
{
    PageText page;
    TextCollector text(page);
    if (plainText) {
        text.ChangePre(1);
        text.AddText(html, false);
        text.Flush();
        return page;
    }

    LineCounter lines(html);
    size_t pos = 0;
    while (pos < html.size()) {
        const size_t lt = html.find('<', pos);
        if (lt == std::string_view::npos) {
            text.AddText(html.substr(pos));
            break;
        }
        if (!StartsMarkup(html, lt)) {
            text.AddText(html.substr(pos, lt + 1 - pos));
            pos = lt + 1;
            continue;
        }
        text.AddText(html.substr(pos, lt - pos));
        const char next = html[lt + 1];
        if (next == '!' || next == '?') {
            pos = SkipCommentOrDeclaration(html, lt);
            continue;
        }
        if (text.Full() && !MattersPastTheText(html, lt)) {
            // Nothing of it would be kept: past it without reading attributes.
            const size_t close = html.find('>', lt);
            pos = close == std::string_view::npos ? html.size() : close + 1;
            continue;
        }
        Tag tag;
        pos = ReadTag(html, lt, tag);
        if (!tag.end && IsRawTextElement(tag.name)) {
            const size_t close = FindEndTag(html, pos, tag.name);
            const std::string_view content =
                html.substr(pos, close == std::string_view::npos ? std::string_view::npos : close - pos);
            if (tag.name == "script" && IsRunnableScript(tag) && page.scripts.size() < MaxScripts)
                page.scripts.push_back({std::string(content), 0, lines.LineOf(pos)});
            if (tag.name == "title" && !page.title)
                page.title = CollapseSpaces(DecodeEntities(content));
            else if (tag.name == "textarea")
                text.AddText(content);
            const size_t closeEnd = close == std::string_view::npos ? std::string_view::npos : html.find('>', close);
            pos = closeEnd == std::string_view::npos ? html.size() : closeEnd + 1;
            if (tag.name == "script" && !page.scripts.empty() && page.scripts.back().end == 0)
                page.scripts.back().end = pos;
            continue;
        }
        HandleTag(tag, text, page);
    }
    text.Flush();
    return page;
}

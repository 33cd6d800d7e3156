#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the engine shows of a page: its visible text as a flat list of runs
// and breaks, plus the head's title and refresh instruction. Tags are
// stripped, script and style content is dropped, entities are decoded.

struct TextItem {
    // A line break always starts a new line; block and paragraph breaks only
    // end a line that has text, a paragraph break with some space after it.
    enum class Kind { Text, LineBreak, BlockBreak, ParagraphBreak };
    Kind kind = Kind::Text;
    std::wstring text; // Kind::Text only; whitespace already collapsed outside <pre>
    int link = -1;     // index into PageText::links, or -1
    bool bold = false;
    bool preformatted = false; // spaces at a line's start are kept
};

struct MetaRefresh {
    unsigned delaySeconds = 0;
    std::string url; // as written, UTF-8; empty: the page itself
};

// An inline script of the page (no src, a script type), in document order.
struct ScriptBlock {
    std::string code;  // UTF-8, as written
    size_t end = 0;    // offset just after its end tag in the page
    unsigned line = 1; // line of the page where the code starts
};

struct PageText {
    std::optional<std::string> title; // UTF-8, whitespace collapsed
    std::optional<MetaRefresh> refresh;
    std::vector<TextItem> items;
    std::vector<std::string> links; // href values as written, UTF-8
    std::vector<ScriptBlock> scripts;
    std::string bodyOnload; // the code of <body onload="...">, UTF-8
};

// Reads a UTF-8 page. Plain text keeps its lines as they are.
PageText ExtractPageText(std::string_view utf8Html, bool plainText);

// Replaces character references (&amp; &#20013; &#x4E2D;) in UTF-8 text.
std::string DecodeEntities(std::string_view text);

#pragma once
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Reading tags out of a UTF-8 page: what the text extraction and the page
// scripts' element lookups share.

struct Tag {
    std::string name; // lower case
    bool end = false;
    std::vector<std::pair<std::string, std::string>> attributes; // names lower case, values decoded

    std::string Attribute(std::string_view attributeName) const;
    bool HasAttribute(std::string_view attributeName) const;
};

bool IsHtmlSpace(char c);
bool IsTagNameByte(char c);

// Whether html[lt] == '<' starts markup (a tag, an end tag, a comment or a
// declaration) rather than a plain '<' of the text.
bool StartsMarkup(std::string_view html, size_t lt);
// Reads the tag starting at html[pos] == '<'; returns the position after '>'.
size_t ReadTag(std::string_view html, size_t pos, Tag& tag);
// Where "</name" starts at or after pos, compared without case; npos if never.
size_t FindEndTag(std::string_view html, size_t pos, std::string_view name);
// Past the comment or declaration at html[lt] ("<!--", "<!", "<?").
size_t SkipCommentOrDeclaration(std::string_view html, size_t lt);
// Elements whose content is text up to their end tag, not markup.
bool IsRawTextElement(std::string_view name);
// Past the end tag of the raw-text element whose content starts at pos.
size_t SkipRawText(std::string_view html, size_t pos, std::string_view name);

#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "HtmlTags.h"

// Elements of a served page as its scripts read them (getElementById,
// document.body): found in the UTF-8 source, not in a tree.
struct HtmlElement {
    Tag tag;               // the start tag: name and attributes
    std::string innerHtml; // UTF-8, as written between the start and the end tag
};

// The first element whose id is exactly id; none when there is no such one.
std::optional<HtmlElement> FindElementById(std::string_view html, std::string_view id);
// The <body> element; without one, the whole page stands for it.
HtmlElement FindBodyElement(std::string_view html);

// What innerText gives: the visible text, one line per line or block.
std::wstring ElementText(const HtmlElement& element);
// What value gives: an input's value attribute, a textarea's text; none for
// elements that have no value.
std::optional<std::wstring> ElementValue(const HtmlElement& element);

#include "json/JsonLiteral.h"

#include <string>
#include <vector>

namespace {

bool IsSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool IsDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

bool IsHex(char16_t c)
{
    return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

int HexValue(char16_t c)
{
    if (IsDigit(c))
        return c - u'0';
    return (c | 0x20) - u'a' + 10;
}

bool IsNameStart(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u'$';
}

bool IsNamePart(char16_t c)
{
    return IsNameStart(c) || IsDigit(c);
}

// Raw characters that may not stand inside a string literal: controls other
// than tab (JSON needs them escaped) and the line terminators, which end a
// literal early in some engines and not in others.
bool IsForbiddenInString(char16_t c)
{
    return (c < 0x20 && c != u'\t') || c == 0x2028 || c == 0x2029;
}

class LiteralReader {
public:
    explicit LiteralReader(std::u16string_view text) : text_(text) {}

    // Reads the whole text as one value; `content` receives the decoded text
    // when that value is a lone string literal.
    bool ReadWhole(bool& isString, std::u16string& content);

private:
    enum class Container : char { Object, Array };

    char16_t Peek() const { return at_ < text_.size() ? text_[at_] : u'\0'; }
    bool AtEnd() const { return at_ >= text_.size(); }
    void SkipSpace()
    {
        while (!AtEnd() && IsSpace(text_[at_]))
            ++at_;
    }

    bool ReadString(std::u16string* decoded);
    bool ReadNumber(bool allowSign);
    bool ReadWord();
    bool ReadMemberName();
    bool ReadScalar(bool& isString, std::u16string* decoded);

    std::u16string_view text_;
    std::size_t at_ = 0;
};

// Accepts only escapes whose meaning every engine agrees on; "\v", octal
// escapes and line continuations differ between engines and are refused.
bool LiteralReader::ReadString(std::u16string* decoded)
{
    char16_t quote = text_[at_++];
    while (!AtEnd()) {
        char16_t c = text_[at_++];
        if (c == quote)
            return true;
        if (IsForbiddenInString(c))
            return false;
        if (c != u'\\') {
            if (decoded)
                decoded->push_back(c);
            continue;
        }
        if (AtEnd())
            return false;
        char16_t e = text_[at_++];
        char16_t value = 0;
        switch (e) {
        case u'"': case u'\'': case u'\\': case u'/': value = e; break;
        case u'b': value = u'\b'; break;
        case u'f': value = u'\f'; break;
        case u'n': value = u'\n'; break;
        case u'r': value = u'\r'; break;
        case u't': value = u'\t'; break;
        case u'u':
        case u'x': {
            std::size_t digits = e == u'u' ? 4 : 2;
            if (text_.size() - at_ < digits)
                return false;
            for (std::size_t i = 0; i < digits; ++i) {
                if (!IsHex(text_[at_]))
                    return false;
                value = static_cast<char16_t>(value * 16 + HexValue(text_[at_++]));
            }
            break;
        }
        default:
            return false;
        }
        if (decoded)
            decoded->push_back(value);
    }
    return false;
}

// Decimal numbers: digits with an optional fraction and exponent, or a
// fraction alone; no hexadecimal, no Infinity or NaN.
bool LiteralReader::ReadNumber(bool allowSign)
{
    if (allowSign && (Peek() == u'-' || Peek() == u'+'))
        ++at_;
    std::size_t digits = 0;
    while (IsDigit(Peek())) {
        ++at_;
        ++digits;
    }
    if (Peek() == u'.') {
        ++at_;
        while (IsDigit(Peek())) {
            ++at_;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (Peek() == u'e' || Peek() == u'E') {
        ++at_;
        if (Peek() == u'-' || Peek() == u'+')
            ++at_;
        if (!IsDigit(Peek()))
            return false;
        while (IsDigit(Peek()))
            ++at_;
    }
    // "1a" or "0x1" must not pass as a number followed by something else.
    return !IsNamePart(Peek()) && Peek() != u'.';
}

bool LiteralReader::ReadWord()
{
    for (std::u16string_view word : {std::u16string_view(u"true"), std::u16string_view(u"false"),
                                     std::u16string_view(u"null")}) {
        if (text_.substr(at_, word.size()) == word) {
            at_ += word.size();
            return !IsNamePart(Peek());
        }
    }
    return false;
}

// A member name and the colon behind it.
bool LiteralReader::ReadMemberName()
{
    SkipSpace();
    char16_t c = Peek();
    if (c == u'"' || c == u'\'') {
        if (!ReadString(nullptr))
            return false;
    } else if (IsDigit(c) || c == u'.') {
        if (!ReadNumber(false))
            return false;
    } else if (IsNameStart(c)) {
        while (IsNamePart(Peek()))
            ++at_;
    } else {
        return false;
    }
    SkipSpace();
    if (Peek() != u':')
        return false;
    ++at_;
    return true;
}

bool LiteralReader::ReadScalar(bool& isString, std::u16string* decoded)
{
    char16_t c = Peek();
    if (c == u'"' || c == u'\'') {
        isString = true;
        return ReadString(decoded);
    }
    if (IsDigit(c) || c == u'-' || c == u'+' || c == u'.')
        return ReadNumber(true);
    return ReadWord();
}

// An explicit stack of open containers instead of recursion. After each value
// the reader looks at the innermost container for "," or its closing bracket.
bool LiteralReader::ReadWhole(bool& isString, std::u16string& content)
{
    isString = false;
    std::vector<Container> open;
    bool topLevel = true;
    for (;;) {
        // A value is expected here.
        SkipSpace();
        char16_t c = Peek();
        if (c == u'{' || c == u'[') {
            if (open.size() >= kMaxLiteralDepth)
                return false;
            ++at_;
            topLevel = false;
            bool isObject = c == u'{';
            SkipSpace();
            if (Peek() != (isObject ? u'}' : u']')) {
                open.push_back(isObject ? Container::Object : Container::Array);
                if (isObject && !ReadMemberName())
                    return false;
                continue;
            }
            ++at_; // an empty container is a finished value
        } else {
            bool scalarIsString = false;
            if (!ReadScalar(scalarIsString, topLevel ? &content : nullptr))
                return false;
            isString = topLevel && scalarIsString;
            topLevel = false;
        }

        // Behind a finished value: close containers or move to the next item.
        for (;;) {
            SkipSpace();
            if (open.empty())
                return AtEnd();
            char16_t next = Peek();
            Container inner = open.back();
            char16_t close = inner == Container::Object ? u'}' : u']';
            if (next == close) {
                ++at_;
                open.pop_back();
                continue;
            }
            if (next != u',')
                return false;
            ++at_;
            if (inner == Container::Object && !ReadMemberName())
                return false;
            break;
        }
    }
}

}

bool IsEvaluableLiteral(std::u16string_view text)
{
    bool isString = false;
    std::u16string content;
    if (!LiteralReader(text).ReadWhole(isString, content))
        return false;
    if (!isString)
        return true;
    // eval runs the content of a string as script: the content must be a data
    // literal in turn. A string inside it is only a value, so one level is all.
    bool innerIsString = false;
    std::u16string innerContent;
    return LiteralReader(content).ReadWhole(innerIsString, innerContent);
}

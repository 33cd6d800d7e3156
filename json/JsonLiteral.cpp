#include "json/JsonLiteral.h"

#include <string>
#include <vector>

#include "json/LiteralNumber.h"

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

bool IsHighSurrogate(char16_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(char16_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Some engines let a member of this name set the object's prototype.
constexpr std::u16string_view PrototypeName = u"__proto__";

// A string literal holding `text`, for a string whose content was rewritten.
std::u16string QuotedString(std::u16string_view text)
{
    static constexpr char16_t Hex[] = u"0123456789abcdef";
    std::u16string quoted(1, u'"');
    for (char16_t c : text) {
        if (c == u'"' || c == u'\\') {
            quoted += u'\\';
            quoted += c;
        } else if (IsForbiddenInString(c)) {
            quoted += u"\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                quoted += Hex[(c >> shift) & 0xF];
        } else {
            quoted += c;
        }
    }
    quoted += u'"';
    return quoted;
}

class LiteralReader {
public:
    explicit LiteralReader(std::u16string_view text) : text_(text) {}

    // Reads the whole text as one value; `content` receives the decoded text
    // when that value is a lone string literal, `evaluable` the text with
    // every number in its canonical form.
    bool ReadWhole(bool& isString, std::u16string& content, std::u16string& evaluable);

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
    // Puts `canonical` in place of the text from `begin` to the reader's position.
    void Rewrite(std::size_t begin, std::u16string_view canonical);
    bool ReadWord();
    bool ReadMemberName();
    bool ReadScalar(bool& isString, std::u16string* decoded);
    bool ReadValue(bool& isString, std::u16string& content);

    std::u16string_view text_;
    std::size_t at_ = 0;
    std::u16string evaluable_;
    std::size_t copiedUpTo_ = 0; // text_ before this is in evaluable_ already
    std::u16string name_;        // the member name being read, decoded
};

void LiteralReader::Rewrite(std::size_t begin, std::u16string_view canonical)
{
    if (text_.substr(begin, at_ - begin) == canonical)
        return;
    evaluable_.append(text_.substr(copiedUpTo_, begin - copiedUpTo_));
    evaluable_.append(canonical);
    copiedUpTo_ = at_;
}

// Accepts only escapes whose meaning every engine agrees on; "\v", octal
// escapes and line continuations differ between engines and are refused.
bool LiteralReader::ReadString(std::u16string* decoded)
{
    char16_t quote = text_[at_++];
    bool afterHighSurrogate = false;
    // Every character of the value, escaped or not, passes here.
    auto accept = [&](char16_t value) {
        if (value == 0 || afterHighSurrogate != IsLowSurrogate(value))
            return false;
        afterHighSurrogate = IsHighSurrogate(value);
        if (decoded)
            decoded->push_back(value);
        return true;
    };
    while (!AtEnd()) {
        char16_t c = text_[at_++];
        if (c == quote)
            return !afterHighSurrogate;
        if (IsForbiddenInString(c))
            return false;
        if (c != u'\\') {
            if (!accept(c))
                return false;
            continue;
        }
        if (AtEnd())
            return false;
        char16_t e = text_[at_++];
        char16_t value = 0;
        switch (e) {
        case u'"':
        case u'\'':
        case u'\\':
        case u'/': value = e; break;
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
        default: return false;
        }
        if (!accept(value))
            return false;
    }
    return false;
}

// Decimal numbers: digits with an optional fraction and exponent, or a
// fraction alone; no hexadecimal, no Infinity or NaN, no leading zeros. The
// number goes to the engine in its canonical form.
bool LiteralReader::ReadNumber(bool allowSign)
{
    const std::size_t begin = at_;
    if (allowSign && (Peek() == u'-' || Peek() == u'+'))
        ++at_;
    std::size_t digits = 0;
    while (IsDigit(Peek())) {
        ++at_;
        ++digits;
    }
    // Engines read 012 as octal.
    if (digits > 1 && text_[at_ - digits] == u'0')
        return false;
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
    if (IsNamePart(Peek()) || Peek() == u'.')
        return false;
    std::optional<std::u16string> canonical = CanonicalNumber(text_.substr(begin, at_ - begin));
    if (!canonical)
        return false;
    Rewrite(begin, *canonical);
    return true;
}

bool LiteralReader::ReadWord()
{
    for (std::u16string_view word :
         {std::u16string_view(u"true"), std::u16string_view(u"false"), std::u16string_view(u"null")}) {
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
    name_.clear();
    if (c == u'"' || c == u'\'') {
        if (!ReadString(&name_))
            return false;
    } else if (IsDigit(c) || c == u'.') {
        if (!ReadNumber(false))
            return false;
    } else if (IsNameStart(c)) {
        const std::size_t begin = at_;
        while (IsNamePart(Peek()))
            ++at_;
        name_ = text_.substr(begin, at_ - begin);
    } else {
        return false;
    }
    if (name_ == PrototypeName)
        return false;
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

bool LiteralReader::ReadWhole(bool& isString, std::u16string& content, std::u16string& evaluable)
{
    isString = false;
    if (!ReadValue(isString, content))
        return false;
    evaluable_.append(text_.substr(copiedUpTo_));
    evaluable = std::move(evaluable_);
    return true;
}

// An explicit stack of open containers instead of recursion. After each value
// the reader looks at the innermost container for "," or its closing bracket.
bool LiteralReader::ReadValue(bool& isString, std::u16string& content)
{
    std::vector<Container> open;
    bool topLevel = true;
    for (;;) {
        // A value is expected here.
        SkipSpace();
        char16_t c = Peek();
        if (c == u'{' || c == u'[') {
            if (open.size() >= MaxLiteralDepth)
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

} // namespace

std::optional<std::u16string> EvaluableLiteral(std::u16string_view text)
{
    bool isString = false;
    std::u16string content;
    std::u16string evaluable;
    if (!LiteralReader(text).ReadWhole(isString, content, evaluable))
        return std::nullopt;
    if (!isString)
        return evaluable;
    // eval runs the content of a string as script: the content must be a data
    // literal in turn. A string inside it is only a value, so one level is all.
    bool innerIsString = false;
    std::u16string innerContent;
    std::u16string innerEvaluable;
    if (!LiteralReader(content).ReadWhole(innerIsString, innerContent, innerEvaluable))
        return std::nullopt;
    // Numbers in the content were rewritten: the string now holds that form.
    if (innerEvaluable != content)
        return QuotedString(innerEvaluable);
    return evaluable;
}

bool IsEvaluableLiteral(std::u16string_view text)
{
    return EvaluableLiteral(text).has_value();
}

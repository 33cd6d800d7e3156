#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// A small recursive recogniser of the data literals the evaluation guard lets
// through, written separately from it: JSON values, single-quoted strings,
// unquoted member names, signed numbers, nesting to a fixed depth.
namespace reference {

class LiteralGrammar {
public:
    LiteralGrammar(std::u16string_view text, std::size_t maxDepth) : text_(text), maxDepth_(maxDepth) {}

    // The whole text is one value; `content` is the decoded text when that
    // value is a string.
    bool Whole(bool& isString, std::u16string& content)
    {
        Space();
        isString = At(u'"') || At(u'\'');
        if (!Value(0, isString ? &content : nullptr))
            return false;
        Space();
        return at_ == text_.size();
    }

private:
    char16_t Cur() const { return at_ < text_.size() ? text_[at_] : 0xFFFF; }
    bool At(char16_t c) const { return at_ < text_.size() && text_[at_] == c; }
    static bool Digit(char16_t c) { return c >= u'0' && c <= u'9'; }
    static bool NameStart(char16_t c)
    {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u'$';
    }
    static bool NameChar(char16_t c) { return NameStart(c) || Digit(c); }
    void Space()
    {
        while (At(u' ') || At(u'\t') || At(u'\n') || At(u'\r'))
            ++at_;
    }

    bool Value(std::size_t depth, std::u16string* content)
    {
        Space();
        if (At(u'[') || At(u'{')) {
            if (depth >= maxDepth_)
                return false;
            bool object = At(u'{');
            char16_t close = object ? u'}' : u']';
            ++at_;
            Space();
            if (At(close)) {
                ++at_;
                return true;
            }
            for (;;) {
                if (object && !Name())
                    return false;
                if (!Value(depth + 1, nullptr))
                    return false;
                Space();
                if (At(close)) {
                    ++at_;
                    return true;
                }
                if (!At(u','))
                    return false;
                ++at_;
            }
        }
        if (At(u'"') || At(u'\''))
            return String(content);
        for (std::u16string_view word : {u"true", u"false", u"null"}) {
            if (text_.substr(at_, word.size()) == word) {
                at_ += word.size();
                return !NameChar(Cur());
            }
        }
        return Number(true);
    }

    bool Name()
    {
        Space();
        if (At(u'"') || At(u'\'')) {
            if (!String(nullptr))
                return false;
        } else if (NameStart(Cur())) {
            while (NameChar(Cur()))
                ++at_;
        } else if (!Number(false)) {
            return false;
        }
        Space();
        if (!At(u':'))
            return false;
        ++at_;
        return true;
    }

    bool Number(bool sign)
    {
        if (sign && (At(u'+') || At(u'-')))
            ++at_;
        std::size_t whole = Digits();
        std::size_t fraction = 0;
        if (At(u'.')) {
            ++at_;
            fraction = Digits();
        }
        if (whole + fraction == 0)
            return false;
        if (At(u'e') || At(u'E')) {
            ++at_;
            if (At(u'+') || At(u'-'))
                ++at_;
            if (Digits() == 0)
                return false;
        }
        return !NameChar(Cur()) && !At(u'.');
    }

    std::size_t Digits()
    {
        std::size_t n = 0;
        while (Digit(Cur()))
            ++at_, ++n;
        return n;
    }

    static int Hex(char16_t c)
    {
        if (Digit(c))
            return c - u'0';
        if (c >= u'a' && c <= u'f')
            return c - u'a' + 10;
        if (c >= u'A' && c <= u'F')
            return c - u'A' + 10;
        return -1;
    }

    bool String(std::u16string* content)
    {
        const char16_t quote = text_[at_++];
        for (;;) {
            if (at_ >= text_.size())
                return false;
            char16_t c = text_[at_++];
            if (c == quote)
                return true;
            if ((c < 0x20 && c != u'\t') || c == 0x2028 || c == 0x2029)
                return false;
            if (c == u'\\') {
                if (at_ >= text_.size())
                    return false;
                char16_t e = text_[at_++];
                const std::u16string_view simple = u"\"'\\/bfnrt";
                const std::u16string_view meaning = u"\"'\\/\b\f\n\r\t";
                std::size_t k = simple.find(e);
                if (k != std::u16string_view::npos) {
                    c = meaning[k];
                } else if (e == u'u' || e == u'x') {
                    int digits = e == u'u' ? 4 : 2;
                    unsigned value = 0;
                    for (int i = 0; i < digits; ++i) {
                        int h = at_ < text_.size() ? Hex(text_[at_]) : -1;
                        if (h < 0)
                            return false;
                        value = value * 16 + static_cast<unsigned>(h);
                        ++at_;
                    }
                    c = static_cast<char16_t>(value);
                } else {
                    return false;
                }
            }
            if (content)
                content->push_back(c);
        }
    }

    std::u16string_view text_;
    std::size_t maxDepth_;
    std::size_t at_ = 0;
};

// Accepted as a data literal, including the content of a lone string.
inline bool IsDataLiteral(std::u16string_view text, std::size_t maxDepth)
{
    bool isString = false;
    std::u16string content;
    if (!LiteralGrammar(text, maxDepth).Whole(isString, content))
        return false;
    if (!isString)
        return true;
    bool innerIsString = false;
    std::u16string innerContent;
    return LiteralGrammar(content, maxDepth).Whole(innerIsString, innerContent);
}

} // namespace reference

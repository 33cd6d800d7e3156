#pragma once
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <string_view>

// A small recursive recogniser of the data literals the evaluation guard lets
// through, written separately from it: JSON values, single-quoted strings,
// unquoted member names, signed numbers without leading zeros, nesting to a
// fixed depth; no zero character or lone surrogate in strings, no member
// named __proto__, no number too small for engines to read alike.
namespace reference {

constexpr double SmallestMagnitude = 1e-290;

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
        std::u16string name;
        if (At(u'"') || At(u'\'')) {
            if (!String(&name))
                return false;
        } else if (NameStart(Cur())) {
            const std::size_t begin = at_;
            while (NameChar(Cur()))
                ++at_;
            name = text_.substr(begin, at_ - begin);
        } else if (!Number(false)) {
            return false;
        }
        if (name == u"__proto__")
            return false;
        Space();
        if (!At(u':'))
            return false;
        ++at_;
        return true;
    }

    bool Number(bool sign)
    {
        const std::size_t begin = at_;
        if (sign && (At(u'+') || At(u'-')))
            ++at_;
        const std::size_t wholeBegin = at_;
        std::size_t whole = Digits();
        if (whole > 1 && text_[wholeBegin] == u'0')
            return false;
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
        if (NameChar(Cur()) || At(u'.'))
            return false;
        // The C library's reading, correctly rounded: zero, or not too small.
        std::string ascii(text_.begin() + static_cast<std::ptrdiff_t>(begin),
                          text_.begin() + static_cast<std::ptrdiff_t>(at_));
        if (ascii[0] == '+')
            ascii.erase(0, 1);
        const double value = std::fabs(std::strtod(ascii.c_str(), nullptr));
        return value == 0 || value >= SmallestMagnitude;
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
        std::u16string value;
        for (;;) {
            if (at_ >= text_.size())
                return false;
            char16_t c = text_[at_++];
            if (c == quote)
                break;
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
            value.push_back(c);
        }
        // Whole characters only: every high surrogate followed by a low one.
        for (std::size_t i = 0; i < value.size(); ++i) {
            const char16_t c = value[i];
            if (c == 0)
                return false;
            if (c >= 0xD800 && c <= 0xDBFF) {
                if (i + 1 >= value.size() || value[i + 1] < 0xDC00 || value[i + 1] > 0xDFFF)
                    return false;
                ++i;
            } else if (c >= 0xDC00 && c <= 0xDFFF) {
                return false;
            }
        }
        if (content)
            *content = value;
        return true;
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

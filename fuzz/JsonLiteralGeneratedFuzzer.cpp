// Valid JSON built from the fuzz input must pass the evaluation guard (when
// nested no deeper than its limit), also when sent as a string that holds the
// JSON; the same with something executable appended must never pass.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>

#include "FuzzCheck.h"
#include "json/JsonLiteral.h"

namespace {

class JsonWriter {
public:
    explicit JsonWriter(FuzzedDataProvider& input) : input_(input) {}

    // One value nested at most `maxDepth` containers deep; reports the depth reached.
    std::u16string Value(std::size_t maxDepth, std::size_t& depth)
    {
        std::u16string out;
        Write(out, maxDepth, 0, depth);
        return out;
    }

    static std::u16string Quoted(std::u16string_view text, char16_t quote)
    {
        std::u16string out(1, quote);
        for (char16_t c : text) {
            switch (c) {
            case u'\\': out += u"\\\\"; break;
            case u'\n': out += u"\\n"; break;
            case u'\r': out += u"\\r"; break;
            case u'\b': out += u"\\b"; break;
            case u'\f': out += u"\\f"; break;
            default:
                if (c == quote) {
                    out += u'\\';
                    out += c;
                } else if (c < 0x20 || c == 0x2028 || c == 0x2029) {
                    // A serialiser's escape for controls and the line terminators.
                    static constexpr char16_t Hex[] = u"0123456789abcdef";
                    out += u"\\u";
                    for (int shift = 12; shift >= 0; shift -= 4)
                        out += Hex[(c >> shift) & 0xF];
                } else {
                    out += c;
                }
            }
        }
        out += quote;
        return out;
    }

private:
    void Space(std::u16string& out)
    {
        static constexpr char16_t Blanks[] = u" \t\n\r";
        while (input_.remaining_bytes() > 0 && input_.ConsumeIntegralInRange<int>(0, 7) == 0)
            out += Blanks[input_.ConsumeIntegralInRange<int>(0, 3)];
    }

    // Whole characters, no zero character (JSON allows both, the guard
    // refuses them), and never the name that would set a prototype.
    std::u16string Text()
    {
        std::u16string text;
        const std::size_t length = input_.ConsumeIntegralInRange<std::size_t>(0, 12);
        for (std::size_t i = 0; i < length && input_.remaining_bytes() > 0; ++i) {
            char16_t c = input_.ConsumeBool() ? static_cast<char16_t>(input_.ConsumeIntegralInRange<int>(0x20, 0x7E))
                                              : input_.ConsumeIntegral<char16_t>();
            if (c >= 0xD800 && c <= 0xDBFF) {
                text += c;
                c = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
            } else if (c == 0 || (c >= 0xDC00 && c <= 0xDFFF)) {
                c = u'?';
            }
            text += c;
        }
        return text == u"__proto__" ? u"proto" : text;
    }

    // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
    std::u16string Number()
    {
        std::u16string number;
        if (input_.ConsumeBool())
            number += u'-';
        const unsigned whole = input_.ConsumeIntegral<uint32_t>() >> input_.ConsumeIntegralInRange<int>(0, 31);
        for (char c : std::to_string(whole))
            number += static_cast<char16_t>(c);
        if (input_.ConsumeBool()) {
            number += u'.';
            number += static_cast<char16_t>(u'0' + input_.ConsumeIntegralInRange<int>(0, 9));
        }
        if (input_.ConsumeBool()) {
            number += input_.ConsumeBool() ? u'e' : u'E';
            const int sign = input_.ConsumeIntegralInRange<int>(0, 2);
            if (sign > 0)
                number += sign == 1 ? u'+' : u'-';
            number += static_cast<char16_t>(u'0' + input_.ConsumeIntegralInRange<int>(0, 9));
        }
        return number;
    }

    void Write(std::u16string& out, std::size_t maxDepth, std::size_t level, std::size_t& depth)
    {
        depth = std::max(depth, level);
        Space(out);
        int kind = input_.remaining_bytes() == 0 ? 0 : input_.ConsumeIntegralInRange<int>(0, 7);
        // A lone string is run as script, so only a string that holds JSON
        // passes; the quoted forms below cover that.
        if (level == 0 && kind == 2)
            kind = 0;
        const bool nest = level < maxDepth && (kind >= 5 || input_.ConsumeIntegralInRange<int>(0, 3) == 0);
        if (nest) {
            const bool object = kind % 2 == 0;
            depth = std::max(depth, level + 1);
            out += object ? u'{' : u'[';
            const std::size_t items =
                input_.remaining_bytes() == 0 ? 0 : input_.ConsumeIntegralInRange<std::size_t>(0, 4);
            for (std::size_t i = 0; i < items; ++i) {
                if (i > 0)
                    out += u',';
                if (object) {
                    Space(out);
                    out += Quoted(Text(), u'"');
                    Space(out);
                    out += u':';
                }
                Write(out, maxDepth, level + 1, depth);
            }
            Space(out);
            out += object ? u'}' : u']';
        } else if (kind == 0) {
            out += u"null";
        } else if (kind == 1) {
            out += input_.ConsumeBool() ? u"true" : u"false";
        } else if (kind == 2) {
            out += Quoted(Text(), u'"');
        } else {
            out += Number();
        }
        Space(out);
    }

    FuzzedDataProvider& input_;
};

// Appended to a finished value, each turns it into something that is not data.
constexpr std::u16string_view Hostile[] = {u"()", u";1", u"+1",  u"-x", u"/**/", u"//",   u"`x`", u"=1",   u",1",
                                           u")",  u"(",  u"[0]", u".x", u"x",    u"\"\"", u"{}",  u"?1:2", u"\\u0061"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::size_t maxDepth = input.ConsumeIntegralInRange<std::size_t>(0, 8);
    // Now and then deep nesting around the value, near the guard's limit on
    // either side; kept rare, as one such input costs as much as many
    // shallow ones.
    const bool deep = input.ConsumeIntegralInRange<int>(0, 7) == 7;
    const std::size_t wraps =
        deep ? input.ConsumeIntegralInRange<std::size_t>(MaxLiteralDepth - 12, MaxLiteralDepth + 12) : 0;
    const std::u16string_view hostile = Hostile[input.ConsumeIntegralInRange<std::size_t>(0, std::size(Hostile) - 1)];
    std::size_t depth = 0;
    std::u16string json = JsonWriter(input).Value(maxDepth, depth);
    if (wraps > 0) {
        std::u16string opening, closing;
        for (std::size_t i = 0; i < wraps; ++i) {
            const bool object = (i * 7 + json.size()) % 3 == 0;
            opening += object ? u"{\"k\":" : u"[";
            closing += object ? u'}' : u']';
        }
        std::reverse(closing.begin(), closing.end());
        json = opening + json + closing;
        depth += wraps;
    }
    const bool withinLimit = depth <= MaxLiteralDepth;

    FUZZ_CHECK(IsEvaluableLiteral(json) == withinLimit);
    FUZZ_CHECK(IsEvaluableLiteral(JsonWriter::Quoted(json, u'"')) == withinLimit);
    FUZZ_CHECK(IsEvaluableLiteral(JsonWriter::Quoted(json, u'\'')) == withinLimit);

    const std::u16string tampered = json + std::u16string(hostile);
    FUZZ_CHECK(!IsEvaluableLiteral(tampered));
    FUZZ_CHECK(!IsEvaluableLiteral(JsonWriter::Quoted(tampered, u'"')));
    return 0;
}

#include "TerminalText.h"

#include <cstdio>

namespace kelvora {

namespace {

bool IsInvisibleControl(char32_t cp)
{
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x061C || (cp >= 0x200E && cp <= 0x200F) ||
           (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

// The length of the well-formed UTF-8 sequence at text[i] and its code point; 0 when malformed.
size_t Sequence(std::string_view text, size_t i, char32_t& cp)
{
    unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t extra;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0)
        extra = 1, cp = lead & 0x1F, minimum = 0x80;
    else if ((lead & 0xF0) == 0xE0)
        extra = 2, cp = lead & 0x0F, minimum = 0x800;
    else if ((lead & 0xF8) == 0xF0)
        extra = 3, cp = lead & 0x07, minimum = 0x10000;
    else
        return 0;
    if (text.size() - i <= extra)
        return 0;
    for (size_t k = 1; k <= extra; ++k) {
        unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return extra + 1;
}

} // namespace

std::string EscapeForTerminal(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    char code[12];
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    std::snprintf(code, sizeof code, "\\x%02X", c);
                    out += code;
                } else {
                    out.push_back(static_cast<char>(c));
                }
            }
            ++i;
            continue;
        }
        char32_t cp = 0;
        size_t length = Sequence(text, i, cp);
        if (length == 0) {
            std::snprintf(code, sizeof code, "\\x%02X", c);
            out += code;
            ++i;
        } else if (IsInvisibleControl(cp)) {
            std::snprintf(code, sizeof code, "\\u%04X", static_cast<unsigned>(cp));
            out += code;
            i += length;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

} // namespace kelvora

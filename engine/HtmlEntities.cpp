#include "HtmlText.h"

#include <cstdint>

namespace {

struct NamedEntity {
    const char* name;
    char32_t codePoint;
};

// The references pages really use; anything else stays as written.
constexpr NamedEntity Entities[] = {
    {"amp", U'&'},     {"lt", U'<'},     {"gt", U'>'},       {"quot", U'"'},     {"apos", U'\''},    {"nbsp", 0xA0},
    {"copy", 0xA9},    {"reg", 0xAE},    {"trade", 0x2122},  {"middot", 0xB7},   {"hellip", 0x2026}, {"mdash", 0x2014},
    {"ndash", 0x2013}, {"laquo", 0xAB},  {"raquo", 0xBB},    {"ldquo", 0x201C},  {"rdquo", 0x201D},  {"lsquo", 0x2018},
    {"rsquo", 0x2019}, {"times", 0xD7},  {"divide", 0xF7},   {"yen", 0xA5},      {"euro", 0x20AC},   {"pound", 0xA3},
    {"cent", 0xA2},    {"sect", 0xA7},   {"deg", 0xB0},      {"plusmn", 0xB1},   {"para", 0xB6},     {"bull", 0x2022},
    {"emsp", 0x2003},  {"ensp", 0x2002}, {"thinsp", 0x2009}, {"zwj", 0x200D},    {"zwnj", 0x200C},   {"larr", 0x2190},
    {"rarr", 0x2192},  {"uarr", 0x2191}, {"darr", 0x2193},   {"hearts", 0x2665}, {"iexcl", 0xA1},    {"iquest", 0xBF},
    {"shy", 0xAD},     {"frac12", 0xBD}, {"frac14", 0xBC},   {"frac34", 0xBE},   {"sup2", 0xB2},     {"micro", 0xB5},
};

// Written without the semicolon, browsers still read these.
bool AllowedWithoutSemicolon(std::string_view name)
{
    return name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "nbsp";
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The reference at text[pos] == '&': its code point and length, or 0 length.
size_t ReadReference(std::string_view text, size_t pos, char32_t& cp)
{
    size_t i = pos + 1;
    if (i < text.size() && text[i] == '#') {
        ++i;
        const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
        if (hex)
            ++i;
        const size_t digitsStart = i;
        uint32_t value = 0;
        while (i < text.size() && i - digitsStart < 8) {
            const char c = text[i];
            int digit = -1;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            if (digit < 0)
                break;
            value = value * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
            ++i;
        }
        if (i == digitsStart)
            return 0;
        if (i < text.size() && text[i] == ';')
            ++i;
        cp = value;
        return i - pos;
    }
    const size_t nameStart = i;
    while (i < text.size() && i - nameStart < 10 && IsAlnum(text[i]))
        ++i;
    const std::string_view name = text.substr(nameStart, i - nameStart);
    const bool semicolon = i < text.size() && text[i] == ';';
    if (!semicolon && !AllowedWithoutSemicolon(name))
        return 0;
    for (const auto& entity : Entities) {
        if (name == entity.name) {
            cp = entity.codePoint;
            return i - pos + (semicolon ? 1 : 0);
        }
    }
    return 0;
}

} // namespace

std::string DecodeEntities(std::string_view text)
{
    if (text.find('&') == std::string_view::npos)
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        char32_t cp = 0;
        const size_t length = text[pos] == '&' ? ReadReference(text, pos, cp) : 0;
        if (length == 0) {
            out += text[pos++];
            continue;
        }
        AppendUtf8(out, cp);
        pos += length;
    }
    return out;
}

#include "Charset.h"

#include <windows.h>

#include <vector>

#include "Gb18030.h"

namespace {

// Where the platform has no GB18030 tables (Wine has none), ours decode it.
constexpr UINT Gb18030CodePage = 54936;

struct CharsetCodePage {
    const char* name;
    UINT codePage;
};

// Names as pages write them; the Chinese ones map to their supersets, as
// browsers do, so a "gb2312" page with GBK characters still converts whole.
constexpr CharsetCodePage Charsets[] = {
    {"gbk", 936},           {"gb2312", 936},         {"x-gbk", 936},         {"cp936", 936},
    {"windows-936", 936},   {"gb_2312-80", 936},     {"euc-cn", 936},        {"gb18030", Gb18030CodePage},
    {"big5", 950},          {"big5-hkscs", 950},     {"shift_jis", 932},     {"shift-jis", 932},
    {"sjis", 932},          {"x-sjis", 932},         {"windows-31j", 932},   {"euc-jp", 20932},
    {"euc-kr", 949},        {"ks_c_5601-1987", 949}, {"iso-8859-1", 1252},   {"latin1", 1252},
    {"us-ascii", 1252},     {"ascii", 1252},         {"windows-1250", 1250}, {"windows-1251", 1251},
    {"windows-1252", 1252}, {"windows-1253", 1253},  {"windows-1254", 1254}, {"windows-1255", 1255},
    {"windows-1256", 1256}, {"windows-1257", 1257},  {"windows-1258", 1258}, {"koi8-r", 20866},
    {"koi8-u", 21866},      {"iso-8859-2", 28592},   {"iso-8859-5", 28595},  {"iso-8859-7", 28597},
    {"iso-8859-9", 28599},  {"iso-8859-15", 28605},  {"utf-16", 1200},       {"utf-16le", 1200},
    {"utf-16be", 1201},
};

UINT CodePageForCharset(std::string_view charset)
{
    for (const auto& entry : Charsets) {
        if (charset == entry.name)
            return entry.codePage;
    }
    return 0;
}

bool IsCharsetNameByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':';
}

// The value after "charset=" at pos in lower-cased text, quotes skipped.
std::string CharsetValueAt(std::string_view lower, size_t pos)
{
    pos += 8;
    while (pos < lower.size() && (lower[pos] == ' ' || lower[pos] == '"' || lower[pos] == '\'' || lower[pos] == '\t'))
        ++pos;
    size_t end = pos;
    while (end < lower.size() && IsCharsetNameByte(lower[end]))
        ++end;
    return std::string(lower.substr(pos, end - pos));
}

std::string CharsetFromMetaTags(std::string_view body)
{
    // Pages declare their charset in the head; a bounded scan keeps a huge
    // body from costing a second full pass.
    const std::string lower = AsciiLower(body.substr(0, 8192));
    size_t pos = 0;
    while ((pos = lower.find("<meta", pos)) != std::string::npos) {
        const size_t tagEnd = lower.find('>', pos);
        const std::string_view tag =
            std::string_view(lower).substr(pos, tagEnd == std::string::npos ? std::string::npos : tagEnd - pos);
        const size_t charsetPos = tag.find("charset=");
        if (charsetPos != std::string_view::npos) {
            std::string value = CharsetValueAt(tag, charsetPos);
            if (!value.empty())
                return value;
        }
        if (tagEnd == std::string::npos)
            break;
        pos = tagEnd;
    }
    return {};
}

std::wstring BytesToWide(std::string_view bytes, UINT codePage)
{
    if (bytes.empty())
        return {};
    if (codePage == Gb18030CodePage && !IsValidCodePage(Gb18030CodePage))
        return Gb18030ToWide(bytes);
    if (codePage == 1200 || codePage == 1201) {
        std::wstring wide(bytes.size() / 2, L'\0');
        for (size_t i = 0; i < wide.size(); ++i) {
            const auto lo = static_cast<unsigned char>(bytes[2 * i + (codePage == 1200 ? 0 : 1)]);
            const auto hi = static_cast<unsigned char>(bytes[2 * i + (codePage == 1200 ? 1 : 0)]);
            wide[i] = static_cast<wchar_t>(lo | (hi << 8));
        }
        if (!wide.empty() && wide[0] == 0xFEFF)
            wide.erase(0, 1);
        return wide;
    }
    const int cch = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (cch <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), cch);
    return wide;
}

} // namespace

std::string AsciiLower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

std::wstring Utf8ToWide(std::string_view utf8)
{
    return BytesToWide(utf8, CP_UTF8);
}

std::string WideToUtf8(std::wstring_view wide)
{
    if (wide.empty())
        return {};
    const int cb =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (cb <= 0)
        return {};
    std::string utf8(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), cb, nullptr, nullptr);
    return utf8;
}

std::string DeclaredCharset(std::string_view contentType, std::string_view body)
{
    const std::string lowerType = AsciiLower(contentType);
    const size_t headerPos = lowerType.find("charset=");
    if (headerPos != std::string::npos) {
        std::string value = CharsetValueAt(lowerType, headerPos);
        if (!value.empty())
            return value;
    }
    if (body.size() >= 3 && body.substr(0, 3) == "\xEF\xBB\xBF")
        return "utf-8";
    if (body.size() >= 2 && body.substr(0, 2) == "\xFF\xFE")
        return "utf-16le";
    if (body.size() >= 2 && body.substr(0, 2) == "\xFE\xFF")
        return "utf-16be";
    return CharsetFromMetaTags(body);
}

std::string PageBytesToUtf8(std::string_view body, std::string_view charset)
{
    if (body.empty())
        return std::string(body);
    const UINT codePage = CodePageForCharset(charset.empty() ? UndeclaredCharset(body) : charset);
    if (codePage == 0)
        return std::string(body);
    const std::wstring wide = BytesToWide(body, codePage);
    if (wide.empty())
        return std::string(body);
    return WideToUtf8(wide);
}

std::string UndeclaredCharset(std::string_view body)
{
    // The common case, a page in good UTF-8, is decided by the platform's fast check.
    if (body.size() < 0x7FFFFFFF &&
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, body.data(), static_cast<int>(body.size()), nullptr, 0) > 0)
        return "utf-8";
    const auto at = [&](size_t i) { return i < body.size() ? static_cast<unsigned char>(body[i]) : 0u; };
    // UTF-8: whole sequences against bytes that fit none.
    size_t utf8Good = 0, utf8Bad = 0;
    for (size_t i = 0; i < body.size();) {
        const unsigned b = at(i);
        const size_t length = b < 0x80                 ? 1
                              : b >= 0xC2 && b <= 0xDF ? 2
                              : b >= 0xE0 && b <= 0xEF ? 3
                              : b >= 0xF0 && b <= 0xF4 ? 4
                                                       : 0;
        bool whole = length > 0 && i + length <= body.size();
        for (size_t k = 1; whole && k < length; ++k)
            whole = (at(i + k) & 0xC0) == 0x80;
        // Overlong forms, surrogates and code points past U+10FFFF are no UTF-8.
        if (whole && length == 3)
            whole = !(b == 0xE0 && at(i + 1) < 0xA0) && !(b == 0xED && at(i + 1) >= 0xA0);
        if (whole && length == 4)
            whole = !(b == 0xF0 && at(i + 1) < 0x90) && !(b == 0xF4 && at(i + 1) >= 0x90);
        if (!whole) {
            ++utf8Bad;
            ++i;
            continue;
        }
        utf8Good += length > 1;
        i += length;
    }
    if (utf8Bad == 0)
        return "utf-8";
    // GBK and GB18030: two- and four-byte characters against stray bytes.
    size_t gbGood = 0, gbBad = 0;
    for (size_t i = 0; i < body.size();) {
        const unsigned b = at(i);
        if (b < 0x80) {
            ++i;
            continue;
        }
        const unsigned trail = at(i + 1);
        if (b >= 0x81 && b <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F) {
            ++gbGood;
            i += 2;
        } else if (b >= 0x81 && b <= 0xFE &&
                   Gb18030FourByteCodePoint(static_cast<unsigned char>(b), static_cast<unsigned char>(trail),
                                            static_cast<unsigned char>(at(i + 2)),
                                            static_cast<unsigned char>(at(i + 3)))) {
            ++gbGood;
            i += 4;
        } else {
            ++gbBad;
            ++i;
        }
    }
    if (gbBad == 0)
        return "gb18030";
    if (utf8Good > utf8Bad)
        return "utf-8";
    return gbGood > gbBad ? "gb18030" : "windows-1252";
}

std::string ValidUtf8(std::string_view text)
{
    // The platform's conversion puts U+FFFD for every byte that fits no sequence.
    return WideToUtf8(Utf8ToWide(text));
}

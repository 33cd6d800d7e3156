// MidText, CompareText and TextBetween: results are pieces of the text from
// the right place, never longer than asked, and comparison is a total order
// on unsigned bytes up to the first zero.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "FuzzCheck.h"
#include "ReferenceText.h"
#include "text/TextOps.h"

namespace {

// "#引号" in code page 936: stands for a double-quote in a delimiter.
constexpr std::string_view QuoteMarker = "#\xD2\xFD\xBA\xC5";

void CheckMidText(std::string_view text, int32_t start, int32_t count)
{
    const std::string_view t = reference::UpToZero(text);
    const std::string piece = MidText(text, start, count);
    const long long offset = static_cast<long long>(start) - 1;
    if (offset < 0 || offset >= static_cast<long long>(t.size()) || count <= 0) {
        FUZZ_CHECK(piece.empty());
        return;
    }
    const std::size_t left = t.size() - static_cast<std::size_t>(offset);
    FUZZ_CHECK(piece.size() == std::min<std::size_t>(static_cast<std::size_t>(count), left));
    FUZZ_CHECK(piece == t.substr(static_cast<std::size_t>(offset), piece.size()));
}

int ReferenceCompare(std::string_view a, std::string_view b)
{
    a = reference::UpToZero(a);
    b = reference::UpToZero(b);
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The marker by a quote, walking as ReplaceText does.
std::string Unmark(std::string_view delimiter)
{
    return reference::Replace(reference::UpToZero(delimiter), QuoteMarker, "\"");
}

void CheckTextBetween(std::string_view text, std::string_view left, std::string_view right)
{
    const std::string_view t = reference::UpToZero(text);
    const std::string between = TextBetween(text, left, right);
    const std::string l = Unmark(left);
    const std::string r = Unmark(right);

    const long long p = reference::Find(t, l, 0);
    long long e = -1;
    if (p >= 0)
        e = reference::Find(t, r, static_cast<std::size_t>(p) + l.size());
    if (e < 0) {
        FUZZ_CHECK(between.empty());
        return;
    }
    const std::size_t q = static_cast<std::size_t>(p) + l.size();
    FUZZ_CHECK(between == t.substr(q, static_cast<std::size_t>(e) - q));
    // The piece sits right behind the left delimiter and right before the right one.
    FUZZ_CHECK(t.substr(static_cast<std::size_t>(p), l.size()) == l);
    FUZZ_CHECK(t.substr(q + between.size(), r.size()) == r);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const int32_t start =
        input.ConsumeBool() ? input.ConsumeIntegral<int32_t>() : input.ConsumeIntegralInRange<int32_t>(-1, 80);
    const int32_t count =
        input.ConsumeBool() ? input.ConsumeIntegral<int32_t>() : input.ConsumeIntegralInRange<int32_t>(-1, 80);
    const std::string left = input.ConsumeRandomLengthString(24);
    const std::string right = input.ConsumeRandomLengthString(24);
    const std::string text = input.ConsumeRemainingBytesAsString();

    CheckMidText(text, start, count);

    const int32_t ab = CompareText(left, right);
    FUZZ_CHECK(ab == ReferenceCompare(left, right));
    FUZZ_CHECK(CompareText(right, left) == -ab);
    FUZZ_CHECK(CompareText(text, text) == 0);
    FUZZ_CHECK(CompareText(text, std::string(reference::UpToZero(text))) == 0);

    CheckTextBetween(text, left, right);
    return 0;
}

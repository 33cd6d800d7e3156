// The answer service's reading of a request target: strict percent-decoding,
// the query split into first values, and the lookup key check on whatever
// key a request carries.
#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <optional>
#include <string>

#include "FuzzCheck.h"
#include "LookupKey.h"
#include "QueryString.h"
#include "text/PercentEncode.h"

namespace {

std::optional<std::string> ReferenceDecode(std::string_view text)
{
    auto hex = [](char c) -> int {
        const std::string_view digits = "0123456789abcdef";
        const char lower = (c >= 'A' && c <= 'F') ? static_cast<char>(c + 32) : c;
        const std::size_t at = digits.find(lower);
        return at == std::string_view::npos ? -1 : static_cast<int>(at);
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] != '%') {
            out += text[i];
        } else {
            if (i + 2 >= text.size() || hex(text[i + 1]) < 0 || hex(text[i + 2]) < 0)
                return std::nullopt;
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        }
    }
    return out;
}

void CheckQuery(std::string_view target)
{
    const kelvora::QueryParams parsed = kelvora::ParseQuery(target);
    FUZZ_CHECK(parsed.ok == parsed.error.empty());

    std::map<std::string, std::string> expected;
    bool ok = true;
    const std::size_t mark = target.find('?');
    if (mark != std::string_view::npos) {
        std::string_view query = target.substr(mark + 1);
        query = query.substr(0, query.find('#'));
        std::size_t from = 0;
        while (from <= query.size() && ok) {
            std::size_t amp = query.find('&', from);
            if (amp == std::string_view::npos)
                amp = query.size();
            const std::string_view pair = query.substr(from, amp - from);
            from = amp + 1;
            if (pair.empty())
                continue;
            const std::size_t eq = pair.find('=');
            const auto key = ReferenceDecode(pair.substr(0, eq));
            const auto value = ReferenceDecode(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1));
            if (!key || !value)
                ok = false;
            else
                expected.emplace(*key, *value);
        }
    }
    FUZZ_CHECK(parsed.ok == ok);
    if (ok)
        FUZZ_CHECK(parsed.values == expected);
}

void CheckKey(FuzzedDataProvider& input, const std::string& question, const std::string& key)
{
    const std::string secret = input.ConsumeRandomLengthString(40);
    const int64_t now = input.ConsumeIntegralInRange<int64_t>(0, 999999999999);
    // A key the fuzzer wrote passes only if it is exactly the one we would issue.
    const kelvora::KeyCheck given = kelvora::CheckLookupKey(secret, question, key, now);
    if (given != kelvora::KeyCheck::Invalid) {
        const std::size_t dot = key.find('.');
        FUZZ_CHECK(dot != std::string::npos);
        const int64_t expiry = std::stoll(key.substr(0, dot));
        FUZZ_CHECK(key == kelvora::IssueLookupKey(secret, question, expiry));
    }

    const int64_t expiresAt = input.ConsumeIntegralInRange<int64_t>(0, 999999999999);
    const std::string issued = kelvora::IssueLookupKey(secret, question, expiresAt);
    const kelvora::KeyCheck own = kelvora::CheckLookupKey(secret, question, issued, now);
    FUZZ_CHECK(own == (now > expiresAt ? kelvora::KeyCheck::Expired : kelvora::KeyCheck::Valid));
    if (!question.empty())
        FUZZ_CHECK(kelvora::CheckLookupKey(secret, question.substr(1), issued, now) == kelvora::KeyCheck::Invalid);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string target = input.ConsumeRandomLengthString(2048);
    CheckQuery(target);

    const std::optional<std::string> decoded = kelvora::PercentDecode(target);
    FUZZ_CHECK(decoded == ReferenceDecode(target));
    if (decoded) {
        FUZZ_CHECK(decoded->size() <= target.size());
        FUZZ_CHECK(kelvora::PercentDecode(PercentEncodeBytes(*decoded)) == *decoded);
    }

    const kelvora::QueryParams parsed = kelvora::ParseQuery(target);
    const auto question = parsed.values.find("q");
    const auto key = parsed.values.find("k");
    CheckKey(input, question == parsed.values.end() ? std::string() : question->second,
             key == parsed.values.end() ? std::string() : key->second);
    return 0;
}

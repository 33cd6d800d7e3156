// FindText and TextBefore against the plain two-byte walk: positions in
// range, matches only where a character begins, and the first one found.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>

#include "FuzzCheck.h"
#include "ReferenceText.h"
#include "text/TextOps.h"

namespace {

// Mostly starts around the text, now and then any 32-bit value.
int32_t PickStart(FuzzedDataProvider& input, std::size_t textSize)
{
    if (input.ConsumeIntegralInRange<int>(0, 15) == 0)
        return input.ConsumeIntegral<int32_t>();
    return input.ConsumeIntegralInRange<int32_t>(-2, static_cast<int32_t>(textSize) + 2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const bool searchFromText = input.ConsumeBool();
    std::string search = input.ConsumeRandomLengthString(64);
    std::string text = input.ConsumeRandomLengthString(4096);
    if (searchFromText && !text.empty()) {
        // A piece of the text itself, so that matches are common.
        std::size_t at = search.size() % text.size();
        search = text.substr(at, search.size() % 9);
    }
    const int32_t start = PickStart(input, text.size());

    const std::string_view clean = reference::UpToZero(text);
    const std::string_view cleanSearch = reference::UpToZero(search);
    const std::size_t from = start <= 1 ? 0 : static_cast<std::size_t>(start) - 1;

    const int32_t found = FindText(text, search, start);
    const long long expected = reference::Find(clean, cleanSearch, from);
    FUZZ_CHECK(found == (expected < 0 ? -1 : expected + 1));
    if (found != -1) {
        FUZZ_CHECK(found >= 1 && static_cast<std::size_t>(found) <= clean.size());
        FUZZ_CHECK(found >= start);
        FUZZ_CHECK(clean.substr(static_cast<std::size_t>(found) - 1, cleanSearch.size()) == cleanSearch);
    }
    if (found != -1 && start <= 1) {
        // Never on the second byte of a two-byte character.
        std::vector<std::size_t> stops = reference::WalkStops(clean, 0);
        FUZZ_CHECK(std::binary_search(stops.begin(), stops.end(), static_cast<std::size_t>(found) - 1));
    }

    const std::string before = TextBefore(text, search, start, false);
    FUZZ_CHECK(before ==
               (found == -1 ? std::string() : std::string(clean.substr(0, static_cast<std::size_t>(found) - 1))));

    const std::string beforeAnyCase = TextBefore(text, search, start, true);
    const long long foldedAt = reference::Find(clean, cleanSearch, from, true);
    FUZZ_CHECK(beforeAnyCase ==
               (foldedAt < 0 ? std::string() : std::string(clean.substr(0, static_cast<std::size_t>(foldedAt)))));
    // Ignoring case finds at least what the exact search finds, never later.
    FUZZ_CHECK(expected < 0 || (foldedAt >= 0 && foldedAt <= expected));
    return 0;
}

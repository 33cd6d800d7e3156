// ReplaceText against the two-byte walk, and against FindText: the result is
// the text with each occurrence FindText reports, in turn, replaced; and
// searching the result again finds nothing new inside the copied text.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "ReferenceText.h"
#include "text/TextOps.h"

namespace {

// A stretch of the input copied unchanged: where it lies in the text and in
// the result.
struct CopiedRun {
    std::size_t textAt;
    std::size_t resultAt;
    std::size_t length;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const bool searchFromText = input.ConsumeBool();
    std::string search = input.ConsumeRandomLengthString(32);
    std::string replacement = input.ConsumeRandomLengthString(32);
    std::string text = input.ConsumeRemainingBytesAsString();
    if (searchFromText && !text.empty()) {
        std::size_t at = search.size() % text.size();
        search = text.substr(at, 1 + search.size() % 6);
    }

    const std::string_view t = reference::UpToZero(text);
    const std::string_view s = reference::UpToZero(search);
    const std::string_view r = reference::UpToZero(replacement);
    const std::string result = ReplaceText(text, search, replacement);

    if (t.empty() || s.empty()) {
        FUZZ_CHECK(result == t);
        return 0;
    }

    // Built from FindText alone: each search resumes behind the last match.
    std::string expected;
    std::vector<CopiedRun> runs;
    std::size_t copiedFrom = 0;
    std::size_t replaced = 0;
    for (int32_t p = FindText(t, s, 1); p != -1; p = FindText(t, s, p + static_cast<int32_t>(s.size()))) {
        const std::size_t at = static_cast<std::size_t>(p) - 1;
        FUZZ_CHECK(at >= copiedFrom);
        runs.push_back({copiedFrom, expected.size(), at - copiedFrom});
        expected.append(t.substr(copiedFrom, at - copiedFrom));
        expected.append(r);
        copiedFrom = at + s.size();
        ++replaced;
        if (copiedFrom >= t.size())
            break;
    }
    runs.push_back({copiedFrom, expected.size(), t.size() - copiedFrom});
    expected.append(t.substr(copiedFrom));
    FUZZ_CHECK(result == expected);
    FUZZ_CHECK(result.size() + replaced * s.size() == t.size() + replaced * r.size());

    // The same from the reference walk, which knows nothing of FindText.
    FUZZ_CHECK(result == reference::Replace(t, s, r));

    // Nothing new: copied text, searched again in the result, holds no whole
    // occurrence at a character start; the walk sees the same characters there.
    for (const CopiedRun& run : runs) {
        if (run.length < s.size())
            continue;
        const std::string_view upToRunEnd = std::string_view(result).substr(0, run.resultAt + run.length);
        FUZZ_CHECK(FindText(upToRunEnd, s, static_cast<int32_t>(run.resultAt) + 1) == -1);
    }
    return 0;
}

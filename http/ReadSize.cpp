#include "http/ReadSize.h"

#include <algorithm>

#include "text/AnsiText.h"

namespace {

// The leading decimal digits after blanks, read up to `cap`; 0 when there are
// none or the value is negative.
uint64_t LeadingLength(std::string_view contentLength, uint64_t cap)
{
    std::string_view text = UpToZero(contentLength);
    size_t at = text.find_first_not_of(" \t");
    if (at == std::string_view::npos || text[at] == '-')
        return 0;
    if (text[at] == '+')
        ++at;
    // Capped while reading, so that no length overflows.
    uint64_t length = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        length = std::min<uint64_t>(length * 10 + static_cast<uint64_t>(text[at] - '0'), cap);
    return length;
}

} // namespace

uint32_t ReadSizeForContentLength(std::optional<std::string_view> contentLength)
{
    if (!contentLength)
        return DefaultReadSize;
    // Any length at or past the maximum reads the same.
    const uint64_t length = LeadingLength(*contentLength, MaxReadSize);
    if (length == 0)
        return DefaultReadSize;
    return static_cast<uint32_t>(std::min<uint64_t>(length + 1, MaxReadSize));
}

std::optional<uint64_t> AnnouncedBodyLength(std::optional<std::string_view> contentLength)
{
    if (!contentLength)
        return std::nullopt;
    const uint64_t length = LeadingLength(*contentLength, UINT64_MAX / 16);
    if (length == 0)
        return std::nullopt;
    return length;
}

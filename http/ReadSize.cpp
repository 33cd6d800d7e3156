#include "http/ReadSize.h"

#include <algorithm>

#include "text/AnsiText.h"

uint32_t ReadSizeForContentLength(std::optional<std::string_view> contentLength)
{
    if (!contentLength)
        return DefaultReadSize;
    std::string_view text = UpToZero(*contentLength);
    size_t at = text.find_first_not_of(" \t");
    if (at == std::string_view::npos || text[at] == '-')
        return DefaultReadSize;
    if (text[at] == '+')
        ++at;
    // Capped while reading: any length at or past the maximum reads the same.
    uint64_t length = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        length = std::min<uint64_t>(length * 10 + static_cast<uint64_t>(text[at] - '0'), MaxReadSize);
    if (length == 0)
        return DefaultReadSize;
    return static_cast<uint32_t>(std::min<uint64_t>(length + 1, MaxReadSize));
}

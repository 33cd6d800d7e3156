#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

// How much one read of a reply body asks for, from the Content-Length text
// (none when the header could not be read): the announced length plus one,
// at most 102400, or 10240 when no positive length was announced. The text
// counts as its leading decimal digits after blanks. Free of platform headers.
inline constexpr uint32_t DefaultReadSize = 10240;
inline constexpr uint32_t MaxReadSize = 102400;

uint32_t ReadSizeForContentLength(std::optional<std::string_view> contentLength);

// The body length that the Content-Length text announces, when it announces
// a positive one (read the same way); bytes past it are not part of the reply.
std::optional<uint64_t> AnnouncedBodyLength(std::optional<std::string_view> contentLength);

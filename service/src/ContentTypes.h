#pragma once
// The content types of the service's replies; every text is UTF-8.

namespace kelvora {

inline constexpr const char* HtmlContent = "text/html; charset=utf-8";
inline constexpr const char* TextContent = "text/plain; charset=utf-8";
inline constexpr const char* JsonContent = "application/json; charset=utf-8";

} // namespace kelvora

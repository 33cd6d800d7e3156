#pragma once
// Writing the console's pages: every value is escaped for where it goes.
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvora {

// For element text and quoted attribute values alike.
std::string HtmlEscape(std::string_view text);
// For a value inside <script type="application/json">: "<", ">" and "&" as
// \u escapes, so no text can end the element.
std::string JsonForScript(std::string_view json);
// For a query value in a link.
std::string UrlEncode(std::string_view text);
// Local time as "2026-12-09 14:05".
std::string LocalTimeText(int64_t seconds);
// The start of the local day holding now.
int64_t LocalDayStart(int64_t now);

} // namespace kelvora

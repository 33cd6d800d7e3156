#pragma once
#include <string>
#include <string_view>

// Every byte as "%" and two upper-case hexadecimal digits; no byte is left
// as it is, and a space becomes %20. Free of platform headers on purpose.
std::string PercentEncodeBytes(std::string_view bytes);

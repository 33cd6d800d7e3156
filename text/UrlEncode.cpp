#include "text/UrlEncode.h"

#include "text/PercentEncode.h"
#include "text/Utf8Conversion.h"

AnsiText UrlEncode(std::string_view text)
{
    return PercentEncodeBytes(AnsiToUtf8(text));
}

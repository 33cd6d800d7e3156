#include "webview/EngineText.h"

#include <cstring>

#include "text/Utf8Conversion.h"
#include "text/WideText.h"
#include "webview/EngineApi.h"

AnsiText EngineStringToCp936(wkeString text)
{
    if (!text || !Engine().wkeGetStringW)
        return {};
    const wchar_t* wide = Engine().wkeGetStringW(text);
    return wide ? AnsiFromWide(wide) : AnsiText();
}

AnsiText EngineUtf8ToCp936(const char* utf8)
{
    if (!utf8)
        return {};
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8);
    return Utf8ToAnsi(ByteBuffer(bytes, bytes + std::strlen(utf8)));
}

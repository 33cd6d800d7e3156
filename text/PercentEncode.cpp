#include "text/PercentEncode.h"

std::string PercentEncodeBytes(std::string_view bytes)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(bytes.size() * 3);
    for (char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        encoded += '%';
        encoded += Digits[byte >> 4];
        encoded += Digits[byte & 0x0F];
    }
    return encoded;
}

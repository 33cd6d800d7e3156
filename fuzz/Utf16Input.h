#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Fuzz bytes as UTF-16 code units: a byte below 0xF0 is the unit of that
// value, so ASCII seeds read as written; 0xF0 and above takes the next two
// bytes as any unit (surrogates, U+2028 and the like).
inline std::u16string Utf16FromFuzzBytes(const uint8_t* data, std::size_t size)
{
    std::u16string text;
    text.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] < 0xF0 || i + 2 >= size) {
            text.push_back(data[i]);
        } else {
            text.push_back(static_cast<char16_t>((data[i + 1] << 8) | data[i + 2]));
            i += 2;
        }
    }
    return text;
}

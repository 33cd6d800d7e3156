// PercentEncodeBytes: every byte becomes exactly "%" and two upper-case hex
// digits, and the service's decoder gives the bytes back.
#include <string>

#include "FuzzCheck.h"
#include "QueryString.h"
#include "text/PercentEncode.h"

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1; // lower case is not what we send
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string encoded = PercentEncodeBytes(bytes);
    FUZZ_CHECK(encoded.size() == 3 * bytes.size());

    std::string decoded;
    for (std::size_t i = 0; i < encoded.size(); i += 3) {
        FUZZ_CHECK(encoded[i] == '%');
        const int high = HexDigit(encoded[i + 1]);
        const int low = HexDigit(encoded[i + 2]);
        FUZZ_CHECK(high >= 0 && low >= 0);
        decoded += static_cast<char>(high * 16 + low);
    }
    FUZZ_CHECK(decoded == bytes);

    const std::optional<std::string> serviceDecoded = kelvora::PercentDecode(encoded);
    FUZZ_CHECK(serviceDecoded && *serviceDecoded == bytes);
    return 0;
}

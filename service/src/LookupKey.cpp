#include "LookupKey.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace kelvora {

namespace {

constexpr size_t MacBytes = 32;
constexpr size_t MaxExpiryDigits = 12;

// The message names its purpose so a MAC made for anything else never passes.
std::string KeyMac(std::string_view secret, std::string_view question, std::string_view expiry)
{
    std::string message = "kelvora-lookup-key\n";
    message.append(expiry).append("\n").append(question);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLength = 0;
    if (!HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
              reinterpret_cast<const unsigned char*>(message.data()), message.size(), mac, &macLength) ||
        macLength != MacBytes) {
        return {};
    }
    return Base64Url(mac, macLength);
}

} // namespace

std::string Base64Url(const unsigned char* bytes, size_t count)
{
    static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    out.reserve((count + 2) / 3 * 4);
    for (size_t i = 0; i < count; i += 3) {
        uint32_t chunk = static_cast<uint32_t>(bytes[i]) << 16;
        if (i + 1 < count)
            chunk |= static_cast<uint32_t>(bytes[i + 1]) << 8;
        if (i + 2 < count)
            chunk |= bytes[i + 2];
        out.push_back(digits[(chunk >> 18) & 63]);
        out.push_back(digits[(chunk >> 12) & 63]);
        if (i + 1 < count)
            out.push_back(digits[(chunk >> 6) & 63]);
        if (i + 2 < count)
            out.push_back(digits[chunk & 63]);
    }
    return out;
}

std::string IssueLookupKey(std::string_view secret, std::string_view question, int64_t expiresAt)
{
    std::string expiry = std::to_string(expiresAt);
    std::string mac = KeyMac(secret, question, expiry);
    if (mac.empty())
        return {};
    return expiry + "." + mac;
}

KeyCheck CheckLookupKey(std::string_view secret, std::string_view question, std::string_view key, int64_t now)
{
    size_t dot = key.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot > MaxExpiryDigits)
        return KeyCheck::Invalid;
    std::string_view expiry = key.substr(0, dot);
    int64_t expiresAt = 0;
    for (char c : expiry) {
        if (c < '0' || c > '9')
            return KeyCheck::Invalid;
        expiresAt = expiresAt * 10 + (c - '0');
    }
    std::string expected = KeyMac(secret, question, expiry);
    std::string_view given = key.substr(dot + 1);
    if (expected.empty() || given.size() != expected.size() ||
        CRYPTO_memcmp(given.data(), expected.data(), expected.size()) != 0) {
        return KeyCheck::Invalid;
    }
    // Checked after the MAC so that only genuine keys are reported as expired.
    return now > expiresAt ? KeyCheck::Expired : KeyCheck::Valid;
}

} // namespace kelvora

#pragma once
// The lookup key binds one question to an expiry time under the server's
// secret, so an answer request opens only the question its page was asked for.
// Form: expiry seconds (decimal) "." base64url(HMAC-SHA256), all URL-safe ASCII.
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvora {

enum class KeyCheck { Valid, Expired, Invalid };

std::string IssueLookupKey(std::string_view secret, std::string_view question, int64_t expiresAt);

KeyCheck CheckLookupKey(std::string_view secret, std::string_view question, std::string_view key, int64_t now);

std::string Base64Url(const unsigned char* bytes, size_t count);

} // namespace kelvora

#pragma once
// Operators' passwords as Argon2id hashes, and the console's random tokens,
// on libsodium.
#include <string>
#include <string_view>

namespace kelvora {

// Must succeed once before anything below is used.
bool InitializeSecrets();

// The hash in libsodium's string form (it holds the salt and the cost), or
// empty when it could not be made (out of memory).
std::string HashPassword(std::string_view password);
bool VerifyPassword(const std::string& hash, std::string_view password);
// Costs as much as a verification that fails, for accounts that do not exist.
void SpendVerificationTime(std::string_view password);

// 32 bytes from the system's CSPRNG as 64 hexadecimal digits.
std::string RandomToken();
// Whether two tokens are equal, in time that does not depend on where they differ.
bool SameToken(std::string_view a, std::string_view b);

} // namespace kelvora

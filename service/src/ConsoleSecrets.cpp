#include "ConsoleSecrets.h"

#include <mutex>

#include <sodium.h>

namespace kelvora {

namespace {

// One hash at a time: each takes 64 MB for a moment.
std::mutex& HashTurn()
{
    static std::mutex turn;
    return turn;
}

} // namespace

bool InitializeSecrets()
{
    return sodium_init() >= 0;
}

std::string HashPassword(std::string_view password)
{
    char out[crypto_pwhash_STRBYTES];
    std::lock_guard<std::mutex> lock(HashTurn());
    if (crypto_pwhash_str_alg(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0) {
        return {};
    }
    return out;
}

bool VerifyPassword(const std::string& hash, std::string_view password)
{
    if (hash.empty() || hash.size() >= crypto_pwhash_STRBYTES)
        return false;
    std::lock_guard<std::mutex> lock(HashTurn());
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

void SpendVerificationTime(std::string_view password)
{
    static const std::string dummy = HashPassword("not an operator's password");
    VerifyPassword(dummy, password);
}

std::string RandomToken()
{
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    char hex[sizeof bytes * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    return std::string(hex, sizeof bytes * 2);
}

bool SameToken(std::string_view a, std::string_view b)
{
    if (a.size() != b.size() || a.empty())
        return false;
    return sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace kelvora

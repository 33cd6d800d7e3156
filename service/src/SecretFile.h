#pragma once
// The server's key secret: random bytes in a file readable by its owner only,
// made on the first start so that keys stay valid across restarts.
#include <string>

namespace kelvora {

struct SecretResult {
    bool ok = false;
    std::string secret;
    std::string error;
};

SecretResult LoadOrCreateSecret(const std::string& path);

} // namespace kelvora

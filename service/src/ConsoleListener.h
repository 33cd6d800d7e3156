#pragma once
// The operators' console has a listener of its own, apart from the students'
// one: it takes request bodies (forms, and a bank upload), which the students'
// side refuses outright. Each connection's head and body are bounded in size
// and time; handlers run on the listener's few threads.
#include <boost/noncopyable.hpp>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ContentTypes.h"

namespace kelvora {

struct ConsoleRequest {
    std::string method;
    std::string target;
    std::string path;          // the target up to "?"
    std::string clientAddress; // the peer, or the proxy's X-Forwarded-For entry when trusted
    std::string cookie;        // the Cookie header
    std::string contentType;
    std::string csrfHeader; // X-CSRF-Token
    bool https = false;     // X-Forwarded-Proto: https, from a trusted proxy
    std::string body;
};

struct ConsoleResponse {
    int status = 200;
    std::string contentType = HtmlContent;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

struct ConsoleListenerOptions {
    std::string host = "127.0.0.1";
    int port = 8788; // 0 picks a free port
    int threads = 4;
    int maxConnections = 64;
    size_t smallBodyLimit = 64 * 1024;        // forms
    size_t largeBodyLimit = 64 * 1024 * 1024; // the paths largeBody names
    bool trustForwardedFor = false;
};

using ConsoleHandler = std::function<void(const ConsoleRequest&, ConsoleResponse&)>;

class ConsoleListener : boost::noncopyable {
public:
    // largeBody tells, from the method and path, whether a request may carry
    // up to largeBodyLimit bytes; every other body is held to smallBodyLimit.
    ConsoleListener(ConsoleListenerOptions options, ConsoleHandler handler,
                    std::function<bool(const std::string& method, const std::string& path)> largeBody);
    ~ConsoleListener();

    bool Bind(std::string& error);
    int BoundPort() const;
    // Serves until Stop.
    void Run();
    void Stop();

    struct Impl; // shared with the connections, which outlive a call

private:
    std::shared_ptr<Impl> impl_;
};

} // namespace kelvora

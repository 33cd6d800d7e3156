#pragma once
// The service's HTTP/1.x transport on Boost.Beast and Asio: a few I/O threads
// accept connections and read request heads without blocking, so a slow or
// idle connection costs memory, not a thread. Limits are enforced while
// reading; routes that touch the database run on worker pools and their
// replies are written back by the I/O threads, in request order.
#include <boost/noncopyable.hpp>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "AccessLog.h"

namespace kelvora {

class RateLimiter;

struct HttpRequest {
    std::string method;        // "GET" or "HEAD"
    std::string target;        // path and query as sent
    std::string path;          // the target up to "?"
    std::string clientAddress; // the peer, or the proxy's X-Forwarded-For entry when trusted
    bool head = false;         // HEAD: the reply's body is not sent, and nothing may be changed
};

struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
};

using RouteHandler = std::function<void(const HttpRequest&, HttpResponse&)>;
// The reply a route gives when its rate limit refuses a request (status 429).
using RefusalReply = std::function<HttpResponse()>;

enum class RouteWork {
    Inline, // quick and never blocking: runs on the I/O thread
    Read,   // reads the database: runs on the read pool
    Write,  // writes the database: runs on the write pool; HEAD gets 405
};

struct ListenerOptions {
    std::string host = "127.0.0.1";
    int port = 8787; // 0 picks a free port
    int ioThreads = 2;
    int readThreads = 16;
    int writeThreads = 4;
    int backlog = 1024;
    int maxConnections = 4096;          // open at once; beyond it new connections get 503
    int maxConnectionsPerAddress = 256; // beyond it the address's new connections get 429 (not with trustForwardedFor)
    std::chrono::milliseconds headTimeout{10000};     // the first request's whole head
    std::chrono::milliseconds keepAliveTimeout{5000}; // idle time plus the next request's head
    std::chrono::milliseconds writeTimeout{10000};    // a reply the client does not read
    size_t maxRequestLine = 8192;                     // 414 beyond
    size_t maxHeaderLine = 8192;                      // 431 beyond, as for the next two
    size_t maxHeaderCount = 64;
    size_t maxHeaderBytes = 16384; // with maxRequestLine, the most a whole head may take
    int maxRequestsPerConnection = 1000;
    bool trustForwardedFor = false;
    AccessLogMode accessLog = AccessLogMode::Off;
};

class HttpListener : boost::noncopyable {
public:
    explicit HttpListener(ListenerOptions options);
    ~HttpListener();

    // Before Bind. A path is matched exactly; limiter, when given, is asked
    // once per request by client address and refuses with 429, with the
    // body of refusal when given, else a plain-text reason.
    void Route(const std::string& path, RouteWork work, RouteHandler handler, RateLimiter* limiter = nullptr,
               RefusalReply refusal = nullptr);

    // Opens the listening socket; false with a reason.
    bool Bind(std::string& error);
    int BoundPort() const;
    // Serves until Stop; then stops accepting, finishes the replies in
    // flight and returns within about 3 s whatever clients do.
    void Run();
    // From any thread, any number of times, also before Run.
    void Stop();

private:
    friend class HttpConnection;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace kelvora

#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/LoopbackClient.h"

// An HTTP server inside the test process, for tests that must see what goes
// on the wire. It listens on 127.0.0.1 only, on a port the system picks.
//
//   LoopbackServer server;
//   server.AddRoute("/a", Reply::Ok("hello"));
//   ASSERT_TRUE(server.Start());                 // listening once it returns
//   ... HttpFetch(server.Url("/a?x=1")) ...
//   ASSERT_TRUE(server.WaitForRequests(1, 5s));
//   EXPECT_EQ("GET", server.Requests()[0].method);
//
// Every connection runs on a thread of its own, so concurrent clients and
// long runs of connections (soak tests) both work. Each reply closes its
// connection ("Connection: close"). Routes and the records may be changed
// and read from the test's thread while the server runs. Stop (or the
// destructor) ends every connection, held-open ones included, and returns
// within its time-out.
//
// A connection whose first bytes are a TLS record (16 03) is counted as a
// handshake attempt and closed; it is not a request. A request whose head
// never ended (the client closed first) is recorded but gets no reply. A
// HEAD request gets the reply's head only.

// One request as the server received it.
struct RecordedRequest {
    std::string raw;                                          // every byte received on the connection, as received
    std::string method;                                       // parsed from the request line; empty when it never came
    std::string target;                                       // path and query as sent, e.g. /get?a=1
    std::string version;                                      // e.g. HTTP/1.0
    std::vector<std::pair<std::string, std::string>> headers; // in order, as sent
    std::string body;                                         // per Content-Length, when the request had one
    bool tlsHandshake = false;                                // the first bytes were a TLS record (16 03)

    std::string Path() const;  // target up to "?"
    std::string Query() const; // target after "?", without it; empty when none
    // First header of that name, compared case-insensitively; empty when absent.
    std::string Header(std::string_view name) const;
    bool HasHeader(std::string_view name) const;
    size_t HeaderCount(std::string_view name) const;
};

// How a reply goes out.
enum class ReplyMode {
    Normal,          // status line, headers, Content-Length, body
    NoLength,        // no Content-Length: the body ends when the server closes
    AnnouncedLength, // Content-Length: announcedLength (larger or smaller than the body)
    EarlyClose,      // the right Content-Length, but only sendBytes of the body, then close
    Trickle,         // the normal reply in pieces of chunkBytes, delayMs apart
    Raw,             // `body` verbatim, nothing added, then close
    HoldOpen,        // `body` verbatim (may be empty), then keep the connection until Stop
};

struct Reply {
    int status = 200;
    std::string reason; // empty: the usual phrase for the status
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body; // any bytes, zeros included
    ReplyMode mode = ReplyMode::Normal;
    uint64_t announcedLength = 0; // AnnouncedLength
    size_t sendBytes = 0;         // EarlyClose
    size_t chunkBytes = 1;        // Trickle
    int delayMs = 10;             // Trickle
    int delayFirstMs = 0;         // any mode: wait this long before the first byte

    static Reply Ok(std::string body, std::string contentType = "text/html");
    static Reply Status(int status, std::string body, std::string contentType = "text/html");
    static Reply Redirect(std::string location, int status = 302);
    static Reply WithoutLength(std::string body);
    static Reply WrongLength(std::string body, uint64_t announcedLength);
    static Reply EarlyClose(std::string body, size_t sendBytes);
    static Reply Trickle(std::string body, size_t chunkBytes, int delayMs);
    static Reply Raw(std::string bytes);
    static Reply HoldOpen(std::string bytesFirst = {});
    // The reply, sent only after `delayMs` (cut short when the server stops).
    static Reply Delayed(Reply reply, int delayMs);
};

// Builds the reply from the request; runs on the connection's thread.
using ReplyHandler = std::function<Reply(const RecordedRequest&)>;

// What a route pattern is compared with.
enum class Match {
    Path,         // the path (target without query), exactly
    PathPrefix,   // the path starts with the pattern
    Target,       // path and query, exactly
    TargetPrefix, // path and query start with the pattern
};

class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer(); // stops, as Stop() with its default time-out
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // The most recently added route that matches wins. Unmatched requests get
    // the fallback (404 "not found" unless set).
    void AddRoute(std::string pattern, Reply reply, Match match = Match::Path);
    void AddHandler(std::string pattern, ReplyHandler handler, Match match = Match::Path);
    void SetFallback(Reply reply);
    void ClearRoutes();

    // Binds 127.0.0.1 port 0 and listens before returning; false on failure.
    bool Start();
    // Ends every connection and the listener; false when the threads did not
    // finish in time (they hold only shared state, so nothing dangles).
    bool Stop(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    uint16_t Port() const;
    std::string BaseUrl() const;                    // http://127.0.0.1:port
    std::string Url(std::string_view target) const; // BaseUrl() + target

    std::vector<RecordedRequest> Requests() const;
    size_t RequestCount() const;    // HTTP requests recorded (TLS attempts excluded)
    size_t ConnectionCount() const; // connections accepted, whatever came on them
    size_t TlsHandshakeCount() const;
    void ClearRecords();
    // Waits until at least `count` requests (or connections) have been recorded.
    bool WaitForRequests(size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForConnections(size_t count, std::chrono::milliseconds timeout) const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

// Parses the request line, headers and body out of raw request bytes.
RecordedRequest ParseRecordedRequest(std::string raw);

// The status line and headers of a reply as the server sends them, ending
// with the blank line: Content-Length (unless the reply sets its own) when
// `withLength`, and "Connection: close" unless the reply says otherwise.
std::string FormatReplyHead(const Reply& reply, bool withLength, uint64_t length);

// The loopback test server's sockets: one detached thread accepts, one
// detached thread per connection reads the request and writes the reply.
// Threads hold the shared state, so Stop can give up on a straggler safely.
#include "tests/support/LoopbackServer.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/support/SocketOwners.h"

namespace {

constexpr auto PollStep = std::chrono::milliseconds(50);
// A client that sends nothing for this long is given up on.
constexpr auto IdleLimit = std::chrono::seconds(30);
// Requests larger than this are not read further.
constexpr size_t MaxRequestBytes = 16u << 20;

} // namespace

struct LoopbackServer::State {
    struct RouteEntry {
        std::string pattern;
        Match match;
        ReplyHandler handler;
    };

    WinsockUser winsock;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<RouteEntry> routes;
    ReplyHandler fallback = [](const RecordedRequest&) { return Reply::Status(404, "not found", "text/plain"); };
    std::vector<RecordedRequest> requests;
    size_t connections = 0;
    size_t tlsAttempts = 0;
    size_t activeThreads = 0;
    bool started = false;
    std::atomic<bool> stopping{false};
    uint16_t port = 0;

    // Sleeps, but wakes at once when the server stops; false when stopping.
    bool Pause(std::chrono::milliseconds delay)
    {
        std::unique_lock lock(mutex);
        return !changed.wait_for(lock, delay, [&] { return stopping.load(); });
    }

    void ThreadEnded()
    {
        std::lock_guard lock(mutex);
        --activeThreads;
        changed.notify_all();
    }

    ReplyHandler FindHandler(const RecordedRequest& request)
    {
        std::lock_guard lock(mutex);
        std::string path = request.Path();
        for (auto it = routes.rbegin(); it != routes.rend(); ++it) {
            const std::string& subject =
                (it->match == Match::Path || it->match == Match::PathPrefix) ? path : request.target;
            bool prefix = it->match == Match::PathPrefix || it->match == Match::TargetPrefix;
            if (prefix ? subject.starts_with(it->pattern) : subject == it->pattern)
                return it->handler;
        }
        return fallback;
    }

    // Reads whatever arrives within `wait`; 0 when the peer closed, -1 when
    // nothing came, the read failed or the server stops.
    int Receive(SOCKET s, std::string& into, std::chrono::milliseconds wait)
    {
        auto deadline = std::chrono::steady_clock::now() + wait;
        while (!stopping) {
            if (WaitSocket(s, false, PollStep)) {
                char buffer[65536];
                int got = recv(s, buffer, sizeof buffer, 0);
                if (got > 0)
                    into.append(buffer, got);
                return got > 0 ? got : (got == 0 ? 0 : -1);
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return -1;
        }
        return -1;
    }

    bool SendAll(SOCKET s, std::string_view data)
    {
        while (!data.empty()) {
            if (stopping)
                return false;
            int sent = send(s, data.data(), static_cast<int>(std::min<size_t>(data.size(), 1u << 20)), 0);
            if (sent > 0) {
                data.remove_prefix(sent);
            } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
                WaitSocket(s, true, PollStep);
            } else {
                return false;
            }
        }
        return true;
    }

    // Reads one request: the head up to the blank line, then the body that
    // its Content-Length announces. Stops early on a TLS handshake.
    std::string ReadRequest(SOCKET s)
    {
        std::string raw;
        size_t needed = std::string::npos;
        while (raw.size() < needed && raw.size() < MaxRequestBytes) {
            if (Receive(s, raw, IdleLimit) <= 0)
                break;
            if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0x16 && raw[1] == 0x03)
                break;
            size_t headEnd = raw.find("\r\n\r\n");
            if (needed == std::string::npos && headEnd != std::string::npos) {
                RecordedRequest head = ParseRecordedRequest(raw.substr(0, headEnd + 4));
                needed = headEnd + 4 + std::strtoull(head.Header("Content-Length").c_str(), nullptr, 10);
            }
        }
        return raw;
    }

    void Record(RecordedRequest request)
    {
        std::lock_guard lock(mutex);
        if (request.tlsHandshake)
            ++tlsAttempts;
        else
            requests.push_back(std::move(request));
        changed.notify_all();
    }

    void WriteReply(SOCKET s, const Reply& reply, bool headOnly)
    {
        if (reply.delayFirstMs > 0 && !Pause(std::chrono::milliseconds(reply.delayFirstMs)))
            return;
        std::string_view body = headOnly ? std::string_view() : std::string_view(reply.body);
        switch (reply.mode) {
        case ReplyMode::Normal: SendAll(s, FormatReplyHead(reply, true, reply.body.size()) + std::string(body)); break;
        case ReplyMode::NoLength: SendAll(s, FormatReplyHead(reply, false, 0) + std::string(body)); break;
        case ReplyMode::AnnouncedLength:
            SendAll(s, FormatReplyHead(reply, true, reply.announcedLength) + std::string(body));
            break;
        case ReplyMode::EarlyClose:
            SendAll(s, FormatReplyHead(reply, true, reply.body.size()) + std::string(body.substr(0, reply.sendBytes)));
            break;
        case ReplyMode::Trickle: {
            std::string all = FormatReplyHead(reply, true, reply.body.size()) + std::string(body);
            for (size_t at = 0; at < all.size(); at += reply.chunkBytes) {
                if (at > 0 && !Pause(std::chrono::milliseconds(reply.delayMs)))
                    return;
                if (!SendAll(s, std::string_view(all).substr(at, reply.chunkBytes)))
                    return;
            }
            break;
        }
        case ReplyMode::Raw: SendAll(s, reply.body); break;
        case ReplyMode::HoldOpen: {
            SendAll(s, reply.body);
            std::string ignored;
            // Held until the server stops or the client gives up.
            while (!stopping) {
                if (Receive(s, ignored, std::chrono::hours(24)) == 0)
                    break;
                ignored.clear();
            }
            break;
        }
        }
    }

    void Serve(SOCKET s)
    {
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        std::string raw = ReadRequest(s);
        if (raw.empty())
            return;
        RecordedRequest request = ParseRecordedRequest(std::move(raw));
        bool tls = request.tlsHandshake;
        bool complete = request.raw.find("\r\n\r\n") != std::string::npos;
        ReplyHandler handler = (tls || !complete) ? ReplyHandler() : FindHandler(request);
        Record(request);
        if (!handler)
            return;
        Reply reply;
        try {
            reply = handler(request);
        } catch (...) {
            reply = Reply::Status(500, "handler failed", "text/plain");
        }
        WriteReply(s, reply, request.method == "HEAD");
        // Let the client see the end of the reply before the socket goes.
        shutdown(s, SD_SEND);
        std::string drained;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (std::chrono::steady_clock::now() < deadline && Receive(s, drained, std::chrono::seconds(2)) > 0)
            drained.clear();
    }

    void AcceptLoop(SOCKET listener, std::shared_ptr<State> self)
    {
        Socket owned(listener);
        while (!stopping) {
            if (!WaitSocket(listener, false, PollStep))
                continue;
            SOCKET accepted = accept(listener, nullptr, nullptr);
            if (accepted == INVALID_SOCKET)
                continue;
            {
                std::lock_guard lock(mutex);
                ++connections;
                ++activeThreads;
                changed.notify_all();
            }
            try {
                std::thread([self, accepted] {
                    {
                        Socket connection(accepted);
                        self->Serve(connection.Get());
                    }
                    self->ThreadEnded();
                }).detach();
            } catch (...) {
                closesocket(accepted);
                ThreadEnded();
            }
        }
    }
};

LoopbackServer::LoopbackServer() : state_(std::make_shared<State>()) {}

LoopbackServer::~LoopbackServer()
{
    Stop();
}

void LoopbackServer::AddHandler(std::string pattern, ReplyHandler handler, Match match)
{
    std::lock_guard lock(state_->mutex);
    state_->routes.push_back({std::move(pattern), match, std::move(handler)});
}

void LoopbackServer::AddRoute(std::string pattern, Reply reply, Match match)
{
    AddHandler(
        std::move(pattern), [reply = std::move(reply)](const RecordedRequest&) { return reply; }, match);
}

void LoopbackServer::SetFallback(Reply reply)
{
    std::lock_guard lock(state_->mutex);
    state_->fallback = [reply = std::move(reply)](const RecordedRequest&) { return reply; };
}

void LoopbackServer::ClearRoutes()
{
    std::lock_guard lock(state_->mutex);
    state_->routes.clear();
}

bool LoopbackServer::Start()
{
    std::lock_guard lock(state_->mutex);
    if (state_->started)
        return false;
    Socket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!listener.Valid())
        return false;
    state_->port = BindLoopback(listener.Get());
    if (state_->port == 0 || listen(listener.Get(), SOMAXCONN) != 0)
        return false;
    try {
        SOCKET raw = listener.Get();
        std::thread([self = state_, raw] {
            self->AcceptLoop(raw, self);
            self->ThreadEnded();
        }).detach();
        listener.Release();
    } catch (...) {
        return false;
    }
    // The acceptor's ThreadEnded waits for this lock, so counting it here is in time.
    ++state_->activeThreads;
    state_->started = true;
    return true;
}

bool LoopbackServer::Stop(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(state_->mutex);
    if (!state_->started)
        return true;
    state_->stopping = true;
    state_->changed.notify_all();
    return state_->changed.wait_for(lock, timeout, [&] { return state_->activeThreads == 0; });
}

uint16_t LoopbackServer::Port() const
{
    return state_->port;
}

std::string LoopbackServer::BaseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(Port());
}

std::string LoopbackServer::Url(std::string_view target) const
{
    return BaseUrl() + std::string(target);
}

std::vector<RecordedRequest> LoopbackServer::Requests() const
{
    std::lock_guard lock(state_->mutex);
    return state_->requests;
}

size_t LoopbackServer::RequestCount() const
{
    std::lock_guard lock(state_->mutex);
    return state_->requests.size();
}

size_t LoopbackServer::ConnectionCount() const
{
    std::lock_guard lock(state_->mutex);
    return state_->connections;
}

size_t LoopbackServer::TlsHandshakeCount() const
{
    std::lock_guard lock(state_->mutex);
    return state_->tlsAttempts;
}

void LoopbackServer::ClearRecords()
{
    std::lock_guard lock(state_->mutex);
    state_->requests.clear();
    state_->connections = 0;
    state_->tlsAttempts = 0;
}

bool LoopbackServer::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] { return state_->requests.size() >= count; });
}

bool LoopbackServer::WaitForConnections(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] { return state_->connections >= count; });
}

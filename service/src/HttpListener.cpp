#include "HttpListener.h"

#include <atomic>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <sys/resource.h>
#include <thread>
#include <unordered_map>
#include <vector>

#include "ContentTypes.h"
#include "RateLimiter.h"
#include "RequestHeadParser.h"
#include "TextPieces.h"

namespace kelvora {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr size_t ReadChunk = 4096;
// What is read and thrown away of a client's further input before a closing
// connection is dropped, so that the client gets the last reply rather than
// a reset.
constexpr size_t MaxDrainBytes = 256 * 1024;
constexpr auto LingerTime = 1s;
// Connections the server cannot take are answered within this time, and
// only so many of them at once; beyond that they are closed unanswered.
constexpr auto RefusalTime = 1s;
constexpr int MaxRefusing = 256;
// Descriptors kept free for the database, the log and refusals.
constexpr int SpareDescriptors = MaxRefusing + 256;
constexpr auto StopGrace = 3s;
constexpr auto AcceptPause = 50ms;
constexpr size_t LoggedTargetBytes = 200;

const char* Reason(int status)
{
    switch (status) {
    case 400: return "bad request";
    case 404: return "not found";
    case 405: return "method not allowed";
    case 408: return "request head not received in time";
    case 413: return "request bodies are not accepted";
    case 414: return "request line too long";
    case 429: return "too many requests";
    case 431: return "request header fields too large";
    case 500: return "internal error";
    case 503: return "service unavailable";
    case 505: return "HTTP version not supported";
    }
    return "request refused";
}

HttpResponse Plain(int status)
{
    return {status, TextContent, std::to_string(status) + " " + Reason(status) + "\n"};
}

void RunHandler(const RouteHandler& handler, const HttpRequest& request, HttpResponse& response)
{
    try {
        handler(request, response);
    } catch (...) {
        response = Plain(500);
    }
}

std::string TimeStamp()
{
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

// Text from the network as one log line: control bytes, quotes and
// backslashes escaped, cut at max bytes.
std::string Printable(std::string_view text, size_t max)
{
    std::string out;
    for (size_t i = 0; i < text.size() && i < max; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (text.size() > max)
        out += "...";
    return out;
}

std::string AddressText(const net::ip::address& address)
{
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return net::ip::make_address_v4(net::ip::v4_mapped, address.to_v6()).to_string();
    }
    return address.to_string();
}

struct RouteEntry {
    RouteWork work;
    RouteHandler handler;
    RateLimiter* limiter;
    RefusalReply refusal;
};

} // namespace

class HttpConnection;

struct HttpListener::Impl {
    ListenerOptions options;
    size_t headLimit;
    std::unordered_map<std::string, RouteEntry> routes;
    AccessLog log;

    std::mutex mutex; // guards the connection registry below
    std::unordered_map<HttpConnection*, std::weak_ptr<HttpConnection>> sessions;
    std::unordered_map<std::string, int> perAddress;
    int open = 0;     // connections being served
    int refusing = 0; // connections being answered 503 or 429

    std::atomic<bool> stopping{false};
    int boundPort = 0;

    net::io_context ioc;
    tcp::acceptor acceptor;
    net::steady_timer acceptPause;
    net::strand<net::io_context::executor_type> stopStrand;
    net::steady_timer stopTimer;
    net::thread_pool readPool;
    net::thread_pool writePool;

    explicit Impl(ListenerOptions given)
        : options(std::move(given)),
          headLimit(options.maxRequestLine + options.maxHeaderBytes + 4),
          log(options.accessLog),
          ioc(options.ioThreads),
          acceptor(net::make_strand(ioc)),
          acceptPause(acceptor.get_executor()),
          stopStrand(net::make_strand(ioc)),
          stopTimer(stopStrand),
          readPool(static_cast<size_t>(std::max(options.readThreads, 1))),
          writePool(static_cast<size_t>(std::max(options.writeThreads, 1)))
    {
    }

    void Accept();
    void Admit(tcp::socket socket);
    void Unregister(HttpConnection* session, const std::string& peer, bool counted);
    void RaiseFileLimit();

    void Log(const std::string& client, const std::string& request, int status, size_t bytes, Clock::time_point since)
    {
        if (!log.Wants(status))
            return;
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - since).count();
        char timing[32];
        std::snprintf(timing, sizeof timing, "%.1fms", ms);
        // Status 0: the connection was closed without a reply (it sent nothing in time).
        log.Write(TimeStamp() + " " + client + " \"" + request + "\" " + (status ? std::to_string(status) : "closed") +
                  " " + std::to_string(bytes) + " " + timing);
    }
};

// One connection: reads request heads, answers them one after another, and
// closes after the last reply. Every handler runs on the connection's strand.
class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
public:
    HttpConnection(HttpListener::Impl& server, tcp::socket socket, std::string peer, bool counted)
        : server_(server),
          socket_(std::move(socket)),
          timer_(socket_.get_executor()),
          buffer_(server.headLimit + ReadChunk),
          peer_(std::move(peer)),
          counted_(counted)
    {
    }

    ~HttpConnection() { server_.Unregister(this, peer_, counted_); }

    auto Executor() { return socket_.get_executor(); }

    void Start()
    {
        NewParser();
        started_ = Clock::now();
        ArmTimer(server_.options.headTimeout);
        Read();
    }

    // Answers a connection the server does not take, then closes it.
    void Refuse(int status)
    {
        started_ = Clock::now();
        Answer(Plain(status), false, nullptr);
    }

    void Stop()
    {
        stopping_ = true;
        // A connection waiting for a request has nothing in flight; one whose
        // request is being answered closes after the reply.
        if (state_ == State::Reading || state_ == State::Closing)
            Close();
    }

private:
    enum class State { Reading, Processing, Writing, Closing, Closed };

    void NewParser()
    {
        const ListenerOptions& options = server_.options;
        parser_.emplace(options.maxHeaderLine, options.maxHeaderCount, server_.headLimit);
        headConsumed_ = 0;
        requestLineSeen_ = false;
        version_ = 11;
        head_ = false;
    }

    void ArmTimer(std::chrono::milliseconds after)
    {
        unsigned generation = ++timerGeneration_;
        timer_.expires_after(after);
        timer_.async_wait([self = shared_from_this(), generation](beast::error_code ec) {
            if (!ec && generation == self->timerGeneration_)
                self->OnTimeout();
        });
    }

    void CancelTimer()
    {
        ++timerGeneration_;
        timer_.cancel();
    }

    void OnTimeout()
    {
        if (state_ == State::Reading) {
            beast::error_code ignored;
            socket_.cancel(ignored);
            // A head that was begun and not finished is told why; a
            // connection that sent nothing is simply closed.
            if (headConsumed_ + buffer_.size() > 0)
                return Fail(408);
            if (served_ == 0)
                server_.Log(peer_, "-", 0, 0, started_);
            return Close();
        }
        if (state_ == State::Writing || state_ == State::Closing)
            Close();
    }

    void Read()
    {
        state_ = State::Reading;
        size_t room = buffer_.max_size() - buffer_.size();
        if (room == 0)
            return Fail(requestLineSeen_ ? 431 : 414);
        socket_.async_read_some(
            buffer_.prepare(std::min(ReadChunk, room)),
            [self = shared_from_this()](beast::error_code ec, size_t received) { self->OnRead(ec, received); });
    }

    void OnRead(beast::error_code ec, size_t received)
    {
        if (state_ != State::Reading)
            return; // a time-out or stop took over
        if (ec)
            return Close(); // closed, reset, or half-closed before a whole head
        buffer_.commit(received);
        Feed();
    }

    // Parses what has been buffered for the current head.
    void Feed()
    {
        const ListenerOptions& options = server_.options;
        auto data = buffer_.data();
        const char* bytes = static_cast<const char*>(data.data());
        size_t size = data.size();
        if (size == 0)
            return Read();
        if (!requestLineSeen_) {
            // The request line must end within its limit, whatever else arrives.
            size_t lineLimit = options.maxRequestLine + 2;
            requestLineSeen_ = std::memchr(bytes, '\n', std::min(size, lineLimit)) != nullptr;
            if (!requestLineSeen_ && size >= lineLimit)
                return Fail(414);
        }
        if (!started_.time_since_epoch().count())
            started_ = Clock::now();
        beast::error_code ec;
        size_t used = parser_->put(net::buffer(bytes, size), ec);
        buffer_.consume(used);
        headConsumed_ += used;
        if (ec == http::error::need_more || (!ec && !parser_->is_header_done())) {
            if (headConsumed_ + buffer_.size() >= server_.headLimit)
                return Fail(requestLineSeen_ ? 431 : 414);
            return Read();
        }
        if (ec == http::error::header_limit)
            return Fail(requestLineSeen_ ? 431 : 414);
        // A length over the body limit of 0 is found with the head: the head
        // itself is sound, but announces a body.
        if (ec == http::error::body_limit && parser_->GotRequestLine())
            return RefuseBody();
        if (ec)
            return Fail(400);
        Handle();
    }

    std::string ClientAddress() const
    {
        const std::string& chain = parser_->ForwardedFor();
        if (server_.options.trustForwardedFor && !chain.empty()) {
            // The proxy appends the address it saw, so the last entry is the trusted one.
            std::string last = LastListEntry(chain);
            if (!last.empty())
                return last;
        }
        return peer_;
    }

    // A whole head has been read: refuse it, answer it here, or pass it to a pool.
    void Handle()
    {
        CancelTimer();
        state_ = State::Processing;
        RequestHeadParser& head = *parser_;
        version_ = head.Version();
        // HTTP/1.x; a minor version above 1 is served as HTTP/1.1.
        if (version_ < 10 || version_ > 19) {
            version_ = 11;
            return Fail(505);
        }
        version_ = std::min(version_, 11);
        bool isGet = head.Method() == http::verb::get;
        bool isHead = head.Method() == http::verb::head;
        if (head.AnnouncesBody())
            return RefuseBody();
        bool keepAlive = head.keep_alive() && ++served_ < server_.options.maxRequestsPerConnection;
        head_ = isHead;
        if (!isGet && !isHead)
            return Answer(Plain(405), keepAlive, "GET, HEAD");
        const std::string& target = head.Target();
        if (target.empty() || target[0] != '/')
            return Fail(400);

        HttpRequest request;
        request.method = head.MethodText();
        request.target = target;
        request.path = target.substr(0, target.find('?'));
        request.head = head_;
        auto found = server_.routes.find(request.path);
        if (found == server_.routes.end())
            return Answer(Plain(404), keepAlive, nullptr);
        const RouteEntry& route = found->second;
        if (head_ && route.work == RouteWork::Write)
            return Answer(Plain(405), keepAlive, "GET");
        request.clientAddress = ClientAddress();
        client_ = request.clientAddress;
        if (route.limiter && !route.limiter->Allow(RateKey(request.clientAddress))) {
            HttpResponse refusal = Plain(429);
            if (route.refusal) {
                refusal = route.refusal();
                refusal.status = 429;
            }
            return Answer(std::move(refusal), keepAlive, nullptr);
        }
        if (route.work == RouteWork::Inline) {
            HttpResponse response;
            RunHandler(route.handler, request, response);
            return Answer(std::move(response), keepAlive, nullptr);
        }
        net::thread_pool& pool = route.work == RouteWork::Read ? server_.readPool : server_.writePool;
        // The guard keeps the I/O threads running until the reply is written.
        net::post(pool, [self = shared_from_this(), handler = &route.handler, request = std::move(request), keepAlive,
                         work = net::make_work_guard(socket_.get_executor())]() mutable {
            HttpResponse response;
            RunHandler(*handler, request, response);
            auto executor = self->Executor();
            net::post(executor, [self = std::move(self), response = std::move(response), keepAlive]() mutable {
                self->Answer(std::move(response), keepAlive, nullptr);
            });
        });
    }

    // A body is refused before a byte of it is read; the connection closes,
    // since what follows the head is not a request.
    void RefuseBody()
    {
        CancelTimer();
        state_ = State::Processing;
        http::verb method = parser_->Method();
        if (method != http::verb::get && method != http::verb::head)
            return Answer(Plain(405), false, "GET, HEAD");
        Fail(413);
    }

    // A refusal after which the connection closes.
    void Fail(int status) { Answer(Plain(status), false, nullptr); }

    void Answer(HttpResponse response, bool keepAlive, const char* allow)
    {
        if (stopping_ || server_.stopping)
            keepAlive = false;
        reply_ = {};
        reply_.version(version_);
        reply_.result(static_cast<unsigned>(response.status));
        reply_.set(http::field::content_type, response.contentType);
        reply_.set(http::field::cache_control, "no-store");
        if (allow)
            reply_.set(http::field::allow, allow);
        if (response.status == 429 || response.status == 503)
            reply_.set(http::field::retry_after, "5");
        size_t length = response.body.size();
        if (!head_)
            reply_.body() = std::move(response.body);
        reply_.content_length(length);
        reply_.keep_alive(keepAlive);
        closeAfter_ = !keepAlive;
        LogRequest(response.status, length);

        state_ = State::Writing;
        ArmTimer(counted_ ? server_.options.writeTimeout : std::chrono::milliseconds(RefusalTime));
        http::async_write(socket_, reply_,
                          [self = shared_from_this()](beast::error_code ec, size_t) { self->OnWritten(ec); });
    }

    void LogRequest(int status, size_t bytes)
    {
        if (!server_.log.Wants(status))
            return;
        std::string request = "-";
        if (parser_ && parser_->GotRequestLine()) {
            request = Printable(parser_->MethodText(), 16) + " " + Printable(parser_->Target(), LoggedTargetBytes) +
                      (version_ == 10 ? " HTTP/1.0" : " HTTP/1.1");
        }
        server_.Log(client_.empty() ? peer_ : client_, request, status, bytes, started_);
    }

    void OnWritten(beast::error_code ec)
    {
        if (state_ != State::Writing)
            return;
        CancelTimer();
        if (ec)
            return Close();
        if (closeAfter_ || stopping_ || server_.stopping)
            return Linger();
        // The next request on this connection; a pipelined one may be buffered already.
        NewParser();
        client_.clear();
        started_ = {};
        reply_ = {};
        ArmTimer(server_.options.keepAliveTimeout);
        state_ = State::Reading;
        Feed();
    }

    // Closes the sending side and reads what the client still sends for a
    // moment, so the reply is not lost to a reset.
    void Linger()
    {
        state_ = State::Closing;
        beast::error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_send, ignored);
        ArmTimer(std::chrono::duration_cast<std::chrono::milliseconds>(LingerTime));
        buffer_.clear();
        drained_ = 0;
        Drain();
    }

    void Drain()
    {
        socket_.async_read_some(buffer_.prepare(ReadChunk),
                                [self = shared_from_this()](beast::error_code ec, size_t n) {
                                    if (self->state_ != State::Closing)
                                        return;
                                    self->drained_ += n;
                                    if (ec || self->drained_ > MaxDrainBytes)
                                        return self->Close();
                                    self->Drain();
                                });
    }

    void Close()
    {
        if (state_ == State::Closed)
            return;
        state_ = State::Closed;
        CancelTimer();
        beast::error_code ignored;
        socket_.close(ignored);
    }

    HttpListener::Impl& server_;
    tcp::socket socket_;
    net::steady_timer timer_;
    beast::flat_buffer buffer_;
    std::optional<RequestHeadParser> parser_;
    http::response<http::string_body> reply_;
    std::string peer_;
    std::string client_;
    bool counted_;
    State state_ = State::Processing;
    unsigned timerGeneration_ = 0;
    size_t headConsumed_ = 0;
    size_t drained_ = 0;
    bool requestLineSeen_ = false;
    bool head_ = false;
    bool closeAfter_ = false;
    bool stopping_ = false;
    int version_ = 11;
    int served_ = 0;
    Clock::time_point started_{};
};

void HttpListener::Impl::Accept()
{
    acceptor.async_accept(net::make_strand(ioc), [this](beast::error_code ec, tcp::socket socket) {
        if (stopping || !acceptor.is_open() || ec == net::error::operation_aborted)
            return;
        if (ec) {
            // Out of descriptors or memory: try again shortly instead of spinning.
            acceptPause.expires_after(AcceptPause);
            acceptPause.async_wait([this](beast::error_code waitError) {
                if (!waitError && !stopping)
                    Accept();
            });
            return;
        }
        try {
            Admit(std::move(socket));
        } catch (const std::exception&) {
            // Not even a refusal could be made; the socket has been closed.
        }
        Accept();
    });
}

void HttpListener::Impl::Admit(tcp::socket socket)
{
    beast::error_code ec;
    tcp::endpoint remote = socket.remote_endpoint(ec);
    if (ec)
        return;
    socket.set_option(tcp::no_delay(true), ec); // small replies must not wait for delayed ACKs
    std::string peer = AddressText(remote.address());
    int refusal = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping || open >= options.maxConnections)
            refusal = 503;
        // Behind a trusted proxy every connection comes from the proxy, which
        // limits its clients itself; the cap would only throttle the proxy.
        else if (!options.trustForwardedFor && perAddress[peer] >= options.maxConnectionsPerAddress)
            refusal = 429;
        if (refusal == 0) {
            ++open;
            ++perAddress[peer];
        } else if (refusing >= MaxRefusing) {
            if (perAddress[peer] == 0)
                perAddress.erase(peer);
            return; // the socket is closed unanswered
        } else {
            if (perAddress[peer] == 0)
                perAddress.erase(peer);
            ++refusing;
        }
    }
    auto session = std::make_shared<HttpConnection>(*this, std::move(socket), peer, refusal == 0);
    {
        std::lock_guard<std::mutex> lock(mutex);
        sessions.emplace(session.get(), session);
    }
    net::dispatch(session->Executor(), [session, refusal] {
        if (refusal == 0)
            session->Start();
        else
            session->Refuse(refusal); // which logs the refusal as every reply is logged
    });
}

void HttpListener::Impl::Unregister(HttpConnection* session, const std::string& peer, bool counted)
{
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        sessions.erase(session);
        if (counted) {
            --open;
            auto found = perAddress.find(peer);
            if (found != perAddress.end() && --found->second <= 0)
                perAddress.erase(found);
        } else {
            --refusing;
        }
        last = stopping && open == 0 && refusing == 0;
    }
    // After a forced stop nothing is posted any more: the loop is gone.
    if (last && !ioc.stopped())
        net::post(stopStrand, [this] { stopTimer.cancel(); });
}

void HttpListener::Impl::RaiseFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    rlim_t wanted = static_cast<rlim_t>(options.maxConnections) + SpareDescriptors;
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur < wanted) {
        int allowed = std::max(16, static_cast<int>(limit.rlim_cur) - SpareDescriptors);
        options.maxConnections = allowed;
        // A limit that still leaves room for a thousand connections is no news.
        if (allowed >= 1024)
            return;
        std::fprintf(stderr, "kelvora-service: the open file limit %llu allows %d connections, not %d\n",
                     static_cast<unsigned long long>(limit.rlim_cur), allowed,
                     static_cast<int>(wanted) - SpareDescriptors);
    }
}

HttpListener::HttpListener(ListenerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

HttpListener::~HttpListener()
{
    Stop();
}

void HttpListener::Route(const std::string& path, RouteWork work, RouteHandler handler, RateLimiter* limiter,
                         RefusalReply refusal)
{
    impl_->routes[path] = {work, std::move(handler), limiter, std::move(refusal)};
}

bool HttpListener::Bind(std::string& error)
{
    Impl& impl = *impl_;
    error = "cannot listen on " + impl.options.host + ":" + std::to_string(impl.options.port);
    beast::error_code ec;
    tcp::resolver resolver(impl.ioc);
    auto results = resolver.resolve(impl.options.host, std::to_string(impl.options.port),
                                    tcp::resolver::passive | tcp::resolver::address_configured, ec);
    if (ec || results.empty())
        return false;
    tcp::endpoint endpoint = results.begin()->endpoint();
    impl.acceptor.open(endpoint.protocol(), ec);
    // SO_REUSEADDR only: with SO_REUSEPORT a second server could share the
    // port and take half the requests.
    if (!ec)
        impl.acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec)
        impl.acceptor.bind(endpoint, ec);
    if (!ec)
        impl.acceptor.listen(std::max(impl.options.backlog, 511), ec);
    if (ec) {
        impl.acceptor.close(ec);
        return false;
    }
    impl.boundPort = impl.acceptor.local_endpoint(ec).port();
    impl.RaiseFileLimit();
    error.clear();
    return true;
}

int HttpListener::BoundPort() const
{
    return impl_->boundPort;
}

void HttpListener::Run()
{
    Impl& impl = *impl_;
    net::post(impl.acceptor.get_executor(), [&impl] {
        if (!impl.stopping && impl.acceptor.is_open())
            impl.Accept();
    });
    auto loop = [&impl] {
        for (;;) {
            try {
                impl.ioc.run();
                return;
            } catch (const std::exception& problem) {
                std::fprintf(stderr, "kelvora-service: %s\n", problem.what());
            }
        }
    };
    std::vector<std::thread> threads;
    for (int i = 1; i < impl.options.ioThreads; ++i)
        threads.emplace_back(loop);
    loop();
    for (std::thread& thread : threads)
        thread.join();
    // Requests still queued after a forced stop are dropped unanswered; the
    // ones running finish.
    impl.readPool.stop();
    impl.writePool.stop();
    impl.readPool.join();
    impl.writePool.join();
}

void HttpListener::Stop()
{
    Impl& impl = *impl_;
    if (impl.stopping.exchange(true))
        return;
    net::post(impl.acceptor.get_executor(), [&impl] {
        beast::error_code ignored;
        impl.acceptor.close(ignored);
        impl.acceptPause.cancel();
    });
    std::vector<std::shared_ptr<HttpConnection>> all;
    {
        std::lock_guard<std::mutex> lock(impl.mutex);
        for (auto& entry : impl.sessions) {
            if (auto session = entry.second.lock())
                all.push_back(std::move(session));
        }
    }
    for (auto& session : all) {
        net::post(session->Executor(), [session] { session->Stop(); });
    }
    all.clear();
    // Clients that do not read their replies do not hold the stop up.
    net::post(impl.stopStrand, [&impl] {
        {
            std::lock_guard<std::mutex> lock(impl.mutex);
            if (impl.open == 0 && impl.refusing == 0)
                return;
        }
        impl.stopTimer.expires_after(StopGrace);
        impl.stopTimer.async_wait([&impl](beast::error_code ec) {
            if (!ec)
                impl.ioc.stop();
        });
    });
}

} // namespace kelvora

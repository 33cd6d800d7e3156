#include "ConsoleListener.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "ContentTypes.h"
#include "TextPieces.h"

namespace kelvora {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr auto HeadTime = std::chrono::seconds(20);
constexpr auto SmallBodyTime = std::chrono::seconds(30);
constexpr auto LargeBodyTime = std::chrono::seconds(600);
constexpr auto WriteTime = std::chrono::seconds(60);
constexpr auto IdleTime = std::chrono::seconds(30);
constexpr size_t HeadLimit = 16 * 1024;
constexpr int RequestsPerConnection = 1000;
constexpr auto StopGrace = std::chrono::seconds(3);

} // namespace

namespace {
class ConsoleConnection;
} // namespace

struct ConsoleListener::Impl : std::enable_shared_from_this<ConsoleListener::Impl> {
    ConsoleListenerOptions options;
    ConsoleHandler handler;
    std::function<bool(const std::string&, const std::string&)> largeBody;
    asio::io_context io;
    tcp::acceptor acceptor{io};
    std::atomic<int> open{0};
    std::atomic<bool> stopping{false};
    int boundPort = 0;
    std::mutex liveMutex;
    std::vector<std::weak_ptr<ConsoleConnection>> live; // to close the idle ones on stop

    void Accept();
    void CloseIdle();
};

namespace {

class ConsoleConnection : public std::enable_shared_from_this<ConsoleConnection> {
public:
    ConsoleConnection(std::shared_ptr<ConsoleListener::Impl> owner, tcp::socket socket)
        : owner_(std::move(owner)), stream_(std::move(socket))
    {
        beast::error_code ec;
        auto peer = stream_.socket().remote_endpoint(ec);
        if (!ec)
            peer_ = peer.address().to_string();
    }
    ~ConsoleConnection() { --owner_->open; }

    void Start() { ReadHead(); }

    // From any thread: a connection waiting for its next request is closed,
    // one in the middle of a request finishes it first.
    void CloseIfIdle()
    {
        asio::post(stream_.get_executor(), [self = shared_from_this()] {
            if (self->idle_)
                self->Close();
        });
    }

private:
    void ReadHead()
    {
        if (owner_->stopping || served_ >= RequestsPerConnection)
            return Close();
        idle_ = true;
        parser_.emplace();
        parser_->header_limit(HeadLimit);
        // The parser checks a declared length against its limit as soon as the
        // head is in, before the path is known: the path's own limit is set
        // (and a longer declared length refused) once the head is read.
        parser_->body_limit(std::max(owner_->options.smallBodyLimit, owner_->options.largeBodyLimit));
        stream_.expires_after(served_ == 0 ? HeadTime : IdleTime);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](beast::error_code ec, size_t) { self->OnHead(ec); });
    }

    void OnHead(beast::error_code ec)
    {
        idle_ = false;
        if (ec) {
            if (ec == http::error::header_limit)
                return Refuse(431, "request head too large\n");
            if (ec == beast::error::timeout || ec == http::error::end_of_stream || ec == asio::error::eof) {
                return Close();
            }
            return Refuse(400, "bad request\n");
        }
        auto& head = parser_->get();
        std::string target(head.target());
        std::string path = target.substr(0, target.find('?'));
        std::string method(head.method_string());
        bool large = owner_->largeBody && owner_->largeBody(method, path);
        size_t limit = large ? owner_->options.largeBodyLimit : owner_->options.smallBodyLimit;
        if (parser_->content_length() && *parser_->content_length() > limit) {
            return Refuse(413, "request body too large\n");
        }
        parser_->body_limit(limit);
        stream_.expires_after(large ? LargeBodyTime : SmallBodyTime);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code ec, size_t) { self->OnBody(ec); });
    }

    void OnBody(beast::error_code ec)
    {
        if (ec) {
            if (ec == http::error::body_limit)
                return Refuse(413, "request body too large\n");
            if (ec == beast::error::timeout)
                return Refuse(408, "request not complete in time\n");
            return Close();
        }
        auto& message = parser_->get();
        ConsoleRequest req;
        req.method = std::string(message.method_string());
        req.target = std::string(message.target());
        req.path = req.target.substr(0, req.target.find('?'));
        req.clientAddress = peer_;
        if (owner_->options.trustForwardedFor) {
            auto header = [&](const char* name) {
                auto value = message[name];
                return std::string_view(value.data(), value.size());
            };
            std::string forwarded = LastListEntry(header("X-Forwarded-For"));
            if (!forwarded.empty())
                req.clientAddress = forwarded;
            req.https = beast::iequals(LastListEntry(header("X-Forwarded-Proto")), "https");
        }
        req.cookie = std::string(message[http::field::cookie]);
        req.contentType = std::string(message[http::field::content_type]);
        req.csrfHeader = std::string(message["X-CSRF-Token"]);
        req.body = std::move(message.body());
        keepAlive_ = message.keep_alive();
        ++served_;

        ConsoleResponse res;
        owner_->handler(req, res);
        Send(res.status, res.contentType, std::move(res.body), res.headers, req.method == "HEAD");
    }

    void Refuse(int status, const char* reason)
    {
        keepAlive_ = false;
        Send(status, TextContent, reason, {}, false);
    }

    void Send(int status, const std::string& type, std::string body,
              const std::vector<std::pair<std::string, std::string>>& headers, bool headOnly)
    {
        auto reply = std::make_shared<http::response<http::string_body>>();
        reply->result(static_cast<unsigned>(status));
        reply->version(11);
        reply->set(http::field::content_type, type);
        for (const auto& [name, value] : headers)
            reply->insert(name, value);
        size_t length = body.size();
        if (!headOnly)
            reply->body() = std::move(body);
        reply->content_length(length);
        if (owner_->stopping)
            keepAlive_ = false;
        reply->keep_alive(keepAlive_);
        stream_.expires_after(WriteTime);
        http::async_write(stream_, *reply, [self = shared_from_this(), reply](beast::error_code ec, size_t) {
            if (ec || !self->keepAlive_)
                return self->Close();
            self->ReadHead();
        });
    }

    void Close()
    {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.socket().close(ignored);
    }

    std::shared_ptr<ConsoleListener::Impl> owner_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::string peer_;
    bool keepAlive_ = true;
    bool idle_ = false;
    int served_ = 0;
};

} // namespace

void ConsoleListener::Impl::CloseIdle()
{
    std::lock_guard<std::mutex> lock(liveMutex);
    for (const auto& weak : live) {
        if (auto connection = weak.lock())
            connection->CloseIfIdle();
    }
}

void ConsoleListener::Impl::Accept()
{
    // Each connection's handlers run in its own strand, so a close from Stop
    // never runs beside them.
    acceptor.async_accept(asio::make_strand(io), [self = shared_from_this()](beast::error_code ec, tcp::socket socket) {
        if (self->stopping)
            return;
        if (!ec) {
            if (self->open.load() >= self->options.maxConnections) {
                beast::error_code ignored;
                socket.close(ignored);
            } else {
                ++self->open;
                auto connection = std::make_shared<ConsoleConnection>(self, std::move(socket));
                {
                    std::lock_guard<std::mutex> lock(self->liveMutex);
                    std::erase_if(self->live, [](const auto& weak) { return weak.expired(); });
                    self->live.push_back(connection);
                }
                connection->Start();
                if (self->stopping)
                    connection->CloseIfIdle();
            }
        }
        self->Accept();
    });
}

ConsoleListener::ConsoleListener(ConsoleListenerOptions options, ConsoleHandler handler,
                                 std::function<bool(const std::string&, const std::string&)> largeBody)
    : impl_(std::make_shared<Impl>())
{
    impl_->options = std::move(options);
    impl_->handler = std::move(handler);
    impl_->largeBody = std::move(largeBody);
}

ConsoleListener::~ConsoleListener()
{
    Stop();
}

bool ConsoleListener::Bind(std::string& error)
{
    beast::error_code ec;
    auto address = asio::ip::make_address(impl_->options.host, ec);
    if (ec) {
        error = "console: not an IP address: " + impl_->options.host;
        return false;
    }
    tcp::endpoint endpoint(address, static_cast<unsigned short>(impl_->options.port));
    auto& acceptor = impl_->acceptor;
    acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
        acceptor.bind(endpoint, ec);
    if (!ec)
        acceptor.listen(64, ec);
    if (ec) {
        error = "console: cannot listen on " + impl_->options.host + ":" + std::to_string(impl_->options.port) + ": " +
                ec.message();
        return false;
    }
    impl_->boundPort = acceptor.local_endpoint().port();
    return true;
}

int ConsoleListener::BoundPort() const
{
    return impl_->boundPort;
}

void ConsoleListener::Run()
{
    impl_->Accept();
    std::vector<std::thread> threads;
    for (int i = 1; i < impl_->options.threads; ++i)
        threads.emplace_back([this] { impl_->io.run(); });
    // This thread also watches for the end: once stopping, the loop ends when
    // every connection is closed, or after StopGrace whatever clients do.
    std::optional<std::chrono::steady_clock::time_point> deadline;
    while (!impl_->io.stopped()) {
        impl_->io.run_for(std::chrono::milliseconds(100));
        if (!impl_->stopping)
            continue;
        auto now = std::chrono::steady_clock::now();
        if (!deadline)
            deadline = now + StopGrace;
        if (impl_->open.load() == 0 || now >= *deadline)
            impl_->io.stop();
    }
    for (auto& thread : threads)
        thread.join();
}

void ConsoleListener::Stop()
{
    if (impl_->stopping.exchange(true))
        return;
    asio::post(impl_->io, [impl = impl_] {
        beast::error_code ignored;
        impl->acceptor.close(ignored);
        impl->CloseIdle();
    });
}

} // namespace kelvora

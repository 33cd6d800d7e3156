#include "tests/support/LoopbackClient.h"

#include "tests/support/SocketOwners.h"

ExchangeResult ExchangeBytes(uint16_t port, std::string_view bytes, std::chrono::milliseconds wait)
{
    ExchangeResult result;
    WinsockUser winsock;
    if (!winsock.Started())
        return result;
    Socket owned(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!owned.Valid())
        return result;
    const SOCKET s = owned.Get();
    DWORD timeoutMs = static_cast<DWORD>(wait.count());
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    result.connected = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (result.connected) {
        if (!bytes.empty())
            send(s, bytes.data(), static_cast<int>(bytes.size()), 0);
        char buffer[65536];
        for (;;) {
            int got = recv(s, buffer, sizeof buffer, 0);
            if (got <= 0) {
                result.closedByPeer = got == 0;
                break;
            }
            result.received.append(buffer, got);
        }
    }
    return result;
}

std::string PlainGetRequest(std::string_view target, std::string_view extraHeaders)
{
    return "GET " + std::string(target) + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" + std::string(extraHeaders) + "\r\n";
}

std::string ReplyBody(std::string_view reply)
{
    size_t end = reply.find("\r\n\r\n");
    return end == std::string_view::npos ? std::string() : std::string(reply.substr(end + 4));
}

struct ClosedPort::BoundSocket {
    WinsockUser winsock;
    Socket socket{winsock.Started() ? ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET};
};

ClosedPort::ClosedPort() : bound_(std::make_unique<BoundSocket>())
{
    if (bound_->socket.Valid())
        port_ = BindLoopback(bound_->socket.Get());
}

ClosedPort::~ClosedPort() = default;

std::string ClosedPort::Url(std::string_view target) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(target);
}

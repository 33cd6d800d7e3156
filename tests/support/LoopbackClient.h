#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// A bare socket client for 127.0.0.1: what a test uses when it must control
// or see every byte itself.
struct ExchangeResult {
    bool connected = false;
    bool closedByPeer = false; // the reply ended with the server's close
    std::string received;      // every byte received, head included
};

// Connects to the port, sends the bytes and reads until the server closes or
// nothing arrives for `wait`.
ExchangeResult ExchangeBytes(uint16_t port, std::string_view bytes,
                             std::chrono::milliseconds wait = std::chrono::seconds(5));

// "GET target HTTP/1.0" with a Host header and the given extra header lines.
std::string PlainGetRequest(std::string_view target, std::string_view extraHeaders = {});

// The part of a raw reply after its head; empty when the head never ended.
std::string ReplyBody(std::string_view reply);

// A loopback port with nothing listening: connecting to it is refused. The
// port stays bound (not listening) for the object's life, so nothing else
// can take it meanwhile.
class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    uint16_t Port() const { return port_; }
    std::string Url(std::string_view target) const; // http://127.0.0.1:port + target

private:
    struct BoundSocket; // Winsock's types stay out of this header
    std::unique_ptr<BoundSocket> bound_;
    uint16_t port_ = 0;
};

#pragma once
#include <winsock2.h>

#include <chrono>
#include <utility>

// Owners for the test helpers' sockets.

// Keeps Winsock started for the object's life.
class WinsockUser {
public:
    WinsockUser()
    {
        WSADATA data;
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockUser()
    {
        if (started_)
            WSACleanup();
    }
    WinsockUser(const WinsockUser&) = delete;
    WinsockUser& operator=(const WinsockUser&) = delete;
    bool Started() const { return started_; }

private:
    bool started_ = false;
};

class Socket {
public:
    explicit Socket(SOCKET s = INVALID_SOCKET) : s_(s) {}
    ~Socket()
    {
        if (s_ != INVALID_SOCKET)
            closesocket(s_);
    }
    Socket(Socket&& other) noexcept : s_(std::exchange(other.s_, INVALID_SOCKET)) {}
    Socket& operator=(Socket&&) = delete;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET Get() const { return s_; }
    bool Valid() const { return s_ != INVALID_SOCKET; }
    SOCKET Release() { return std::exchange(s_, INVALID_SOCKET); }

private:
    SOCKET s_;
};

// True when the socket can be read (or written) within `wait`.
inline bool WaitSocket(SOCKET s, bool forWrite, std::chrono::milliseconds wait)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{static_cast<long>(wait.count() / 1000), static_cast<long>((wait.count() % 1000) * 1000)};
    return select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &tv) > 0;
}

// A socket bound to 127.0.0.1 on a port the system picks; its port, or 0.
inline uint16_t BindLoopback(SOCKET s)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return 0;
    return ntohs(address.sin_port);
}

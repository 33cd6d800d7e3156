#pragma once
// The operators' web console: pages to watch lookups, answer what students
// asked and the bank did not know, and keep the bank, on a listener of its
// own. Operators log in with accounts made on the command line.
#include <boost/noncopyable.hpp>
#include <memory>
#include <string>

namespace kelvora {

class BankMirror;

struct ConsoleOptions {
    std::string host = "127.0.0.1";
    int port = 8788; // 0 picks a free port
    std::string databasePath;
    bool trustForwardedFor = false; // behind a proxy: client address and HTTPS from X-Forwarded-*
    std::string chartScriptPath;    // Chart.js, served to the pages
    // The server's copy of the bank (PostgreSQL): the bank search matches on
    // it as lookups do, and the console's changes wake it to read them at once.
    BankMirror* bank = nullptr;
};

class ConsoleServer : boost::noncopyable {
public:
    explicit ConsoleServer(ConsoleOptions options);
    ~ConsoleServer();

    bool Start(std::string& error);
    int BoundPort() const;
    void Run();
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace kelvora

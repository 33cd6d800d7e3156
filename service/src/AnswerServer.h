#pragma once
// The answer service over HTTP: the lookup page that hands out keys, the
// configuration reply, the answer request, the report and a health check.
#include <boost/noncopyable.hpp>
#include <cstdint>
#include <memory>
#include <string>

#include "Retention.h"
#include "AccessLog.h"

namespace kelvora {

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8787;                    // 0 picks a free port (see BoundPort)
    std::string publicUrl;              // how clients reach the server; empty: http://host:port
    std::string databasePath;           // a SQLite file or a PostgreSQL URI (see IsPostgresLocation)
    int poolSize = 0;                   // database connections open at once; 0: as many as threads need
    std::string secret;                 // key for the lookup keys' MAC
    int64_t keyLifetime = 600;          // seconds a lookup key stays valid
    int threads = 16;                   // threads for requests that read the database
    int ioThreads = 2;                  // threads that accept, read and write connections
    int maxConnections = 4096;          // open at once; beyond it new connections get 503
    int maxConnectionsPerAddress = 256; // per client address; beyond it 429
    int headTimeout = 10;               // seconds for the first request's whole head (then 408)
    int keepAliveTimeout = 5;           // seconds a kept-alive connection waits for its next request
    int lookupRate = 100;               // key pages and answers per second per client address; 0: no limit
    int reportRate = 20;                // reports per second per client address; 0: no limit
    AccessLogMode accessLog = AccessLogMode::Off;
    std::string notice;             // the configuration's "title"
    std::string rejectNotice;       // the configuration's "log"
    bool trustForwardedFor = false; // behind a reverse proxy: client address from X-Forwarded-For
    RecordLimits limits;            // what is kept of reports and unanswered questions
};

class BankMirror;

class AnswerServer : boost::noncopyable {
public:
    explicit AnswerServer(ServerOptions options);
    ~AnswerServer();

    // Opens the database and binds the listening socket; false with a reason.
    bool Start(std::string& error);
    int BoundPort() const;
    // Serves until Stop is called (from any thread or a signal waiter).
    void Run();
    void Stop();
    // Waits until every unanswered question seen so far is written.
    void FlushRecords();
    // The copy of the bank lookups match on (PostgreSQL); nullptr on SQLite,
    // where they read the file.
    BankMirror* Bank() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace kelvora

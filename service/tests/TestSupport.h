#pragma once
// Helpers shared by the service's tests: scratch folders, a plain HTTP/1.0
// client that sends exactly what the desktop tool sends, and a server running
// inside the test process on a free loopback port.
#include <atomic>
#include <boost/noncopyable.hpp>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "AnswerServer.h"

namespace kelvora::test {

// A question as a student types it, and the bank question it should find.
struct TypedVariant {
    const char* typed;
    const char* bankQuestion;
};

class TempDir : boost::noncopyable {
public:
    TempDir();
    ~TempDir();
    std::string Path(std::string_view name) const { return path_ + "/" + std::string(name); }
    // A database of the test's own under name: a file in the folder, or, when
    // the tests run on PostgreSQL (KELVORA_TEST_DATABASE), a schema of its
    // own in that database. The same name gives the same database.
    std::string Database(std::string_view name);

private:
    std::string path_;
    std::map<std::string, std::string, std::less<>> databases_;
};

// The PostgreSQL database the tests run on (a connection URI), or empty for SQLite files.
std::string TestDatabaseBase();
inline bool OnPostgres()
{
    return !TestDatabaseBase().empty();
}

// Every byte as "%" and two upper-case hex digits, letters and digits included.
std::string PercentEncodeAll(std::string_view text);

struct HttpReply {
    int status = 0; // 0: no reply (connection failed or timed out)
    std::string headers;
    std::string body;
};

// One GET of target on 127.0.0.1:port as the tool makes it (HTTP/1.0, no
// keep-alive), giving up after timeoutMs.
HttpReply HttpGet(int port, std::string_view target, int timeoutMs = 5000);

// The request as given on a new connection; the reply up to its
// Content-Length or the close (with untilClose, everything until the close:
// further replies end up in the body).
HttpReply HttpExchange(int port, std::string_view request, int timeoutMs = 5000, bool untilClose = false);

// The text between the first "<body>" and the next "</body>", as the tool cuts the key.
std::string BodyText(std::string_view page);

// The answer URL's path and query as the tool builds it from the template.
std::string AnswerTarget(std::string_view templateUrl, std::string_view question, std::string_view key);

constexpr std::string_view TestSecret = "test secret of thirty-two bytes!";

// A server over a fresh database that holds the sample bank.
class RunningServer {
public:
    explicit RunningServer(const std::string& databasePath, int64_t keyLifetime = 600);
    ~RunningServer();
    int Port() const { return port_; }
    bool Started() const { return port_ != 0; }
    void FlushRecords() { server_->FlushRecords(); }

private:
    std::unique_ptr<AnswerServer> server_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    int port_ = 0;
};

bool ImportSampleBank(const std::string& databasePath);

// A free loopback port: bound, read back, released for a child to take.
int FreePort();

// One run of the shipped kelvora-service, standard output and error both to
// outputPath; killed on every path out of the test.
class ServiceProcess : boost::noncopyable {
public:
    ServiceProcess(const std::vector<std::string>& arguments, const std::string& outputPath);
    // Another program (a load balancer, say), given by its path or name on PATH.
    ServiceProcess(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& outputPath);
    ~ServiceProcess();

    bool Signal(int signal);
    // The exit status when the process ended within the time, else -1.
    int WaitForExit(std::chrono::milliseconds limit);
    pid_t Pid() const { return pid_; }
    // The most memory the process held (resident set, KB), once it has exited.
    long PeakKilobytes() const { return peakKilobytes_; }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    long peakKilobytes_ = 0;
};

bool WaitUntilHealthy(int port, std::chrono::milliseconds limit);

std::string ReadFile(const std::string& path);

// Runs a command of the program to its end (30 s at most) and gives its output.
std::string RunCommand(const std::vector<std::string>& arguments, const std::string& outputPath, int& status);

} // namespace kelvora::test

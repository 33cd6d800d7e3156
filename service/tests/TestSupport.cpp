#include "TestSupport.h"

#include <arpa/inet.h>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iostream>
#include <libpq-fe.h>

#include "BankImport.h"
#include "Database.h"

namespace kelvora::test {

TempDir::TempDir()
{
    char pattern[] = "/tmp/kelvora-service-test-XXXXXX";
    char* made = mkdtemp(pattern);
    path_ = made ? made : "/tmp";
}

TempDir::~TempDir()
{
    std::error_code ignored;
    if (path_ != "/tmp")
        std::filesystem::remove_all(path_, ignored);
}

std::string TestDatabaseBase()
{
    const char* base = std::getenv("KELVORA_TEST_DATABASE");
    return base && IsPostgresLocation(base) ? std::string(base) : std::string();
}

std::string TempDir::Database(std::string_view name)
{
    auto known = databases_.find(name);
    if (known != databases_.end())
        return known->second;
    std::string base = TestDatabaseBase();
    std::string location = Path(name);
    if (!base.empty()) {
        static std::atomic<int> made{0};
        std::string schema = "t" + std::to_string(getpid()) + "_" + std::to_string(++made) + "_" +
                             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000);
        PGconn* admin = PQconnectdb(base.c_str());
        PGresult* result = PQexec(admin, ("CREATE SCHEMA " + schema).c_str());
        if (PQresultStatus(result) != PGRES_COMMAND_OK)
            std::cerr << "cannot make a test schema: " << PQerrorMessage(admin);
        PQclear(result);
        PQfinish(admin);
        location = base + (base.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + schema;
    }
    databases_.emplace(std::string(name), location);
    return location;
}

std::string PercentEncodeAll(std::string_view text)
{
    std::string out;
    char piece[4];
    for (unsigned char c : text) {
        std::snprintf(piece, sizeof piece, "%%%02X", c);
        out += piece;
    }
    return out;
}

namespace {

// A reply is complete at its Content-Length; without one, at the close.
bool ReplyComplete(const std::string& received)
{
    size_t headerEnd = received.find("\r\n\r\n");
    if (headerEnd == std::string::npos)
        return false;
    std::string headers = received.substr(0, headerEnd);
    for (char& c : headers)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t field = headers.find("\r\ncontent-length:");
    if (field == std::string::npos)
        return false;
    size_t length = std::strtoul(headers.c_str() + field + 17, nullptr, 10);
    return received.size() - headerEnd - 4 >= length;
}

} // namespace

HttpReply HttpGet(int port, std::string_view target, int timeoutMs)
{
    std::string request = "GET " + std::string(target) +
                          " HTTP/1.0\r\nAccept: */*\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT "
                          "5.0)\r\nHost: 127.0.0.1:" +
                          std::to_string(port) + "\r\n\r\n";
    return HttpExchange(port, request, timeoutMs);
}

HttpReply HttpExchange(int port, std::string_view request, int timeoutMs, bool untilClose)
{
    HttpReply reply;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return reply;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string received;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char buffer[16384];
        for (;;) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd wait{fd, POLLIN, 0};
            if (poll(&wait, 1, static_cast<int>(left.count())) <= 0)
                break;
            ssize_t got = recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            received.append(buffer, static_cast<size_t>(got));
            if (!untilClose && ReplyComplete(received))
                break;
        }
    }
    close(fd);
    size_t headerEnd = received.find("\r\n\r\n");
    if (received.rfind("HTTP/1.", 0) != 0 || headerEnd == std::string::npos || received.size() < 12)
        return reply;
    reply.status = std::atoi(received.substr(9, 3).c_str());
    reply.headers = received.substr(0, headerEnd);
    reply.body = received.substr(headerEnd + 4);
    return reply;
}

std::string BodyText(std::string_view page)
{
    size_t open = page.find("<body>");
    if (open == std::string_view::npos)
        return {};
    open += 6;
    size_t close = page.find("</body>", open);
    if (close == std::string_view::npos)
        return {};
    return std::string(page.substr(open, close - open));
}

std::string AnswerTarget(std::string_view templateUrl, std::string_view question, std::string_view key)
{
    std::string url(templateUrl);
    auto replaceAll = [&url](std::string_view from, std::string_view to) {
        for (size_t at = url.find(from); at != std::string::npos; at = url.find(from, at + to.size())) {
            url.replace(at, from.size(), to);
        }
    };
    replaceAll("题目", PercentEncodeAll(question));
    replaceAll("密钥", key);
    size_t scheme = url.find("://");
    size_t path = scheme == std::string::npos ? std::string::npos : url.find('/', scheme + 3);
    return path == std::string::npos ? url : url.substr(path);
}

RunningServer::RunningServer(const std::string& databasePath, int64_t keyLifetime)
{
    ServerOptions options;
    options.host = "127.0.0.1";
    options.port = 0;
    options.databasePath = databasePath;
    options.secret = std::string(TestSecret);
    options.keyLifetime = keyLifetime;
    options.threads = 8;
    options.notice = "notice line";
    options.rejectNotice = "rejected notice";
    server_ = std::make_unique<AnswerServer>(options);
    std::string error;
    if (!server_->Start(error))
        return;
    port_ = server_->BoundPort();
    thread_ = std::thread([this] {
        server_->Run();
        finished_ = true;
    });
}

RunningServer::~RunningServer()
{
    if (!thread_.joinable())
        return;
    // Stop is lost if it comes before the listener loop runs, so it is repeated.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!finished_ && std::chrono::steady_clock::now() < deadline) {
        server_->Stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    thread_.join();
}

bool ImportSampleBank(const std::string& databasePath)
{
    Connection db;
    if (!db.Open(databasePath))
        return false;
    ImportSummary summary = ImportBank(db, ReadBankFile(KELVORA_SAMPLE_BANK), std::time(nullptr));
    return summary.ok && summary.skipped == 0;
}

int FreePort()
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

ServiceProcess::ServiceProcess(const std::vector<std::string>& arguments, const std::string& outputPath)
    : ServiceProcess(KELVORA_SERVICE_EXE, arguments, outputPath)
{
}

ServiceProcess::ServiceProcess(const std::string& program, const std::vector<std::string>& arguments,
                               const std::string& outputPath)
{
    std::vector<char*> argv;
    std::string exe = program;
    argv.push_back(exe.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(out, 2);
        execvp(exe.c_str(), argv.data());
        _exit(127);
    }
}

ServiceProcess::~ServiceProcess()
{
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool ServiceProcess::Signal(int signal)
{
    return pid_ > 0 && !exited_ && kill(pid_, signal) == 0;
}

int ServiceProcess::WaitForExit(std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0) {
        int status = 0;
        rusage usage{};
        pid_t done = wait4(pid_, &status, WNOHANG, &usage);
        if (done == pid_) {
            exited_ = true;
            peakKilobytes_ = usage.ru_maxrss;
            return status;
        }
        if (std::chrono::steady_clock::now() > deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

bool WaitUntilHealthy(int port, std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (HttpGet(port, "/healthz", 500).status == 200)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string RunCommand(const std::vector<std::string>& arguments, const std::string& outputPath, int& status)
{
    ServiceProcess process(arguments, outputPath);
    status = process.WaitForExit(std::chrono::seconds(30));
    return ReadFile(outputPath);
}

} // namespace kelvora::test

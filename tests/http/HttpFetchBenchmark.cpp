// Prints HttpFetch throughput on loopback next to a plain socket reading the
// same reply from the same server in the same process.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "http/HttpFetch.h"
#include "tests/support/LoopbackClient.h"
#include "tests/support/LoopbackServer.h"

namespace {

using Clock = std::chrono::steady_clock;

size_t SocketFetch(uint16_t port, const std::string& target)
{
    return ExchangeBytes(port, PlainGetRequest(target), std::chrono::seconds(30)).received.size();
}

template <typename Fetch>
double MedianSeconds(int rounds, Fetch fetch, size_t expectedBytes, bool& complete)
{
    std::vector<double> seconds;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        size_t got = fetch();
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        complete = complete && got >= expectedBytes;
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

void Measure(LoopbackServer& server, const char* label, const std::string& target, size_t bytes, int rounds)
{
    bool complete = true;
    const std::string url = server.Url(target);
    double fetch = MedianSeconds(
        rounds, [&] { return HttpFetch(url).size(); }, bytes, complete);
    double plain = MedianSeconds(
        rounds, [&] { return SocketFetch(server.Port(), target); }, bytes, complete);
    const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::printf("%-7s x%-3d HttpFetch %8.2f ms %8.1f MB/s | socket %8.2f ms %8.1f MB/s | ratio %.2f%s\n", label, rounds,
                fetch * 1000, mb / fetch, plain * 1000, mb / plain, fetch / plain,
                complete ? "" : "  (INCOMPLETE BODIES)");
}

} // namespace

int main()
{
    std::string tiny(1024, 't');
    std::string small(100 * 1024, 's');
    std::string large(5 * 1024 * 1024, 'L');
    LoopbackServer server;
    server.AddRoute("/1k", Reply::Ok(tiny, "application/octet-stream"));
    server.AddRoute("/100k", Reply::Ok(small, "application/octet-stream"));
    server.AddRoute("/5m", Reply::Ok(large, "application/octet-stream"));
    if (!server.Start())
        return 1;
    // Warm up: the session, the first connection, the server's threads.
    HttpFetch(server.Url("/100k"));
    SocketFetch(server.Port(), "/100k");

    std::printf("median time per fetch on 127.0.0.1 (ratio = HttpFetch / socket)\n");
    Measure(server, "1 KB", "/1k", tiny.size(), 101);
    Measure(server, "100 KB", "/100k", small.size(), 41);
    Measure(server, "5 MB", "/5m", large.size(), 9);
    server.Stop();
    return 0;
}

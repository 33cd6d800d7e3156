// The loopback test server checked with a bare socket client, so that the
// tests built on it can trust what it records and sends.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/LoopbackClient.h"
#include "tests/support/LoopbackServer.h"

using namespace std::chrono_literals;

namespace {

std::string Get(const std::string& target)
{
    return PlainGetRequest(target, "User-Agent: probe\r\n");
}

} // namespace

TEST(LoopbackServer, RecordsRequestsAndServesRoutes)
{
    LoopbackServer server;
    server.AddRoute("/a", Reply::Ok("alpha"));
    server.AddRoute("/p/", Reply::Ok("prefix"), Match::PathPrefix);
    server.AddRoute("/q?x=1", Reply::Ok("query one"), Match::Target);
    std::string zeros("z\0\xB4\xF0", 4);
    server.AddRoute("/bin", Reply::Ok(zeros, "application/octet-stream"));
    ASSERT_TRUE(server.Start());
    ASSERT_NE(0, server.Port());

    ExchangeResult a = ExchangeBytes(server.Port(), Get("/a?k=v"));
    EXPECT_TRUE(a.closedByPeer);
    EXPECT_EQ(0u, a.received.find("HTTP/1.1 200 OK\r\n"));
    EXPECT_NE(std::string::npos, a.received.find("Content-Length: 5\r\n"));
    EXPECT_EQ("alpha", ReplyBody(a.received));
    EXPECT_EQ("prefix", ReplyBody(ExchangeBytes(server.Port(), Get("/p/deep/er")).received));
    EXPECT_EQ("query one", ReplyBody(ExchangeBytes(server.Port(), Get("/q?x=1")).received));
    EXPECT_EQ(0u, ExchangeBytes(server.Port(), Get("/q?x=2")).received.find("HTTP/1.1 404"));
    EXPECT_EQ(zeros, ReplyBody(ExchangeBytes(server.Port(), Get("/bin")).received));

    ASSERT_TRUE(server.WaitForRequests(5, 5s));
    std::vector<RecordedRequest> requests = server.Requests();
    ASSERT_EQ(5u, requests.size());
    EXPECT_EQ(Get("/a?k=v"), requests[0].raw);
    EXPECT_EQ("GET", requests[0].method);
    EXPECT_EQ("/a?k=v", requests[0].target);
    EXPECT_EQ("/a", requests[0].Path());
    EXPECT_EQ("k=v", requests[0].Query());
    EXPECT_EQ("HTTP/1.0", requests[0].version);
    EXPECT_EQ("probe", requests[0].Header("user-agent"));
    EXPECT_FALSE(requests[0].HasHeader("Referer"));
    EXPECT_EQ(5u, server.ConnectionCount());
    EXPECT_TRUE(server.Stop(5s));
}

TEST(LoopbackServer, LaterRoutesAndHandlersWin)
{
    LoopbackServer server;
    server.AddRoute("/", Reply::Ok("any"), Match::PathPrefix);
    server.AddHandler("/echo", [](const RecordedRequest& r) { return Reply::Ok("echo " + r.Query()); });
    server.AddRoute("/r", Reply::Redirect("/echo?from=r"));
    ASSERT_TRUE(server.Start());
    EXPECT_EQ("echo a=b", ReplyBody(ExchangeBytes(server.Port(), Get("/echo?a=b")).received));
    EXPECT_EQ("any", ReplyBody(ExchangeBytes(server.Port(), Get("/other")).received));
    std::string redirect = ExchangeBytes(server.Port(), Get("/r")).received;
    EXPECT_EQ(0u, redirect.find("HTTP/1.1 302 Found\r\n"));
    EXPECT_NE(std::string::npos, redirect.find("Location: /echo?from=r\r\n"));
}

TEST(LoopbackServer, BrokenRepliesGoOutAsConfigured)
{
    LoopbackServer server;
    server.AddRoute("/nolength", Reply::WithoutLength("until close"));
    server.AddRoute("/longer", Reply::WrongLength("short", 100));
    server.AddRoute("/early", Reply::EarlyClose("0123456789", 4));
    server.AddRoute("/raw", Reply::Raw(std::string("HTTP/1.0 200 OK\r\n\r\n\0x", 21)));
    server.AddRoute("/trickle", Reply::Trickle("slowly", 3, 20));
    server.AddRoute("/late", Reply::Delayed(Reply::Ok("late"), 300));
    ASSERT_TRUE(server.Start());

    std::string noLength = ExchangeBytes(server.Port(), Get("/nolength")).received;
    EXPECT_EQ(std::string::npos, noLength.find("Content-Length"));
    EXPECT_EQ("until close", ReplyBody(noLength));
    std::string longer = ExchangeBytes(server.Port(), Get("/longer")).received;
    EXPECT_NE(std::string::npos, longer.find("Content-Length: 100\r\n"));
    EXPECT_EQ("short", ReplyBody(longer));
    std::string early = ExchangeBytes(server.Port(), Get("/early")).received;
    EXPECT_NE(std::string::npos, early.find("Content-Length: 10\r\n"));
    EXPECT_EQ("0123", ReplyBody(early));
    EXPECT_EQ(std::string("HTTP/1.0 200 OK\r\n\r\n\0x", 21), ExchangeBytes(server.Port(), Get("/raw")).received);

    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ("slowly", ReplyBody(ExchangeBytes(server.Port(), Get("/trickle")).received));
    EXPECT_GT(std::chrono::steady_clock::now() - started, 100ms);
    started = std::chrono::steady_clock::now();
    EXPECT_EQ("late", ReplyBody(ExchangeBytes(server.Port(), Get("/late")).received));
    EXPECT_GT(std::chrono::steady_clock::now() - started, 250ms);
}

TEST(LoopbackServer, StopEndsHeldConnectionsInTime)
{
    LoopbackServer server;
    server.AddRoute("/hold", Reply::HoldOpen("HTTP/1.0 200 OK\r\n\r\npartial"));
    ASSERT_TRUE(server.Start());
    ExchangeResult held;
    std::thread client([&] { held = ExchangeBytes(server.Port(), Get("/hold"), 20s); });
    ASSERT_TRUE(server.WaitForRequests(1, 5s));
    auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(server.Stop(5s));
    client.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ("partial", ReplyBody(held.received));
}

TEST(LoopbackServer, CountsTlsHandshakesApart)
{
    LoopbackServer server;
    ASSERT_TRUE(server.Start());
    std::string hello("\x16\x03\x01\x00\x05\x01\x00\x00\x01\x00", 10);
    ExchangeBytes(server.Port(), hello);
    ASSERT_TRUE(server.WaitForConnections(1, 5s));
    EXPECT_EQ(1u, server.TlsHandshakeCount());
    EXPECT_EQ(0u, server.RequestCount());
}

TEST(LoopbackServer, ClosedPortRefuses)
{
    ClosedPort closed;
    ASSERT_NE(0, closed.Port());
    EXPECT_FALSE(ExchangeBytes(closed.Port(), Get("/")).connected);
}

TEST(LoopbackServer, ServesConcurrentAndRepeatedConnections)
{
    LoopbackServer server;
    server.AddHandler("/n", [](const RecordedRequest& r) { return Reply::Ok(r.Query()); });
    server.AddRoute("/slow", Reply::Trickle(std::string(20, 's'), 1, 25));
    ASSERT_TRUE(server.Start());

    // A slow reply must not hold up the others.
    std::atomic<int> good = 0;
    std::vector<std::thread> clients;
    clients.emplace_back([&] { good += ReplyBody(ExchangeBytes(server.Port(), Get("/slow")).received).size() == 20; });
    for (int i = 0; i < 8; ++i) {
        clients.emplace_back([&, i] {
            std::string id = std::to_string(i);
            good += ReplyBody(ExchangeBytes(server.Port(), Get("/n?" + id)).received) == id;
        });
    }
    for (auto& client : clients)
        client.join();
    EXPECT_EQ(9, good.load());

    int inARow = 0;
    for (int i = 0; i < 300; ++i)
        inARow += ReplyBody(ExchangeBytes(server.Port(), Get("/n?" + std::to_string(i))).received) == std::to_string(i);
    EXPECT_EQ(300, inARow);
    EXPECT_EQ(309u, server.RequestCount());
}

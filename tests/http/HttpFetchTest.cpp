// HttpFetch against the loopback server, which records every raw request.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <thread>

#include "http/HttpFetch.h"
#include "http/HttpSession.h"
#include "tests/support/LoopbackServer.h"

using namespace std::chrono_literals;

namespace {

std::string Text(const ByteBuffer& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// A server with a sentinel route: a test that expects nothing on the wire
// fetches the sentinel afterwards and then finds it the only request.
class HttpFetchTest : public testing::Test {
protected:
    void SetUp() override
    {
        server.AddRoute("/sentinel", Reply::Ok("sentinel"));
        ASSERT_TRUE(server.Start());
    }

    void ExpectNothingSentBefore(const char* what)
    {
        SCOPED_TRACE(what);
        EXPECT_EQ("sentinel", Text(HttpFetch(server.Url("/sentinel"))));
        std::vector<RecordedRequest> requests = server.Requests();
        ASSERT_EQ(1u, requests.size());
        EXPECT_EQ("/sentinel", requests[0].target);
        EXPECT_EQ(1u, server.ConnectionCount());
        server.ClearRecords();
    }

    // Fetches `path` expecting nothing back; gives (and prints) how long that took.
    DWORD TimeToNothing(const std::string& path, const FetchLimits& limits, const char* what)
    {
        const DWORD start = GetTickCount();
        EXPECT_EQ("", Text(HttpFetch(server.Url(path), limits))) << what;
        const DWORD elapsed = GetTickCount() - start;
        std::printf("%s ended after %lu ms\n", what, static_cast<unsigned long>(elapsed));
        return elapsed;
    }

    LoopbackServer server;
};

} // namespace

// In a process of its own (gtest starts the program again for it), so that
// no other test has opened the session yet, whatever the order of the run.
TEST_F(HttpFetchTest, SessionOpensOnceOnFirstUse)
{
    server.AddRoute("/one", Reply::Ok("1"));
    EXPECT_EXIT(
        {
            UINT failed = 0;
            if (!HttpFetch("").empty() || HttpSessionOpenCount() != 0)
                failed |= 1;
            if (Text(HttpFetch(server.Url("/one"))) != "1" || Text(HttpFetch(server.Url("/one"))) != "1")
                failed |= 2;
            if (HttpSessionOpenCount() != 1 || server.RequestCount() != 2u)
                failed |= 4;
            fprintf(stderr, "session check: %u\n", failed);
            fflush(stderr);
            // Without running destructors: the server's thread still runs.
            ExitProcess(failed);
        },
        testing::ExitedWithCode(0), "session check: 0");
}

TEST_F(HttpFetchTest, SendsAPlainHttp10Get)
{
    server.AddRoute("/path", Reply::Ok("body"));
    EXPECT_EQ("body", Text(HttpFetch(server.Url("/path?query=1&b=%E9%A2%98"))));
    std::vector<RecordedRequest> requests = server.Requests();
    ASSERT_EQ(1u, requests.size());
    const RecordedRequest& r = requests[0];
    EXPECT_EQ(0u, r.raw.find("GET /path?query=1&b=%E9%A2%98 HTTP/1.0\r\n")) << r.raw;
    EXPECT_EQ("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)", r.Header("User-Agent"));
    EXPECT_EQ(1u, r.HeaderCount("Accept")) << r.raw;
    EXPECT_NE(std::string::npos, r.Header("Accept").find("*/*")) << r.raw;
    EXPECT_EQ("127.0.0.1:" + std::to_string(server.Port()), r.Header("Host"));
    EXPECT_FALSE(r.HasHeader("Referer"));
    EXPECT_TRUE(r.body.empty());
    // The head ends once, at the end of the request.
    EXPECT_EQ(r.raw.size() - 4, r.raw.find("\r\n\r\n")) << r.raw;
}

TEST_F(HttpFetchTest, FragmentIsNotSent)
{
    server.AddRoute("/f", Reply::Ok("f"));
    EXPECT_EQ("f", Text(HttpFetch(server.Url("/f?x=1#part"))));
    std::vector<RecordedRequest> requests = server.Requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("/f?x=1", requests[0].target);
    EXPECT_EQ(std::string::npos, requests[0].raw.find("part"));
}

TEST_F(HttpFetchTest, OverlongPathSendsNothing)
{
    server.AddRoute("/", Reply::Ok("long"));
    // "/" and "?q=" and the filler: 2047 characters still go, 2048 do not.
    const std::string fits = "/?q=" + std::string(2047 - 4, 'a');
    EXPECT_EQ("long", Text(HttpFetch(server.Url(fits))));
    ASSERT_EQ(1u, server.RequestCount());
    EXPECT_EQ(fits, server.Requests()[0].target);
    server.ClearRecords();

    EXPECT_TRUE(HttpFetch(server.Url(fits + "a")).empty());
    EXPECT_TRUE(HttpFetch(server.Url("/?q=" + std::string(5000, 'b'))).empty());
    // The fragment counts towards the limit too, though it is never sent.
    EXPECT_TRUE(HttpFetch(server.Url("/x#" + std::string(2100, 'c'))).empty());
    ExpectNothingSentBefore("overlong paths");
}

TEST_F(HttpFetchTest, ControlCharactersInTheUrlSendNothing)
{
    server.AddRoute("/a", Reply::Ok("a"));
    EXPECT_TRUE(HttpFetch(server.Url("/a?k=1\r\nX-Injected: 1")).empty());
    EXPECT_TRUE(HttpFetch(server.Url("/a?k=1\nX-Injected: 1")).empty());
    EXPECT_TRUE(HttpFetch(server.Url("/a?k=1\r")).empty());
    EXPECT_TRUE(HttpFetch(server.Url("/a?k=\t1")).empty());
    EXPECT_TRUE(HttpFetch(server.Url("/a?k=\x7F")).empty());
    EXPECT_TRUE(HttpFetch(server.Url("/a#\r\n")).empty());
    ExpectNothingSentBefore("control characters");
}

TEST_F(HttpFetchTest, UnusableUrlsGiveEmpty)
{
    EXPECT_TRUE(HttpFetch("").empty());
    EXPECT_TRUE(HttpFetch("not a url").empty());
    EXPECT_TRUE(HttpFetch("ftp://127.0.0.1:" + std::to_string(server.Port()) + "/x").empty());
    EXPECT_TRUE(HttpFetch("http://" + std::string(300, 'h') + "/").empty());
    ExpectNothingSentBefore("unusable URLs");
}

TEST_F(HttpFetchTest, ErrorPagesComeBack)
{
    const std::string page = "<html><body>no such page</body></html>";
    server.AddRoute("/missing", Reply::Status(404, page));
    server.AddRoute("/broken", Reply::Status(500, "server error"));
    EXPECT_EQ(page, Text(HttpFetch(server.Url("/missing"))));
    EXPECT_EQ("server error", Text(HttpFetch(server.Url("/broken"))));
}

TEST_F(HttpFetchTest, BodiesComeBackWhole)
{
    std::string big(500000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + i / 251);
    const std::string zeros("a\0b\0\0\xE7\xAD\x94", 8);
    const std::string noLength(30000, 'n');
    server.AddRoute("/big", Reply::Ok(big, "application/octet-stream"));
    server.AddRoute("/zeros", Reply::Ok(zeros));
    server.AddRoute("/nolength", Reply::WithoutLength(noLength));
    server.AddRoute("/empty", Reply::Ok(""));
    server.AddRoute("/trickle", Reply::Trickle("slow body", 2, 5));
    server.AddRoute("/blanks", Reply::Raw("HTTP/1.0 200 OK\r\nContent-Length:    5\r\n\r\nfives"));

    EXPECT_TRUE(Text(HttpFetch(server.Url("/big"))) == big) << "500000 bytes did not come back whole";
    EXPECT_EQ(zeros, Text(HttpFetch(server.Url("/zeros"))));
    EXPECT_EQ(noLength, Text(HttpFetch(server.Url("/nolength"))));
    EXPECT_TRUE(HttpFetch(server.Url("/empty")).empty());
    EXPECT_EQ("slow body", Text(HttpFetch(server.Url("/trickle"))));
    EXPECT_EQ("fives", Text(HttpFetch(server.Url("/blanks"))));
}

TEST_F(HttpFetchTest, ShortAndCutRepliesKeepWhatArrived)
{
    server.AddRoute("/longer", Reply::WrongLength("short", 100));
    server.AddRoute("/early", Reply::EarlyClose("0123456789", 4));
    EXPECT_EQ("short", Text(HttpFetch(server.Url("/longer"))));
    EXPECT_EQ("0123", Text(HttpFetch(server.Url("/early"))));
}

TEST_F(HttpFetchTest, BodyEndsAtTheAnnouncedLength)
{
    // Bytes sent past the announced length are not part of the reply.
    server.AddRoute("/shorter", Reply::WrongLength("0123456789", 4));
    EXPECT_EQ("0123", Text(HttpFetch(server.Url("/shorter"))));
}

TEST_F(HttpFetchTest, ServiceThatStopsSendingDoesNotHoldTheCaller)
{
    // The head and part of the body, then silence with the connection open.
    server.AddRoute("/stalled", Reply::HoldOpen("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\npartial"));
    // The read asks for the whole announced body at once and fails at the
    // receive time-out with nothing handed over: no bytes to keep.
    EXPECT_LT(TimeToNothing("/stalled", FetchLimits(), "stalled reply"), 60000u);
}

TEST_F(HttpFetchTest, RepliesBeyondTheLimitsGiveEmpty)
{
    // Two bytes every 50 ms: still arriving when the time is up.
    server.AddRoute("/trickle", Reply::Trickle(std::string(400, 'x'), 2, 50));
    server.AddRoute("/endless", Reply::WithoutLength(std::string(300000, 'y')));
    FetchLimits limits;
    limits.totalMs = 2000;
    limits.maxBodyBytes = 200000;
    EXPECT_LT(TimeToNothing("/trickle", limits, "trickle"), 8000u);
    EXPECT_TRUE(HttpFetch(server.Url("/endless"), limits).empty());
    // Within the limits the same replies come back whole.
    limits.maxBodyBytes = 300000;
    EXPECT_EQ(300000u, HttpFetch(server.Url("/endless"), limits).size());
}

TEST_F(HttpFetchTest, FollowsRedirects)
{
    server.AddRoute("/from", Reply::Redirect("/to?x=2"));
    server.AddRoute("/to", Reply::Ok("arrived"));
    EXPECT_EQ("arrived", Text(HttpFetch(server.Url("/from"))));
    std::vector<RecordedRequest> requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("/to?x=2", requests[1].target);
}

TEST_F(HttpFetchTest, RedirectCircleEndsEmpty)
{
    server.AddRoute("/a", Reply::Redirect("/b"));
    server.AddRoute("/b", Reply::Redirect(server.Url("/a")));
    EXPECT_TRUE(HttpFetch(server.Url("/a")).empty());
    // The first request and twenty redirects, then it gives up.
    EXPECT_EQ(21u, server.RequestCount());
}

TEST_F(HttpFetchTest, RedirectChainEndsAtTheFetchsDeadline)
{
    // Five hops of 900 ms each, then the body: within each hop's own time,
    // but 4.5 s in all against a limit of 2 s for the whole fetch.
    for (int hop = 1; hop <= 5; ++hop) {
        Reply redirect = Reply::Redirect("/hop" + std::to_string(hop + 1));
        redirect.delayFirstMs = 900;
        server.AddRoute("/hop" + std::to_string(hop), redirect);
    }
    server.AddRoute("/hop6", Reply::Ok("end of the chain"));
    FetchLimits limits;
    limits.totalMs = 2000;
    EXPECT_LT(TimeToNothing("/hop1", limits, "redirect chain"), 3500u);
    EXPECT_LT(server.RequestCount(), 6u);
    // With time enough, the same chain arrives.
    limits.totalMs = 20000;
    EXPECT_EQ("end of the chain", Text(HttpFetch(server.Url("/hop1"), limits)));
}

TEST_F(HttpFetchTest, NeverAnswersFromTheCache)
{
    int served = 0;
    server.AddHandler("/counter", [&served](const RecordedRequest&) {
        Reply reply = Reply::Ok("reply " + std::to_string(++served));
        reply.headers.emplace_back("Cache-Control", "max-age=3600");
        return reply;
    });
    EXPECT_EQ("reply 1", Text(HttpFetch(server.Url("/counter"))));
    EXPECT_EQ("reply 2", Text(HttpFetch(server.Url("/counter"))));
    EXPECT_EQ(2u, server.RequestCount());
}

TEST_F(HttpFetchTest, LongUrlsWithinTheLimitsGoOut)
{
    // Longer than the first canonical buffer of 2084 bytes, yet every part fits.
    server.AddRoute("/long", Reply::Ok("long url"));
    const std::string target = "/long?q=" + std::string(2000, 'q');
    const std::string url = "http://" + std::string(120, 'u') + ":" + std::string(120, 'p') +
                            "@127.0.0.1:" + std::to_string(server.Port()) + target;
    ASSERT_GT(url.size(), 2084u);
    EXPECT_EQ("long url", Text(HttpFetch(url)));
    std::vector<RecordedRequest> requests = server.Requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(target, requests[0].target);
}

TEST_F(HttpFetchTest, RefusedConnectionGivesEmpty)
{
    ClosedPort closed;
    ASSERT_NE(0, closed.Port());
    EXPECT_TRUE(HttpFetch(closed.Url("/a")).empty());
}

TEST_F(HttpFetchTest, HttpsOpensATlsHandshakeOnItsPort)
{
    EXPECT_TRUE(HttpFetch("https://127.0.0.1:" + std::to_string(server.Port()) + "/secure").empty());
    EXPECT_GE(server.TlsHandshakeCount(), 1u);
    EXPECT_EQ(0u, server.RequestCount());
}

TEST_F(HttpFetchTest, ConcurrentFetchesEachGetTheirBody)
{
    server.AddHandler("/n", [](const RecordedRequest& r) { return Reply::Ok("n=" + r.Query()); });
    std::vector<std::string> bodies(6);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < bodies.size(); ++i)
        threads.emplace_back([&, i] { bodies[i] = Text(HttpFetch(server.Url("/n?" + std::to_string(i)))); });
    for (auto& thread : threads)
        thread.join();
    for (size_t i = 0; i < bodies.size(); ++i)
        EXPECT_EQ("n=" + std::to_string(i), bodies[i]);
    EXPECT_EQ(1, HttpSessionOpenCount());
}

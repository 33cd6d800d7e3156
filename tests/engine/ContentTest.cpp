// What a loaded page gives the host: its source as UTF-8 bytes, its title and
// its picture.
#include <gtest/gtest.h>

#include "tests/engine/EngineHarness.h"
#include "tests/support/LoopbackServer.h"

namespace {

// "中文答案" in UTF-8 and in code page 936.
const std::string ChineseUtf8 = "\xE4\xB8\xAD\xE6\x96\x87\xE7\xAD\x94\xE6\xA1\x88";
const std::string ChineseGbk = "\xD6\xD0\xCE\xC4\xB4\xF0\xB0\xB8";

class EngineContent : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, EngineApi::Get());
        ASSERT_TRUE(server.Start());
    }

    // Loads the URL in a fresh view and returns its source.
    std::string SourceOf(const std::string& target)
    {
        SCOPED_TRACE(target);
        ViewHarness view;
        view.Load(server.Url(target));
        EXPECT_TRUE(view.WaitForFinishes(1));
        EXPECT_EQ(1u, view.finishes.size());
        if (!view.finishes.empty()) {
            EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[0].result);
        }
        return view.Source();
    }

    LoopbackServer server;
};

TEST_F(EngineContent, Utf8PageIsReturnedByteForByte)
{
    // A stray invalid byte and a zero-width character must survive untouched.
    const std::string page = "<html><head><meta charset=\"utf-8\"></head><body>" + ChineseUtf8 + "\xFF\xFE" +
                             "\xE2\x80\x8B&amp;</body></html>\r\n";
    server.AddRoute("/utf8", Reply::Ok(page, "text/html; charset=utf-8"));
    server.AddRoute("/undeclared", Reply::Ok(page, "text/html"));
    EXPECT_EQ(page, SourceOf("/utf8"));
    EXPECT_EQ(page, SourceOf("/undeclared"));
}

TEST_F(EngineContent, GbkPagesAreConvertedToUtf8)
{
    const std::string head = "<html><head><title>t</title></head><body>";
    server.AddRoute("/header", Reply::Ok(head + ChineseGbk + "</body></html>", "text/html; charset=GBK"));
    EXPECT_EQ(head + ChineseUtf8 + "</body></html>", SourceOf("/header"));

    const std::string metaHead =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\"></head><body>";
    server.AddRoute("/meta", Reply::Ok(metaHead + ChineseGbk + "</body></html>", "text/html"));
    EXPECT_EQ(metaHead + ChineseUtf8 + "</body></html>", SourceOf("/meta"));

    const std::string html5Head = "<html><head><meta charset=gbk></head><body>";
    server.AddRoute("/meta5", Reply::Ok(html5Head + ChineseGbk + "</body></html>", "text/html"));
    EXPECT_EQ(html5Head + ChineseUtf8 + "</body></html>", SourceOf("/meta5"));
}

TEST_F(EngineContent, UndeclaredLegacyPageIsReadAsGbkForTitleAndSource)
{
    // No charset in the header, no <meta>: older Chinese pages look like this.
    const std::string page =
        "<html><head><title>" + ChineseGbk + "</title></head><body>" + ChineseGbk + "</body></html>";
    server.AddRoute("/legacy", Reply::Ok(page, "text/html"));
    ViewHarness view;
    view.Load(server.Url("/legacy"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[0].result);
    EXPECT_EQ(ChineseUtf8, std::string(view.Api().getTitle(view.View())));
    ASSERT_EQ(1u, view.titles.size());
    EXPECT_EQ(ChineseUtf8, view.titles[0]);
    EXPECT_EQ("<html><head><title>" + ChineseUtf8 + "</title></head><body>" + ChineseUtf8 + "</body></html>",
              view.Source());
}

TEST_F(EngineContent, TitleIsUtf8EvenWhenTheDeclaredCharsetIsWrong)
{
    // Declared UTF-8, served in GBK: the source stays as served, the title is still UTF-8.
    const std::string page = "<html><head><meta charset=\"utf-8\"><title>a" + ChineseGbk + "</title></head></html>";
    server.AddRoute("/liar", Reply::Ok(page, "text/html"));
    ViewHarness view;
    view.Load(server.Url("/liar"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    EXPECT_EQ(page, view.Source());
    const std::string title = view.Api().getTitle(view.View());
    ASSERT_FALSE(title.empty());
    EXPECT_EQ('a', title[0]);
    EXPECT_GT(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, title.c_str(), -1, nullptr, 0), 0)
        << "not UTF-8: " << title;
}

TEST_F(EngineContent, Gb18030PageKeepsItsFourByteCharacters)
{
    // U+00A5 and U+E7C7 (four bytes in the BMP), U+20000 (four bytes beyond
    // it) and a two-byte character.
    const std::string gb = "\x81\x30\x84\x36\x95\x32\x82\x36\xD6\xD0\x81\x35\xF4\x37";
    const std::string utf8 = "\xC2\xA5\xF0\xA0\x80\x80\xE4\xB8\xAD\xEE\x9F\x87";
    server.AddRoute("/gb18030",
                    Reply::Ok("<title>" + gb + "</title><body>" + gb + "</body>", "text/html; charset=GB18030"));
    ViewHarness view;
    view.Load(server.Url("/gb18030"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    EXPECT_EQ(utf8, std::string(view.Api().getTitle(view.View())));
    EXPECT_EQ("<title>" + utf8 + "</title><body>" + utf8 + "</body>", view.Source());
}

TEST_F(EngineContent, NotFoundPageSucceedsWithItsBody)
{
    server.AddRoute("/missing", Reply::Status(404, "<body>no such page</body>"));
    ViewHarness view;
    view.Load(server.Url("/missing"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[0].result);
    EXPECT_EQ("<body>no such page</body>", view.Source());
}

TEST_F(EngineContent, ServerErrorAndOddRepliesStillFinishOnce)
{
    server.AddRoute("/500", Reply::Status(500, "<body>oops</body>"));
    server.AddRoute("/nolength", Reply::WithoutLength("<body>until close</body>"));
    server.AddRoute("/empty", Reply::Ok(""));
    server.AddRoute("/garbage", Reply::Raw("this is not HTTP at all\r\n\r\n"));
    server.AddRoute("/cut", Reply::EarlyClose("<body>" + std::string(5000, 'c') + "</body>", 100));
    EXPECT_EQ("<body>oops</body>", SourceOf("/500"));
    EXPECT_EQ("<body>until close</body>", SourceOf("/nolength"));
    EXPECT_EQ("", SourceOf("/empty"));
    server.AddRoute("/chunked",
                    Reply::Raw("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n"
                               "Connection: close\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n"));
    EXPECT_EQ("hello world", SourceOf("/chunked"));
    {
        // Cut short after 100 of its bytes: a failure, never a shorter page.
        ViewHarness view;
        view.Load(server.Url("/cut"));
        ASSERT_TRUE(view.WaitForFinishes(1, 40000));
        EXPECT_EQ(WKE_LOADING_FAILED, view.finishes[0].result);
        EXPECT_EQ("", view.Source());
    }
    for (const char* target : {"/garbage", "/cut"}) {
        SCOPED_TRACE(target);
        ViewHarness view;
        view.Load(server.Url(target));
        ASSERT_TRUE(view.WaitForFinishes(1, 40000));
        view.PumpFor(200);
        EXPECT_EQ(1u, view.finishes.size());
    }
}

TEST_F(EngineContent, TenMegabytePageArrivesWhole)
{
    std::string big = "<html><body>";
    while (big.size() < 10u * 1024 * 1024)
        big += "<p>" + ChineseUtf8 + " line of text with <a href=\"/x\">a link</a></p>\n";
    big += "</body></html>";
    server.AddRoute("/big", Reply::Ok(big, "text/html; charset=utf-8"));
    const std::string source = SourceOf("/big");
    EXPECT_EQ(big.size(), source.size());
    EXPECT_TRUE(source == big);
}

TEST_F(EngineContent, TitleChangesArriveAndEntitiesAreDecoded)
{
    server.AddRoute("/one", Reply::Ok("<title> First &amp; " + ChineseUtf8 + " </title>"));
    server.AddRoute("/two", Reply::Ok("<TITLE>Second</TITLE>"));
    ViewHarness view;
    view.Load(server.Url("/one"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    view.Load(server.Url("/two"));
    ASSERT_TRUE(view.WaitForFinishes(2));
    ASSERT_EQ(2u, view.titles.size());
    EXPECT_EQ("First & " + ChineseUtf8, view.titles[0]);
    EXPECT_EQ("Second", view.titles[1]);
    EXPECT_STREQ("Second", view.Api().getTitle(view.View()));
}

TEST_F(EngineContent, LoadHtmlShowsTheGivenDocument)
{
    ViewHarness view;
    const std::string html = "<html><head><title>local</title></head><body>" + ChineseUtf8 + "</body></html>";
    view.Api().loadHtml(view.View(), html.c_str());
    ASSERT_TRUE(view.WaitForFinishes(1));
    EXPECT_EQ(WKE_LOADING_SUCCEEDED, view.finishes[0].result);
    EXPECT_EQ(html, view.Source());
    EXPECT_STREQ("local", view.Api().getTitle(view.View()));
}

TEST_F(EngineContent, PageIsPaintedAtTheViewsSize)
{
    server.AddRoute("/drawn",
                    Reply::Ok("<body><script>var hidden = 1;</script>Text <a href=\"/next\">link</a></body>"));
    ViewHarness view(320, 200);
    view.Load(server.Url("/drawn"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    EXPECT_GE(view.paints, 1);
    EXPECT_EQ(320, view.lastPaintCx);
    EXPECT_EQ(200, view.lastPaintCy);
    EXPECT_TRUE(view.sawInk);
    EXPECT_NE(CLR_INVALID, view.paintedLinkPixelSeen) << "links are drawn in blue";

    view.Api().resize(view.View(), 500, 260);
    view.PumpFor(200);
    EXPECT_EQ(500, view.lastPaintCx);
    EXPECT_EQ(260, view.lastPaintCy);
}

TEST_F(EngineContent, UserAgentIsBrowserLikeUnlessSet)
{
    server.AddRoute("/ua", Reply::Ok("<body>ua</body>"));
    ViewHarness view;
    view.Load(server.Url("/ua"));
    ASSERT_TRUE(view.WaitForFinishes(1));
    view.Api().setUserAgent(view.View(), "KelvoraTest/1.0");
    view.Load(server.Url("/ua"));
    ASSERT_TRUE(view.WaitForFinishes(2));
    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(0u, requests[0].Header("User-Agent").find("Mozilla/5.0"));
    EXPECT_EQ("KelvoraTest/1.0", requests[1].Header("User-Agent"));
    EXPECT_EQ("/ua", requests[1].target);
}

} // namespace

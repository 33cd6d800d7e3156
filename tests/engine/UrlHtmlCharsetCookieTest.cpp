// The engine's inner parts, linked in directly: URL resolution, text
// extraction, charset handling and the cookie jar's rules and file.
#include <gtest/gtest.h>

#include <windows.h>

#include "engine/Charset.h"
#include "engine/CookieJar.h"
#include "engine/HtmlElements.h"
#include "engine/HtmlText.h"
#include "engine/Url.h"
#include "tests/support/ScratchDirectory.h"

namespace {

std::wstring VisibleText(const PageText& page)
{
    std::wstring text;
    for (const TextItem& item : page.items)
        text += item.kind == TextItem::Kind::Text ? item.text : L"|";
    return text;
}

TEST(EngineUrl, ParsesAndResolvesLikeABrowser)
{
    const auto base = ParseUrl("http://Example.COM:8080/a/b/c.php?x=1#frag");
    ASSERT_TRUE(base.has_value());
    EXPECT_EQ("example.com", base->host);
    EXPECT_EQ(8080, base->port);
    EXPECT_EQ("/a/b/c.php?x=1", base->pathAndQuery);
    EXPECT_EQ("http://example.com:8080/a/b/c.php?x=1", base->Spec());

    EXPECT_EQ("http://example.com:8080/a/b/d", ResolveUrl(*base, "d"));
    EXPECT_EQ("http://example.com:8080/a/x", ResolveUrl(*base, "../x"));
    EXPECT_EQ("http://example.com:8080/top?q", ResolveUrl(*base, "/top?q"));
    EXPECT_EQ("http://example.com:8080/a/b/c.php?y=2", ResolveUrl(*base, "?y=2"));
    EXPECT_EQ("http://other/", ResolveUrl(*base, "//other"));
    EXPECT_EQ("https://secure.example/p", ResolveUrl(*base, "https://secure.example/p"));
    EXPECT_EQ("http://example.com:8080/", ResolveUrl(*base, "/../../"));
    EXPECT_EQ("", ResolveUrl(*base, "javascript:alert(1)"));
}

TEST(EngineUrl, RefusesWhatItCannotFetchAndEscapesUnsafeBytes)
{
    EXPECT_FALSE(ParseUrl("").has_value());
    EXPECT_FALSE(ParseUrl("ftp://host/").has_value());
    EXPECT_FALSE(ParseUrl("http://").has_value());
    EXPECT_FALSE(ParseUrl("http://host:99999/").has_value());
    EXPECT_FALSE(ParseUrl("http://host:12ab/").has_value());
    const auto url = ParseUrl(" http://h/\xE4\xB8\xAD x ");
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ("/%E4%B8%AD%20x", url->pathAndQuery);
    EXPECT_EQ(443, ParseUrl("https://h")->port);
    EXPECT_EQ("/", ParseUrl("https://h")->pathAndQuery);
}

TEST(EngineHtml, ShowsTextWithoutTagsScriptsOrStyles)
{
    const PageText page = ExtractPageText(
        "<html><head><title>T &lt;1&gt;</title><style>p{color:red}</style></head>"
        "<body><p>Hello&nbsp;<b>big</b>   world</p><script>if (a < b) document.write('no');</script>"
        "<div>&#20013;&#x6587; &amp; &bogus; &copy</div><!-- hidden <p>x</p> -->line<br>next</body></html>",
        false);
    ASSERT_TRUE(page.title.has_value());
    EXPECT_EQ("T <1>", *page.title);
    const std::wstring text = VisibleText(page);
    EXPECT_EQ(std::wstring::npos, text.find(L"color")) << "style content is not shown";
    EXPECT_EQ(std::wstring::npos, text.find(L"document")) << "script content is not shown";
    EXPECT_EQ(std::wstring::npos, text.find(L"hidden"));
    EXPECT_NE(std::wstring::npos, text.find(L"Hello\u00A0big world"));
    EXPECT_NE(std::wstring::npos, text.find(L"\u4E2D\u6587 & &bogus; &copy"));
    EXPECT_NE(std::wstring::npos, text.find(L"&copy|line|next"));
}

TEST(EngineHtml, KeepsLinksAndReadsRefresh)
{
    const PageText page = ExtractPageText(
        "<meta http-equiv=\"REFRESH\" content=\"5;URL='/next?a=1&amp;b=2'\"><a href=\"/one\">first</a> <a name=x>plain</a> "
        "<a href='two.html'>sec<i>ond</i></a>",
        false);
    ASSERT_TRUE(page.refresh.has_value());
    EXPECT_EQ(5u, page.refresh->delaySeconds);
    EXPECT_EQ("/next?a=1&b=2", page.refresh->url);
    ASSERT_EQ(2u, page.links.size());
    EXPECT_EQ("/one", page.links[0]);
    EXPECT_EQ("two.html", page.links[1]);
    int linkedRuns = 0;
    for (const TextItem& item : page.items) {
        if (item.link >= 0)
            ++linkedRuns;
        if (item.text == L"plain") {
            EXPECT_EQ(-1, item.link);
        }
    }
    EXPECT_EQ(2, linkedRuns);

    EXPECT_FALSE(ExtractPageText("<meta http-equiv=refresh content=\"soon\">", false).refresh.has_value());
    const auto bare = ExtractPageText("<meta http-equiv=refresh content=\"0\">", false).refresh;
    ASSERT_TRUE(bare.has_value());
    EXPECT_EQ(0u, bare->delaySeconds);
    EXPECT_EQ("", bare->url);
}

TEST(EngineHtml, BrokenMarkupEndsQuietly)
{
    for (const char* html : {"<", "<a href=\"unterminated", "<script>never closed", "<!-- open", "<title>t",
                             "a < b > c", "&#xFFFFFFFF;&#0;", "<<<>>>"}) {
        SCOPED_TRACE(html);
        const PageText page = ExtractPageText(html, false);
        (void)page;
    }
    EXPECT_EQ(L"a < b > c", VisibleText(ExtractPageText("a < b > c", false)));
    EXPECT_EQ(L"\uFFFD\uFFFD", Utf8ToWide(DecodeEntities("&#xFFFFFFFF;&#0;")));
    EXPECT_EQ(L"<b>&amp;|x", VisibleText(ExtractPageText("<b>&amp;\nx", true)));
    const PageText pre = ExtractPageText("<pre>a\n  b</pre>c  d", false);
    EXPECT_EQ(L"|a|  b|c d", VisibleText(pre));
    EXPECT_TRUE(pre.items[3].preformatted);
    EXPECT_FALSE(pre.items.back().preformatted);
}

TEST(EngineCharset, FindsTheDeclaredCharset)
{
    // The Content-Type header first, then the page's meta tags; a byte order mark over both.
    const struct {
        const char* contentType;
        const char* page;
        const char* charset;
    } cases[] = {
        {"text/html; charset=GBK", "", "gbk"},
        {"text/html;charset=\"gb2312\"", "<meta charset=utf-8>", "gb2312"},
        {"text/html", "<html><head><META CHARSET='UTF-8'>", "utf-8"},
        {"", "<meta http-equiv=Content-Type content=\"text/html; charset=gbk\">", "gbk"},
        {"text/html", "<p>charset=gbk is only text here</p>", ""},
        {"", "\xEF\xBB\xBF<meta charset=gbk>", "utf-8"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.charset, DeclaredCharset(c.contentType, c.page)) << c.contentType << " " << c.page;
}

TEST(EngineCharset, ConvertsOnlyWhatIsNotUtf8)
{
    EXPECT_EQ("\xE4\xB8\xAD", PageBytesToUtf8("\xD6\xD0", "gbk"));
    EXPECT_EQ("\xE4\xB8\xAD", PageBytesToUtf8("\xD6\xD0", "gb2312"));
    EXPECT_EQ("\xE4\xB8\xAD", PageBytesToUtf8("\xD6\xD0", "gb18030"));
    EXPECT_EQ("\xC3\xA9", PageBytesToUtf8("\xE9", "iso-8859-1"));
    EXPECT_EQ("\xFF\xD6\xD0", PageBytesToUtf8("\xFF\xD6\xD0", "utf-8"));
    EXPECT_EQ("\xFF\xD6\xD0", PageBytesToUtf8("\xFF\xD6\xD0", "no-such-charset"));
    EXPECT_EQ("\xE4\xB8\xAD", PageBytesToUtf8(std::string("\xFF\xFE\x2D\x4E", 4), "utf-16le"));
}

TEST(EngineCharset, DecodesGb18030FourByteCharactersWithoutThePlatformsTables)
{
    // The ends of the four-byte ranges, a run in the middle, and U+E7C7's
    // place since the 2005 edition.
    EXPECT_EQ("\xC2\x80", PageBytesToUtf8("\x81\x30\x81\x30", "gb18030"));
    EXPECT_EQ("\xC2\xA5", PageBytesToUtf8("\x81\x30\x84\x36", "gb18030"));
    EXPECT_EQ("\xE2\x82\xAC", PageBytesToUtf8("\xA2\xE3", "gb18030")) << "two bytes: the euro sign, private use in 936";
    EXPECT_EQ("\xE2\xBA\x81\xE4\xB8\xAD", PageBytesToUtf8("\xFE\x50\xD6\xD0", "gb18030")) << "U+2E81";
    EXPECT_EQ("\xE1\xB8\xBE", PageBytesToUtf8("\x81\x35\xF4\x36", "gb18030")) << "U+1E3E";
    EXPECT_EQ("\xEE\x9F\x87", PageBytesToUtf8("\x81\x35\xF4\x37", "gb18030")) << "U+E7C7";
    EXPECT_EQ("\xE1\xB9\x80", PageBytesToUtf8("\x81\x35\xF4\x38", "gb18030")) << "U+1E40";
    EXPECT_EQ("\xEF\xBF\xBF", PageBytesToUtf8("\x84\x31\xA4\x39", "gb18030")) << "U+FFFF";
    EXPECT_EQ("\xF0\x90\x80\x80", PageBytesToUtf8("\x90\x30\x81\x30", "gb18030")) << "U+10000";
    EXPECT_EQ("\xF0\xA0\x80\x80", PageBytesToUtf8("\x95\x32\x82\x36", "gb18030")) << "U+20000";
    EXPECT_EQ("\xF4\x8F\xBF\xBF", PageBytesToUtf8("\xE3\x32\x9A\x35", "gb18030")) << "U+10FFFF";
    EXPECT_EQ("a\xE4\xB8\xAD\xC2\xA5z", PageBytesToUtf8("a\xD6\xD0\x81\x30\x84\x36z", "gb18030"));
    // Codes between the ranges and past U+10FFFF map to nothing; the text after them stays.
    EXPECT_EQ("\xEF\xBF\xBD"
              "1\xEF\xBF\xBD"
              "0",
              PageBytesToUtf8("\x84\x31\xA5\x30", "gb18030"));
    EXPECT_EQ("\xEF\xBF\xBD"
              "2\xEF\xBF\xBD"
              "6<",
              PageBytesToUtf8("\xE3\x32\x9A\x36<", "gb18030").substr(0, 10));
}

TEST(EngineCharset, ReadsUndeclaredPagesLikeABrowserOnAChineseSystem)
{
    // UTF-8 stays byte for byte, a stray bad byte among good sequences too.
    EXPECT_EQ("<p>\xE4\xB8\xAD\xE6\x96\x87</p>", PageBytesToUtf8("<p>\xE4\xB8\xAD\xE6\x96\x87</p>", ""));
    EXPECT_EQ("\xE4\xB8\xAD\xE6\x96\x87\xFF\xE7\xAD\x94",
              PageBytesToUtf8("\xE4\xB8\xAD\xE6\x96\x87\xFF\xE7\xAD\x94", ""));
    EXPECT_EQ("plain ascii", PageBytesToUtf8("plain ascii", ""));
    // Anything that reads as GBK is GBK (read as GB18030, its superset).
    EXPECT_EQ("<title>\xE4\xB8\xAD\xE6\x96\x87</title>", PageBytesToUtf8("<title>\xD6\xD0\xCE\xC4</title>", ""));
    EXPECT_EQ("\xE4\xB8\xAD\xC2\xA5", PageBytesToUtf8("\xD6\xD0\x81\x30\x84\x36", ""));
    // Neither: a Western page.
    EXPECT_EQ("na\xC3\xAFve caf\xC3\xA9. \xC2\xA9 2009", PageBytesToUtf8("na\xEFve caf\xE9. \xA9 2009", ""));
}

TEST(EngineHtml, ReadsTagsAndScriptsPastTheShownTextsEnd)
{
    std::string html = "<html><body><p>";
    while (html.size() < 400 * 1024)
        html += "a line of plain visible text, ";
    html +=
        "</p>\n<script>late()</script><meta http-equiv=refresh content=\"3;url=/next\"><p>never shown</p></body></html>";
    const PageText page = ExtractPageText(html, false);
    ASSERT_EQ(1u, page.scripts.size());
    EXPECT_EQ("late()", page.scripts[0].code);
    EXPECT_EQ(html.find("late()") + 6 + 9, page.scripts[0].end);
    ASSERT_TRUE(page.refresh.has_value());
    EXPECT_EQ("/next", page.refresh->url);
    size_t shown = 0;
    for (const TextItem& item : page.items)
        shown += item.text.size();
    EXPECT_LE(shown, 256u * 1024) << "the shown text is still cut";
    EXPECT_EQ(std::wstring::npos, VisibleText(page).find(L"never shown"));
}

TEST(EngineHtml, FindsElementsByIdAsScriptsReadThem)
{
    const std::string html =
        "<html><head><title>t</title><script>var s = '<div id=\"q\">in a script</div>';</script></head>\n"
        "<body class=main><!-- <div id=\"q\">commented</div> -->\n"
        "<div id=\"q\" class=\"box\">Q <div>inner <b>bold</b></div><br>next &amp; more</div>tail\n"
        "<input id=k type=hidden value=\"key&amp;1\"><textarea id=t>a &lt; <b>b</b></textarea>"
        "<select><option id=o1>first</option><option id=o2 value=2>second</option></select>"
        "<p id=open>never closed";
    const auto q = FindElementById(html, "q");
    ASSERT_TRUE(q.has_value());
    EXPECT_EQ("div", q->tag.name);
    EXPECT_EQ("box", q->tag.Attribute("class"));
    EXPECT_EQ("Q <div>inner <b>bold</b></div><br>next &amp; more", q->innerHtml) << "nested elements of the same name";
    EXPECT_EQ(L"Q\ninner bold\n\nnext & more", ElementText(*q));
    EXPECT_FALSE(ElementValue(*q).has_value());

    const auto k = FindElementById(html, "k");
    ASSERT_TRUE(k.has_value());
    EXPECT_EQ("", k->innerHtml);
    EXPECT_EQ(L"key&1", ElementValue(*k).value_or(L"<none>"));
    const auto t = FindElementById(html, "t");
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(L"a < <b>b</b>", ElementValue(*t).value_or(L"<none>")) << "a textarea holds text, not markup";
    EXPECT_EQ(L"first", ElementValue(*FindElementById(html, "o1")).value_or(L"<none>"));
    EXPECT_EQ(L"2", ElementValue(*FindElementById(html, "o2")).value_or(L"<none>"));
    EXPECT_EQ("never closed", FindElementById(html, "open")->innerHtml);
    EXPECT_FALSE(FindElementById(html, "Q").has_value()) << "ids are compared exactly";
    EXPECT_FALSE(FindElementById(html, "").has_value());

    const HtmlElement body = FindBodyElement(html);
    EXPECT_EQ("main", body.tag.Attribute("class"));
    EXPECT_EQ(0u, body.innerHtml.find("<!--"));
    EXPECT_EQ("<b>no body tag</b>", FindBodyElement("<b>no body tag</b>").innerHtml);
    for (const char* broken : {"<", "<div id=", "<div id=x", "<div id=x><div>", "<textarea id=x>", "<!-- <div id=x>"}) {
        SCOPED_TRACE(broken);
        (void)FindElementById(broken, "x");
        (void)FindBodyElement(broken);
    }
}

TEST(EngineHtml, FindsTheInlineScriptsToRunWithTheirLines)
{
    const std::string html = "<html>\n<script>a()</script>\n"
                             "<!-- <script>commented()</script> -->\n"
                             "<script src=\"x.js\">external()</script><script type=\"text/template\">t()</script>\n"
                             "<SCRIPT type='text/javascript'>\nb()\n</SCRIPT><script language=vbscript>v</script>\n"
                             "<textarea><script>typed()</script></textarea><script>c('</p>')";
    const PageText page = ExtractPageText(html, false);
    ASSERT_EQ(3u, page.scripts.size());
    EXPECT_EQ("a()", page.scripts[0].code);
    EXPECT_EQ(2u, page.scripts[0].line);
    EXPECT_EQ("</script>", html.substr(page.scripts[0].end - 9, 9)) << "end is just after the end tag";
    EXPECT_EQ("\nb()\n", page.scripts[1].code);
    EXPECT_EQ(5u, page.scripts[1].line);
    EXPECT_EQ("c('</p>')", page.scripts[2].code) << "an unclosed script runs to the end";
    EXPECT_EQ(html.size(), page.scripts[2].end);
    EXPECT_TRUE(ExtractPageText("<script>x()</script>", true).scripts.empty()) << "plain text has no scripts";
}

class EngineCookieJar : public ::testing::Test {
protected:
    static Url At(const char* text) { return *ParseUrl(text); }
    const ScratchDirectory scratch;
    const std::wstring path = scratch / L"cookies.dat";
};

TEST_F(EngineCookieJar, FollowsDomainPathSecureAndExpiryRules)
{
    CookieJar jar(L"");
    jar.StoreFromResponse(At("http://www.example.com/dir/page"),
                          {"host=1", "wide=2; Domain=.example.com; Path=/", "deep=3; Path=/dir/sub", "safe=4; Secure",
                           "evil=5; Domain=other.com", "tld=6; Domain=com",
                           "old=7; Expires=Wed, 01 Jan 2020 00:00:00 GMT",
                           "future=8; Expires=Fri, 01 Jan 2100 00:00:00 GMT", "bad\r\nline=9"});
    EXPECT_EQ("host=1; future=8; wide=2", jar.CookieHeaderFor(At("http://www.example.com/dir/x")));
    EXPECT_EQ("wide=2", jar.CookieHeaderFor(At("http://api.example.com/")));
    EXPECT_EQ("wide=2", jar.CookieHeaderFor(At("http://www.example.com/")));
    EXPECT_EQ("deep=3; host=1; safe=4; future=8; wide=2", jar.CookieHeaderFor(At("https://www.example.com/dir/sub/y")));
    EXPECT_EQ("", jar.CookieHeaderFor(At("http://other.com/")));
    EXPECT_EQ("", jar.CookieHeaderFor(At("http://notexample.com/dir/")));

    jar.StoreFromResponse(At("http://10.0.0.1/"), {"ip=1; Domain=0.0.1", "same=2; Domain=10.0.0.1"});
    EXPECT_EQ("same=2", jar.CookieHeaderFor(At("http://10.0.0.1/")));
    EXPECT_EQ("", jar.CookieHeaderFor(At("http://0.0.1/")));

    jar.StoreFromResponse(At("http://www.example.com/dir/page"),
                          {"host=changed", "wide=; Domain=example.com; Path=/; Max-Age=0"});
    EXPECT_EQ("host=changed; future=8", jar.CookieHeaderFor(At("http://www.example.com/dir/x")));
}

TEST_F(EngineCookieJar, ScriptsNeitherSeeNorTouchHttpOnlyCookies)
{
    CookieJar jar(L"");
    const Url page = At("http://127.0.0.1/app/page");
    jar.StoreFromResponse(page, {"open=1; Path=/", "sid=secret; Path=/; HttpOnly"});
    EXPECT_EQ("open=1", jar.ScriptCookies(page));
    jar.StoreFromScript(page, "js=2; path=/");
    jar.StoreFromScript(page, "sid=stolen; path=/");
    jar.StoreFromScript(page, "made=3; path=/; HttpOnly");
    jar.StoreFromScript(page, "bad\nline=4");
    EXPECT_EQ("open=1; sid=secret; js=2", jar.CookieHeaderFor(page));
    EXPECT_EQ("open=1; js=2", jar.ScriptCookies(page));
}

TEST_F(EngineCookieJar, JarFileKeepsCookiesForTheNextStart)
{
    {
        CookieJar jar(path);
        jar.StoreFromResponse(At("http://127.0.0.1:8080/a/b"),
                              {"sid=xyz; Path=/", "keep=\xE4\xB8\xAD; Max-Age=600", "gone=1; Max-Age=60; Path=/"});
        jar.StoreFromResponse(At("http://127.0.0.1:8080/"), {"gone=1; Max-Age=0; Path=/"});
    }
    CookieJar reopened(path);
    EXPECT_EQ("keep=\xE4\xB8\xAD; sid=xyz", reopened.CookieHeaderFor(At("http://127.0.0.1:8080/a/c")));
    EXPECT_EQ("sid=xyz", reopened.CookieHeaderFor(At("http://127.0.0.1:9999/")));

    // A damaged jar file gives an empty jar, not a crash.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, "garbage\t\t\n\t\t\t\t\t\t\t\n\xFF\xFE", 20, &written, nullptr);
    CloseHandle(file);
    CookieJar damaged(path);
    EXPECT_EQ("", damaged.CookieHeaderFor(At("http://127.0.0.1:8080/")));
}

} // namespace

#include "lookup/AnswerRetrieval.h"

#include "ServiceBaseUrl.h"
#include "form/ControlIds.h"
#include "form/ControlProperties.h"
#include "http/HttpFetch.h"
#include "json/JsonDocument.h"
#include "text/Utf8Conversion.h"
#include "text/TextOps.h"
#include "text/UrlEncode.h"
#include "webview/WebViewControl.h"

namespace {

// Code page 936 texts of the answer path.
constexpr char BodyOpenTag[] = "<body>";
constexpr char BodyCloseTag[] = "</body>";
constexpr char QuestionPlaceholder[] = "\xCC\xE2\xC4\xBF";            // 题目
constexpr char KeyPlaceholder[] = "\xC3\xDC\xD4\xBF";                 // 密钥
constexpr char TitlePrefix[] = "\xCC\xE2\xC4\xBF:";                   // 题目:
constexpr char AnswerSeparator[] = "\r\n======\r\n\xB4\xF0\xB0\xB8:"; // \r\n======\r\n答案:

// A reply whose answer or title holds one of these is a service notice or an
// advertisement, not an answer; the first match in this order decides.
constexpr const char* AnswerFilterKeywords[] = {
    "\xB2\xE9\xCE\xDE\xB4\xCB",         // 查无此
    "\xBB\xB9\xCE\xB4\xCA\xD5\xC2\xBC", // 还未收录
    "\xCE\xAC\xBB\xA4",                 // 维护
    "\xCA\xDA\xC8\xA8",                 // 授权
    "\xC8\xBA",                         // 群
    "\xCE\xA2\xD0\xC5",                 // 微信
    "\xCA\xD5\xB7\xD1",                 // 收费
    "\xC3\xD8\xD4\xBF",                 // 秘钥
};

AnsiText FetchText(const AnsiText& url)
{
    return Utf8ToAnsi(HttpFetch(url));
}

bool IsRejected(const AnsiText& answer, const AnsiText& answerTitle)
{
    // One probe, so a keyword that spans the end of the answer and the start
    // of the title counts as well.
    const AnsiText probe = answer + answerTitle;
    for (const char* keyword : AnswerFilterKeywords) {
        if (FindText(probe, keyword) != -1)
            return true;
    }
    return false;
}

} // namespace

void OnLookupPageLoaded(const AnsiText&, int32_t, const AnsiText&)
{
    const AnsiText source = WebViewGetPageSource(MainWindowId, WebViewId, WebViewKindCode);
    const AnsiText key = TextBetween(source, BodyOpenTag, BodyCloseTag);
    const AnsiText result = LookupAnswer(key);
    SetControlProperty(MainWindowId, ResultBoxId, TextProperty, result);
}

AnsiText LookupAnswer(const AnsiText& key)
{
    JsonDocument config;
    JsonDocument reply;

    config.Parse(FetchText(AnsiText(ServiceBaseUrl) + "/new_get_api.php"));
    // The notice line changes before the answer request, whatever that brings.
    SetControlProperty(MainWindowId, NoticeLabelId, TextProperty, config.GetText("title"));
    const AnsiText answerTemplate = config.GetText("api");
    const AnsiText notice = config.GetText("log");

    // Read now, when the page has loaded, not at the moment of the click.
    const AnsiText question = GetControlProperty(MainWindowId, QuestionBoxId, TextProperty);
    AnsiText url = ReplaceText(answerTemplate, QuestionPlaceholder, UrlEncode(question));
    url = ReplaceText(url, KeyPlaceholder, key);

    reply.Parse(FetchText(url));
    const AnsiText answer = reply.GetText("answer");
    const AnsiText answerTitle = reply.GetText("title");

    // Every lookup is reported with the answer as the service gave it.
    ReportLookup(question, answer);

    if (IsRejected(answer, answerTitle))
        return notice;
    return TitlePrefix + answerTitle + AnswerSeparator + answer;
}

void ReportLookup(const AnsiText& question, const AnsiText& answer)
{
    const AnsiText url = AnsiText(ServiceBaseUrl) + "/upmy/up.php?t=" + UrlEncode(question) + "&d=" + UrlEncode(answer);
    FetchText(url);
}

#include "lookup/QuestionSubmission.h"

#include "ServiceBaseUrl.h"
#include "form/ControlIds.h"
#include "form/ControlProperties.h"
#include "text/TextOps.h"
#include "text/UrlEncode.h"
#include "text/TimedMessage.h"
#include "webview/WebViewControl.h"

namespace {

constexpr char EmptyQuestionWarning[] = "\xC7\xEB\xCA\xE4\xC8\xEB\xCC\xE2\xC4\xBF\xA3\xA1"; // 请输入题目！

} // namespace

void OnQueryButtonClick()
{
    if (CompareText(GetControlProperty(MainWindowId, QuestionBoxId, TextProperty), "") == 0) {
        ShowTimedMessage(EmptyQuestionWarning);
        return;
    }
    NavigateToLookupPage(GetControlProperty(MainWindowId, QuestionBoxId, TextProperty));
}

void NavigateToLookupPage(const AnsiText& question)
{
    const AnsiText url = AnsiText(ServiceBaseUrl) + "/get_cha_url.php?t=" + UrlEncode(question);
    WebViewNavigate(MainWindowId, WebViewId, WebViewKindCode, url);
}

#include "app/MainWindow.h"

#include <iterator>

#include "form/ControlIds.h"
#include "form/EventTable.h"
#include "lookup/AnswerRetrieval.h"
#include "lookup/QuestionSubmission.h"
#include "webview/WebViewControl.h"

// The texts are code page 936 bytes, written as escapes so that the source
// stays plain ASCII whatever the editor's encoding; the comment beside each
// shows the characters.

namespace {

constexpr int32_t ButtonClicked = 0;
constexpr int32_t WebViewLoadingFinished = 5;
constexpr int32_t WindowLoaded = 0;

const ControlLayout MainWindowControls[] = {
    // 浏览器: lies right of the client area, so the user never sees the page.
    {WebViewId, ControlKind::WebView, 576, 88, 272, 224, "", true},
    // 透明标签2: "免费软件、严禁盗卖！！", red and centred.
    {NoticeLabelId, ControlKind::TransparentLabel, 16, 416, 312, 32,
     "\xC3\xE2\xB7\xD1\xC8\xED\xBC\xFE\xA1\xA2\xD1\xCF\xBD\xFB\xB5\xC1\xC2\xF4\xA3\xA1\xA3\xA1", false, 0x0000FF,
     DT_CENTER},
    // 透明标签1: "请输入题目：", black, left.
    {PromptLabelId, ControlKind::TransparentLabel, 17, 15, 160, 16, "\xC7\xEB\xCA\xE4\xC8\xEB\xCC\xE2\xC4\xBF\xA3\xBA",
     false, 0x000000, DT_LEFT},
    // 编辑框2: the result box.
    {ResultBoxId, ControlKind::EditBox, 16, 256, 312, 152, "", true},
    // 按钮1: "查询答案".
    {QueryButtonId, ControlKind::PushButton, 48, 203, 248, 40, "\xB2\xE9\xD1\xAF\xB4\xF0\xB0\xB8", true},
    // 编辑框1: the question box.
    {QuestionBoxId, ControlKind::EditBox, 16, 38, 312, 152, "", true},
};

void BindMainWindowEvents()
{
    BindEvent(MainWindowId, QueryButtonId, ButtonClicked, [](const EventRecord&) -> std::optional<int32_t> {
        OnQueryButtonClick();
        return std::nullopt;
    });
    BindEvent(MainWindowId, WebViewId, WebViewLoadingFinished, [](const EventRecord& record) -> std::optional<int32_t> {
        OnLookupPageLoaded(EventArgText(record, 0), EventArgInt(record, 1), EventArgText(record, 2));
        return std::nullopt;
    });
    BindEvent(MainWindowId, MainWindowUnitId, WindowLoaded,
              [](const EventRecord&) -> std::optional<int32_t> { return std::nullopt; });
}

} // namespace

const FormLayout MainWindow = {
    MainWindowId,
    MainWindowUnitId,
    "\xC3\xE2\xB7\xD1"
    "Kelvora2.0 ", // "免费Kelvora2.0 ", the trailing blank included
    353,
    480,
    MainWindowControls,
    BindMainWindowEvents,
    CreateFormWebView,
};

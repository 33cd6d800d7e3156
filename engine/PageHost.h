#pragma once
#include <optional>
#include <string>

#include "wke.h"

// What a page's scripts may ask of their view. Called on the view's thread,
// while the view waits for the script; texts are UTF-16.
class PageHost {
public:
    virtual void ScriptAlert(const std::wstring& message) = 0;
    virtual bool ScriptConfirm(const std::wstring& message) = 0;
    // None when the user cancelled.
    virtual std::optional<std::wstring> ScriptPrompt(const std::wstring& message, const std::wstring& defaultText) = 0;
    virtual void ScriptConsole(wkeConsoleLevel level, const std::wstring& message, unsigned line) = 0;
    virtual std::wstring ScriptTitle() = 0;
    virtual void ScriptSetTitle(const std::wstring& title) = 0;
    virtual std::wstring ScriptCookie() = 0;
    virtual void ScriptSetCookie(const std::wstring& cookie) = 0;
    virtual std::wstring ScriptLocation() = 0;
    // After the script has run, through the normal load path.
    virtual void ScriptNavigate(const std::wstring& url, wkeNavigationType type) = 0;
    // True when the host made a window for it.
    virtual bool ScriptOpenWindow(const std::wstring& url, const std::wstring& features) = 0;
    virtual std::wstring ScriptUserAgent() = 0;
    virtual void ScriptStartTimer(unsigned id, unsigned delayMs) = 0;
    virtual void ScriptStopTimer(unsigned id) = 0;

protected:
    ~PageHost() = default;
};

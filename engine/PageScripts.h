#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HtmlText.h"
#include "PageHost.h"

class ScriptThread;
struct ScriptContext;

// The scripts of one document: a JScript engine on a thread of its own, with
// the page's host objects (window, document, console, location) as globals.
// Used on the view's thread; every call blocks until the script is done or
// stopped (after ScriptBudgetMs of its own time).
class PageScripts {
public:
    static constexpr unsigned ScriptBudgetMs = 5000;

    // Null when no script engine could be made. The document's scripts read
    // their elements from source (UTF-8).
    static std::shared_ptr<PageScripts> Start(PageHost& host, std::string source);
    ~PageScripts();
    PageScripts(const PageScripts&) = delete;
    PageScripts& operator=(const PageScripts&) = delete;

    // Runs the page's inline blocks in document order while the page loads,
    // then its load handlers (bodyOnload: the code of <body onload>); gives
    // the text each block wrote with document.write.
    std::vector<std::string> RunBlocks(const std::vector<ScriptBlock>& blocks, const std::string& bodyOnload);
    void FireTimer(unsigned id);
    // The code of a javascript: link.
    void RunCode(const std::wstring& code);
    bool Busy() const;

private:
    PageScripts() = default;
    bool RunJob(const std::function<void()>& job);

    std::unique_ptr<ScriptThread> thread_;
    std::unique_ptr<ScriptContext> context_;
    PageHost* host_ = nullptr;
};

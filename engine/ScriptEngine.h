#pragma once
#include <windows.h>
#include <activscp.h>
#include <dispex.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "owners/ComOwners.h"

class ScriptSite;

// A JScript engine hosted through the Active Scripting interfaces, in the
// safe mode for untrusted pages: the site answers every ActiveX request of the
// engine with "disallow", so ActiveXObject and GetObject make nothing, and it
// offers no window, so the engine shows no UI of its own. Lives on one thread
// (the script thread) from creation to destruction.
class ScriptEngine {
public:
    // message, 1-based line in the page
    using ErrorSink = std::function<void(const std::wstring& message, unsigned line)>;

    // Null when JScript is not available.
    static std::unique_ptr<ScriptEngine> Create(ErrorSink onError);
    ~ScriptEngine();
    ScriptEngine(const ScriptEngine&) = delete;
    ScriptEngine& operator=(const ScriptEngine&) = delete;

    // Makes object's members globals, and the object itself one under name.
    bool AddGlobalObject(const wchar_t* name, IDispatch* object);
    // Runs code whose first line is line firstLine of the page. Errors go to
    // the sink; false when there was one. A page's <script> block (inBlock)
    // may wrap its code in an HTML comment, as older pages do.
    bool Run(std::wstring_view code, unsigned firstLine, bool inBlock = false);
    // The script's global object: its global variables and functions.
    ComPtr<IDispatchEx> GlobalObject();
    // A global variable's value when it is an object (a function), else null.
    ComPtr<IDispatch> GlobalFunction(const wchar_t* name);
    // Calls a function value of the page's (a timer's); errors go to the sink.
    bool Call(IDispatch* function);

private:
    ScriptEngine() = default;

    ComPtr<IActiveScript> script_;
    ComPtr<IActiveScriptParse> parse_;
    ComPtr<ScriptSite> site_;
};

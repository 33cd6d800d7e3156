#include "http/HttpSession.h"

#include <mutex>

#include "owners/UniqueHandle.h"

namespace {

constexpr char UserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

struct HttpSession {
    InternetHandle handle;
    int openCount = 0;
    std::mutex mutex;
};

// Built before the program's own start-up code; its destructor closes the
// handle at process exit.
HttpSession session;

} // namespace

HINTERNET HttpSessionHandleTemp()
{
    std::lock_guard lock(session.mutex);
    if (!session.handle) {
        session.handle = InternetHandle(InternetOpenA(UserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (session.handle)
            ++session.openCount;
    }
    return session.handle.Get();
}

int HttpSessionOpenCount()
{
    std::lock_guard lock(session.mutex);
    return session.openCount;
}

#pragma once
// One line per request on standard error, written by a thread of its own so
// that a slow log reader never holds up the network threads. When lines come
// faster than they are written, the excess is counted and dropped.
#include <boost/noncopyable.hpp>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace kelvora {

enum class AccessLogMode {
    Off,     // nothing (the default)
    Refused, // requests answered 4xx or 5xx and connections refused or timed out
    All,     // every request
};

// "off", "refused" or "all"; false for anything else.
bool ParseAccessLogMode(const std::string& text, AccessLogMode& mode);

class AccessLog : boost::noncopyable {
public:
    explicit AccessLog(AccessLogMode mode);
    ~AccessLog();

    bool Wants(int status) const
    {
        return mode_ == AccessLogMode::All || (mode_ == AccessLogMode::Refused && (status >= 400 || status == 0));
    }
    // Queues a line (a line break is added).
    void Write(std::string line);

private:
    void WriteLoop();

    AccessLogMode mode_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> lines_;
    size_t dropped_ = 0;
    bool stopping_ = false;
    std::thread writer_;
};

} // namespace kelvora

#include "AccessLog.h"

#include <cstdio>

namespace kelvora {

namespace {
constexpr size_t MaxWaitingLines = 10000;
}

bool ParseAccessLogMode(const std::string& text, AccessLogMode& mode)
{
    if (text == "off")
        mode = AccessLogMode::Off;
    else if (text == "refused")
        mode = AccessLogMode::Refused;
    else if (text == "all")
        mode = AccessLogMode::All;
    else
        return false;
    return true;
}

AccessLog::AccessLog(AccessLogMode mode) : mode_(mode)
{
    if (mode_ != AccessLogMode::Off)
        writer_ = std::thread([this] { WriteLoop(); });
}

AccessLog::~AccessLog()
{
    if (!writer_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
}

void AccessLog::Write(std::string line)
{
    if (mode_ == AccessLogMode::Off)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (lines_.size() >= MaxWaitingLines) {
            ++dropped_;
            return;
        }
        line += '\n';
        lines_.push_back(std::move(line));
    }
    wake_.notify_one();
}

void AccessLog::WriteLoop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !lines_.empty() || dropped_ > 0; });
        std::deque<std::string> batch;
        batch.swap(lines_);
        size_t dropped = dropped_;
        dropped_ = 0;
        bool last = stopping_;
        lock.unlock();
        for (const std::string& line : batch)
            std::fwrite(line.data(), 1, line.size(), stderr);
        if (dropped > 0)
            std::fprintf(stderr, "access log: %zu lines dropped\n", dropped);
        std::fflush(stderr);
        lock.lock();
        if (last && lines_.empty())
            return;
    }
}

} // namespace kelvora

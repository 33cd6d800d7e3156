#include "ImportProgressBar.h"

#include <cstdio>

#include "TextPieces.h"

namespace kelvora {

namespace {

constexpr int BarWidth = 30;

} // namespace

void ImportProgressBar::Start(const std::string& name)
{
    name_ = name;
    passStarted_ = drawn_ = std::chrono::steady_clock::now();
    storing_ = false;
}

std::string ImportProgressBar::Line(const std::string& name, const ImportProgress& progress, double rowsPerSecond)
{
    std::string line = name + ": ";
    char rate[48];
    std::snprintf(rate, sizeof rate, "%s rows/s", GroupedDigits(static_cast<int64_t>(rowsPerSecond + 0.5)).c_str());
    if (!progress.storing)
        return line + "checking " + GroupedDigits(progress.rows) + " rows, " + rate;
    int64_t total = progress.total > 0 ? progress.total : 1;
    int64_t rows = progress.rows < total ? progress.rows : total;
    int filled = static_cast<int>(rows * BarWidth / total);
    line += "storing [" + std::string(filled, '#') + std::string(BarWidth - filled, '.') + "] ";
    line += std::to_string(rows * 100 / total) + "% " + GroupedDigits(rows) + "/" + GroupedDigits(progress.total) +
            " rows, " + rate;
    return line;
}

void ImportProgressBar::Update(const ImportProgress& progress)
{
    auto now = std::chrono::steady_clock::now();
    if (progress.storing != storing_) {
        storing_ = progress.storing;
        passStarted_ = now;
    } else if (now - drawn_ < std::chrono::milliseconds(100) && progress.rows != progress.total) {
        return;
    }
    drawn_ = now;
    double seconds = std::chrono::duration<double>(now - passStarted_).count();
    double rate = seconds > 0.05 ? progress.rows / seconds : 0.0;
    out_ << "\r" << Line(name_, progress, rate) << "\x1B[K" << std::flush;
    shown_ = true;
}

void ImportProgressBar::Clear()
{
    if (!shown_)
        return;
    out_ << "\r\x1B[K" << std::flush;
    shown_ = false;
}

} // namespace kelvora

#pragma once
// The command line's import progress on a terminal: one line redrawn in
// place, a bar once the number of rows is known, and rows per second.
#include <boost/noncopyable.hpp>
#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

#include "BankImport.h"

namespace kelvora {

class ImportProgressBar : boost::noncopyable {
public:
    explicit ImportProgressBar(std::ostream& out) : out_(out) {}
    ~ImportProgressBar() { Clear(); }

    void Start(const std::string& name);
    // Redraws at most ten times a second, and at the end of each pass.
    void Update(const ImportProgress& progress);
    // Takes the line away, before a warning or a summary is printed.
    void Clear();

    // The line for a state of the import, without terminal controls.
    static std::string Line(const std::string& name, const ImportProgress& progress, double rowsPerSecond);

private:
    std::ostream& out_;
    std::string name_;
    std::chrono::steady_clock::time_point passStarted_;
    std::chrono::steady_clock::time_point drawn_;
    bool storing_ = false;
    bool shown_ = false;
};

} // namespace kelvora

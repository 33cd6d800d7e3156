#pragma once
// A server's own copy of the bank, for matching without a round trip to a
// shared database: the entries, their normal forms and a trigram index built
// the way SQLite's FTS5 trigram tokenizer builds it, so that matching on the
// copy gives what matching on a SQLite file gives. BankMirror keeps the copy
// current: it reads the bank again whenever its version number has changed.
#include <atomic>
#include <boost/noncopyable.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "BankSource.h"
#include "Database.h"

namespace kelvora {

// Not copied: the lookup by normal form points into the rows, and a copy's would point into another's.
class BankCopy : public BankSource, boost::noncopyable {
public:
    // Reads every question; false with the reason when the read fails.
    bool Load(Connection& db, std::string& error);
    size_t Size() const { return rows_.size(); }

    bool ExactEntry(const std::string& norm, BankEntry& entry) override;
    bool EntryById(int64_t id, BankEntry& entry) override;
    bool NormById(int64_t id, std::string& norm) override;
    std::string OptionsById(int64_t id) override;
    int64_t TrigramDocs(const std::string& gram) override;
    void ReadPostings(const std::string& gram, std::vector<int64_t>& ids) override;
    void ShortQuestions(int64_t low, int64_t high, const std::function<bool(int64_t, std::string_view)>& take) override;
    void Between(const std::string& from, const std::string& to, size_t most,
                 const std::function<void(int64_t, std::string_view)>& take) override;

private:
    struct Row {
        int64_t id;
        std::string norm;
        BankEntry entry;
    };
    const Row* Find(int64_t id) const;

    std::vector<Row> rows_;                                          // by id
    std::unordered_map<std::string_view, size_t> byNorm_;            // into rows_
    std::unordered_map<std::string, std::vector<int64_t>> postings_; // ids ascending
    std::vector<size_t> sorted_;                                     // rows_ by norm, byte order
    std::vector<std::pair<int64_t, size_t>> short_;                  // (length, row) of questions of at most 6
};

class BankMirror : boost::noncopyable {
public:
    // location: the database; checkEvery: how often the version is looked at.
    BankMirror(std::string location, std::chrono::milliseconds checkEvery);
    ~BankMirror();

    // The first copy, then a thread that keeps it current.
    bool Start(std::string& error);
    std::shared_ptr<BankCopy> Current() const;
    // Reads the bank again when its version has changed; true when the copy
    // is current afterwards. With settle, a change is read once the version
    // has stayed the same for one check (an import raises it with every
    // batch, and each read costs about 1.7 s for 100,000 questions), or once
    // it has waited MostPending.
    bool Refresh(bool settle = false);
    static constexpr std::chrono::seconds MostPending{10};
    // A change made by this process (the console's): the copy is read again
    // at once instead of at the next settled check.
    void Wake();

private:
    void Loop();

    std::string location_;
    std::chrono::milliseconds checkEvery_;
    Connection db_;
    int64_t version_ = -1;
    int64_t seen_ = -1; // the version at the last check
    std::chrono::steady_clock::time_point pendingSince_{};
    mutable std::mutex mutex_;
    std::shared_ptr<BankCopy> current_;
    std::mutex refreshing_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool woken_ = false;
    std::thread thread_;
};

} // namespace kelvora

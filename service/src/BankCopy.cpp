#include "BankCopy.h"

#include <algorithm>

#include "FailureLog.h"
#include "IndexState.h"
#include "Utf8Text.h"

namespace kelvora {

bool BankCopy::Load(Connection& db, std::string& error)
{
    Statement& all = db.Cached("SELECT id, norm, question, answer, kind, options FROM questions ORDER BY id");
    while (all.Step()) {
        rows_.push_back({all.Int(0), all.Text(1), {all.Text(2), all.Text(3), all.Text(4), all.Text(5)}});
    }
    bool done = all.Done();
    all.Reset();
    if (!done) {
        error = db.Error();
        return false;
    }
    byNorm_.reserve(rows_.size());
    sorted_.reserve(rows_.size());
    std::vector<std::string> grams;
    for (size_t i = 0; i < rows_.size(); ++i) {
        const Row& row = rows_[i];
        byNorm_.emplace(row.norm, i);
        sorted_.push_back(i);
        std::optional<std::u32string> norm = DecodeUtf8(row.norm);
        if (!norm)
            continue;
        if (static_cast<int64_t>(norm->size()) <= ShortQuestionLength) {
            short_.emplace_back(static_cast<int64_t>(norm->size()), i);
        }
        grams.clear();
        for (size_t k = 0; k + 3 <= norm->size(); ++k)
            grams.push_back(EncodeUtf8(std::u32string_view(*norm).substr(k, 3)));
        std::sort(grams.begin(), grams.end());
        grams.erase(std::unique(grams.begin(), grams.end()), grams.end());
        // Rows come by id, so every posting list stays in ascending order.
        for (std::string& gram : grams)
            postings_[std::move(gram)].push_back(row.id);
    }
    std::sort(sorted_.begin(), sorted_.end(), [this](size_t a, size_t b) { return rows_[a].norm < rows_[b].norm; });
    std::sort(short_.begin(), short_.end(), [this](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : rows_[a.second].id < rows_[b.second].id;
    });
    return true;
}

const BankCopy::Row* BankCopy::Find(int64_t id) const
{
    auto found =
        std::lower_bound(rows_.begin(), rows_.end(), id, [](const Row& row, int64_t key) { return row.id < key; });
    return found != rows_.end() && found->id == id ? &*found : nullptr;
}

bool BankCopy::ExactEntry(const std::string& norm, BankEntry& entry)
{
    auto found = byNorm_.find(norm);
    if (found == byNorm_.end())
        return false;
    entry = rows_[found->second].entry;
    return true;
}

bool BankCopy::EntryById(int64_t id, BankEntry& entry)
{
    const Row* row = Find(id);
    if (row)
        entry = row->entry;
    return row != nullptr;
}

bool BankCopy::NormById(int64_t id, std::string& norm)
{
    const Row* row = Find(id);
    if (row)
        norm = row->norm;
    return row != nullptr;
}

std::string BankCopy::OptionsById(int64_t id)
{
    const Row* row = Find(id);
    return row ? row->entry.options : std::string();
}

int64_t BankCopy::TrigramDocs(const std::string& gram)
{
    auto found = postings_.find(gram);
    return found == postings_.end() ? 0 : static_cast<int64_t>(found->second.size());
}

void BankCopy::ReadPostings(const std::string& gram, std::vector<int64_t>& ids)
{
    auto found = postings_.find(gram);
    if (found != postings_.end())
        ids.insert(ids.end(), found->second.begin(), found->second.end());
}

void BankCopy::ShortQuestions(int64_t low, int64_t high, const std::function<bool(int64_t, std::string_view)>& take)
{
    auto at = std::lower_bound(short_.begin(), short_.end(), low,
                               [](const auto& item, int64_t key) { return item.first < key; });
    for (; at != short_.end() && at->first <= high; ++at) {
        const Row& row = rows_[at->second];
        if (!take(row.id, row.norm))
            break;
    }
}

void BankCopy::Between(const std::string& from, const std::string& to, size_t most,
                       const std::function<void(int64_t, std::string_view)>& take)
{
    auto at = std::upper_bound(sorted_.begin(), sorted_.end(), from,
                               [this](const std::string& key, size_t row) { return key < rows_[row].norm; });
    for (size_t taken = 0; at != sorted_.end() && taken < most && rows_[*at].norm < to; ++at, ++taken) {
        take(rows_[*at].id, rows_[*at].norm);
    }
}

BankMirror::BankMirror(std::string location, std::chrono::milliseconds checkEvery)
    : location_(std::move(location)), checkEvery_(checkEvery)
{
}

BankMirror::~BankMirror()
{
    {
        std::lock_guard<std::mutex> lock(refreshing_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

bool BankMirror::Start(std::string& error)
{
    if (!Refresh() || !Current()) {
        error =
            "cannot read the bank from the database: " + (db_.IsOpen() ? db_.Error() : std::string("not connected"));
        return false;
    }
    thread_ = std::thread([this] { Loop(); });
    return true;
}

std::shared_ptr<BankCopy> BankMirror::Current() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return current_;
}

bool BankMirror::Refresh(bool settle)
{
    if (db_.Broken() && !db_.Open(location_))
        return false;
    int64_t version = BankVersion(db_);
    if (version < 0)
        return false;
    if (version == version_ && current_)
        return true;
    if (settle) {
        const auto now = std::chrono::steady_clock::now();
        bool moving = version != seen_;
        if (seen_ == version_ || seen_ < 0)
            pendingSince_ = now; // the first change seen
        seen_ = version;
        if (moving && now - pendingSince_ < MostPending)
            return false;
    }
    // The version is read before the rows: a change committed in between
    // raises it again, and the next look reads the bank once more.
    auto copy = std::make_shared<BankCopy>();
    std::string error;
    if (!copy->Load(db_, error)) {
        LogFailure("bank not read again", error);
        return false;
    }
    version_ = version;
    seen_ = version;
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = std::move(copy);
    return true;
}

void BankMirror::Wake()
{
    {
        std::lock_guard<std::mutex> lock(refreshing_);
        woken_ = true;
    }
    wake_.notify_all();
}

void BankMirror::Loop()
{
    std::unique_lock<std::mutex> lock(refreshing_);
    while (!stopping_) {
        wake_.wait_for(lock, checkEvery_, [this] { return stopping_ || woken_; });
        if (stopping_)
            break;
        const bool woken = woken_;
        woken_ = false;
        lock.unlock();
        Refresh(!woken);
        lock.lock();
    }
}

} // namespace kelvora

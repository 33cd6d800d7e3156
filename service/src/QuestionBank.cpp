#include "QuestionBank.h"

#include <algorithm>
#include <vector>

#include "QuestionText.h"
#include "Similarity.h"
#include "Utf8Text.h"

namespace kelvora {

namespace {

// Rare trigrams find a question's neighbours with short posting lists; a
// dozen of them survive a few typing mistakes.
constexpr size_t kTrigramsSampled = 48;
constexpr size_t kTrigramsQueried = 12;
constexpr int64_t kTrigramCandidates = 40;
constexpr int64_t kShortQuestionLength = 6;
constexpr size_t kLongestFuzzyQuestion = 500;

struct Candidates {
    std::u32string_view norm;
    int64_t bestId = 0;
    double bestScore = 0.0;

    void Consider(int64_t id, std::string_view candidateNorm) {
        auto candidate = DecodeUtf8(candidateNorm);
        if (!candidate) return;
        Closeness closeness = CompareQuestions(norm, *candidate);
        if (closeness.acceptable && closeness.score > bestScore) {
            bestScore = closeness.score;
            bestId = id;
        }
    }
};

std::vector<std::u32string> DistinctTrigrams(std::u32string_view norm) {
    std::vector<std::u32string> grams;
    for (size_t i = 0; i + 3 <= norm.size(); ++i) grams.emplace_back(norm.substr(i, 3));
    std::sort(grams.begin(), grams.end());
    grams.erase(std::unique(grams.begin(), grams.end()), grams.end());
    if (grams.size() > kTrigramsSampled) {
        std::vector<std::u32string> sample;
        for (size_t k = 0; k < kTrigramsSampled; ++k) sample.push_back(grams[k * grams.size() / kTrigramsSampled]);
        grams.swap(sample);
    }
    return grams;
}

void AddTrigramCandidates(Connection& db, std::u32string_view norm, Candidates& candidates) {
    std::vector<std::pair<int64_t, std::string>> counted;
    Statement& frequency = db.Cached("SELECT doc FROM questions_terms WHERE term = ?1");
    for (const std::u32string& gram : DistinctTrigrams(norm)) {
        std::string text = EncodeUtf8(gram);
        frequency.Bind(1, text);
        if (frequency.Step() && frequency.Int(0) > 0) counted.emplace_back(frequency.Int(0), std::move(text));
        frequency.Reset();
    }
    if (counted.empty()) return;
    std::sort(counted.begin(), counted.end());
    if (counted.size() > kTrigramsQueried) counted.resize(kTrigramsQueried);

    // Normalised text holds no quotes or operators, so each trigram can be a
    // quoted FTS5 string as it is.
    std::string expression;
    for (const auto& [count, gram] : counted) {
        if (!expression.empty()) expression += " OR ";
        expression += "\"" + gram + "\"";
    }
    Statement& search = db.Cached(
        "SELECT q.id, q.norm FROM (SELECT rowid AS id FROM questions_fts WHERE questions_fts MATCH ?1 "
        "ORDER BY rank LIMIT ?2) AS hit JOIN questions q ON q.id = hit.id");
    search.Bind(1, expression).Bind(2, kTrigramCandidates);
    while (search.Step()) candidates.Consider(search.Int(0), search.Text(1));
    search.Reset();
}

// Trigrams cannot find questions of one or two characters, nor a short one
// with a changed character; those few are compared directly.
void AddShortCandidates(Connection& db, std::u32string_view norm, Candidates& candidates) {
    int64_t length = static_cast<int64_t>(norm.size());
    Statement& scan = db.Cached(
        "SELECT id, norm FROM questions WHERE norm_length <= 6 AND norm_length BETWEEN ?1 AND ?2");
    scan.Bind(1, std::max<int64_t>(1, length - 2)).Bind(2, std::min(kShortQuestionLength, length + 2));
    while (scan.Step()) candidates.Consider(scan.Int(0), scan.Text(1));
    scan.Reset();
}

bool ReadEntry(Statement& statement, BankEntry& entry) {
    if (!statement.Step()) {
        statement.Reset();
        return false;
    }
    entry = {statement.Text(0), statement.Text(1), statement.Text(2), statement.Text(3)};
    statement.Reset();
    return true;
}

std::vector<std::string> SplitOptions(std::string_view options) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= options.size()) {
        size_t end = options.find_first_of("|\n", start);
        if (end == std::string_view::npos) end = options.size();
        std::string_view part = options.substr(start, end - start);
        while (!part.empty() && (part.front() == ' ' || part.front() == '\t')) part.remove_prefix(1);
        while (!part.empty() && (part.back() == ' ' || part.back() == '\r' || part.back() == '\t')) part.remove_suffix(1);
        if (!part.empty()) parts.emplace_back(part);
        start = end + 1;
    }
    return parts;
}

// "A. 北京", "A、北京", "A．北京" and "A 北京" all label option A; the label is
// dropped so the answer can write its own.
std::string OptionText(const std::string& option, char letter) {
    if (option.size() < 2 || (option[0] != letter && option[0] != letter + ('a' - 'A'))) return option;
    static constexpr std::string_view separators[] = {".", ":", ")", " ", "、", "．", "：", "）"};
    for (std::string_view separator : separators) {
        if (std::string_view(option).substr(1, separator.size()) == separator) {
            std::string rest = option.substr(1 + separator.size());
            size_t first = rest.find_first_not_of(' ');
            return first == std::string::npos ? std::string() : rest.substr(first);
        }
    }
    return option;
}

}  // namespace

UpsertOutcome UpsertQuestion(Connection& db, const BankEntry& entry, int64_t now) {
    std::u32string norm = NormalizeQuestionUtf8(entry.question);
    if (norm.empty()) return UpsertOutcome::Failed;
    std::string normText = EncodeUtf8(norm);

    Statement& existing = db.Cached("SELECT question, answer, kind, options FROM questions WHERE norm = ?1");
    existing.Bind(1, normText);
    BankEntry stored;
    if (ReadEntry(existing, stored)) {
        if (stored.question == entry.question && stored.answer == entry.answer && stored.kind == entry.kind &&
            stored.options == entry.options) {
            return UpsertOutcome::Unchanged;
        }
        Statement& update = db.Cached(
            "UPDATE questions SET question = ?2, answer = ?3, kind = ?4, options = ?5, updated_at = ?6 "
            "WHERE norm = ?1");
        update.Bind(1, normText).Bind(2, entry.question).Bind(3, entry.answer).Bind(4, entry.kind);
        update.Bind(5, entry.options).Bind(6, now);
        return update.Run() ? UpsertOutcome::Updated : UpsertOutcome::Failed;
    }
    Statement& insert = db.Cached(
        "INSERT INTO questions(question, norm, norm_length, answer, kind, options, updated_at) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    insert.Bind(1, entry.question).Bind(2, normText).Bind(3, static_cast<int64_t>(norm.size()));
    insert.Bind(4, entry.answer).Bind(5, entry.kind).Bind(6, entry.options).Bind(7, now);
    return insert.Run() ? UpsertOutcome::Added : UpsertOutcome::Failed;
}

BankMatch FindBestMatch(Connection& db, std::string_view question) {
    BankMatch match;
    std::u32string norm = NormalizeQuestionUtf8(question);
    if (norm.empty()) return match;

    Statement& exact = db.Cached("SELECT question, answer, kind, options FROM questions WHERE norm = ?1");
    exact.Bind(1, EncodeUtf8(norm));
    if (ReadEntry(exact, match.entry)) {
        match.found = true;
        match.score = 1.0;
        return match;
    }

    // Beyond any real question's length only the exact form is looked for.
    if (norm.size() > kLongestFuzzyQuestion) return match;
    Candidates candidates{norm};
    if (norm.size() >= 3) AddTrigramCandidates(db, norm, candidates);
    if (static_cast<int64_t>(norm.size()) <= kShortQuestionLength) AddShortCandidates(db, norm, candidates);
    if (candidates.bestId == 0) return match;

    Statement& byId = db.Cached("SELECT question, answer, kind, options FROM questions WHERE id = ?1");
    byId.Bind(1, candidates.bestId);
    if (ReadEntry(byId, match.entry)) {
        match.found = true;
        match.score = candidates.bestScore;
    }
    return match;
}

std::string DisplayAnswer(const BankEntry& entry) {
    std::vector<std::string> options = SplitOptions(entry.options);
    if (options.empty() || entry.answer.empty()) return entry.answer;
    std::vector<size_t> chosen;
    for (char c : entry.answer) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
        if (c >= 'A' && c <= 'Z') {
            size_t index = static_cast<size_t>(c - 'A');
            if (index >= options.size()) return entry.answer;
            chosen.push_back(index);
        } else if (c != ' ' && c != ',') {
            return entry.answer;  // not a list of option letters: shown as written
        }
    }
    std::string shown;
    for (size_t index : chosen) {
        char letter = static_cast<char>('A' + index);
        if (!shown.empty()) shown += "；";
        shown += std::string(1, letter) + ". " + OptionText(options[index], letter);
    }
    return shown;
}

int64_t CountQuestions(Connection& db) {
    Statement& count = db.Cached("SELECT count(*) FROM questions");
    int64_t result = count.Step() ? count.Int(0) : 0;
    count.Reset();
    return result;
}

}  // namespace kelvora

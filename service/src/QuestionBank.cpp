#include "QuestionBank.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <map>
#include <tuple>
#include <vector>

#include "BankCopy.h"
#include "ContrastList.h"
#include "IndexState.h"
#include "QuestionText.h"
#include "Similarity.h"
#include "TextPieces.h"
#include "Utf8Text.h"

namespace kelvora {

namespace {

// A typed question that is the beginning of a bank question: at least this
// long, and missing at most a third of it (see MostMissingFor).
constexpr size_t ShortestPrefix = 6;

// The work one fuzzy lookup may do, whatever the question: posting-list
// entries read, candidates fetched and compared, and edit-distance cells.
// A question made of the bank's most common phrases would otherwise read
// most of the index. A normal typed question stays far inside these.
struct WorkBudget {
    int64_t postings = 1500;
    size_t candidates = 60;
    size_t cells = 60000;
};

// The version of the normal form questions are stored under; raised when
// NormalizeQuestionUtf8 changes, so that stored questions are brought up to date.
constexpr int64_t NormalFormVersion = 2; // 2: markers, options, script, formula signs

size_t MostMissingFor(size_t bankLength)
{
    constexpr size_t MostMissingCharacters = 4;
    return std::max(MostMissingCharacters, bankLength / 3);
}

// Bank questions that fit a typed question in a looser way than a few typos;
// one is taken only when no other fits the same way.
struct LooseFits {
    double bestScore = 0.0;
    std::vector<int64_t> best; // the ids with bestScore
    std::vector<int64_t> all;  // every id that fits

    void Add(int64_t id, double score)
    {
        if (std::find(all.begin(), all.end(), id) != all.end())
            return;
        all.push_back(id);
        if (score > bestScore + 1e-9) {
            bestScore = score;
            best.assign(1, id);
        } else if (score > bestScore - 1e-9) {
            best.push_back(id);
        }
    }
};

// A choice among bank questions: the one chosen, or those it could not
// choose between.
struct Choice {
    int64_t id = 0;
    std::vector<int64_t> undecided;
};

struct Candidates {
    std::u32string_view norm;
    WorkBudget& budget;
    size_t blanks = 0; // blanks typed in the question
    // Within a few typos of the whole question: the closest wins, unless
    // another is as few edits away.
    int64_t bestId = 0;
    double bestScore = 0.0;
    size_t bestEdits = SIZE_MAX;
    std::vector<int64_t> atBestEdits;
    // The others, read loosely only when no whole question fits.
    std::vector<std::pair<int64_t, std::u32string>> others;

    Candidates(std::u32string_view typed, WorkBudget& workBudget) : norm(typed), budget(workBudget) {}

    // Whether the budget still holds comparing a with b; only the edit
    // distance's table costs, and only when the lengths leave it to decide.
    bool Afford(std::u32string_view a, std::u32string_view b)
    {
        size_t longer = std::max(a.size(), b.size());
        size_t allowed = AllowedEdits(longer);
        if (longer - std::min(a.size(), b.size()) > allowed)
            return true;
        size_t cells = longer * (2 * allowed + 1);
        if (cells > budget.cells)
            return false;
        budget.cells -= cells;
        return true;
    }

    void Consider(int64_t id, std::string_view candidateNorm)
    {
        auto candidate = DecodeUtf8(candidateNorm);
        if (!candidate || !Afford(norm, *candidate))
            return;
        const ContrastList& contrasts = Contrasts();
        Closeness closeness = CompareQuestions(norm, *candidate);
        if (closeness.acceptable) {
            // Within a few typos, but perhaps by the one word that makes it another question.
            if (closeness.edits > bestEdits || contrasts.ChangesMeaning(norm, *candidate))
                return;
            if (closeness.edits < bestEdits) {
                bestEdits = closeness.edits;
                bestScore = 0.0;
                atBestEdits.clear();
            }
            if (std::find(atBestEdits.begin(), atBestEdits.end(), id) == atBestEdits.end())
                atBestEdits.push_back(id);
            if (closeness.score > bestScore) {
                bestScore = closeness.score;
                bestId = id;
            }
            return;
        }
        if (std::none_of(others.begin(), others.end(), [id](const auto& other) { return other.first == id; })) {
            others.emplace_back(id, std::move(*candidate));
        }
    }

    // The closest whole question, unless another is as few edits away: then
    // the typo hit the word that tells them apart.
    Choice WholeChoice() const
    {
        Choice choice;
        if (atBestEdits.size() == 1)
            choice.id = bestId;
        if (atBestEdits.size() > 1)
            choice.undecided = atBestEdits;
        return choice;
    }

    // The one bank question among the others that fits loosely: the same
    // once question words and blanks are left out, else the one the typed
    // question is the beginning of, exactly, else within a few typos.
    Choice LooseChoice()
    {
        const ContrastList& contrasts = Contrasts();
        std::u32string bare = WithoutQuestionWords(norm);
        LooseFits withoutQuestionWords, beginning, beginningWithTypos;
        for (const auto& [id, candidate] : others) {
            // Blanks for question words: the rest must be the same, with no
            // typos on top, since the question words it lacks were much of it.
            std::u32string candidateBare = WithoutQuestionWords(candidate);
            if (candidateBare == bare) {
                withoutQuestionWords.Add(id, 1.0);
                continue;
            }
            // A blank may take a character more ("遇酸变成（ ）色" for "变成什么颜色").
            if (blanks > 0 && candidateBare.size() == bare.size() + 1 && bare.size() >= ShortestPrefix) {
                size_t same = 0;
                while (same < bare.size() && bare[same] == candidateBare[same])
                    ++same;
                if (std::u32string_view(candidateBare).substr(same + 1) == std::u32string_view(bare).substr(same) &&
                    !contrasts.ChangesMeaning(bare, candidateBare)) {
                    withoutQuestionWords.Add(id, 0.9);
                    continue;
                }
            }
            // Cut short in the middle of a question word ("…等于多" for "…等于多少位").
            if (norm.size() >= ShortestPrefix && candidate.size() > norm.size() &&
                candidate.size() - norm.size() <= MostMissingFor(candidate.size()) &&
                std::u32string_view(candidate).substr(0, norm.size()) == norm) {
                if (!contrasts.ChangesMeaning(norm, candidate)) {
                    beginning.Add(id, static_cast<double>(norm.size()) / static_cast<double>(candidate.size()));
                }
                continue;
            }
            if (bare.size() < ShortestPrefix || candidateBare.size() <= bare.size() ||
                candidateBare.size() - bare.size() > MostMissingFor(candidateBare.size())) {
                continue;
            }
            // The part cut off must not hold a negation, nor the rest a contrast.
            std::u32string_view start = std::u32string_view(candidateBare).substr(0, bare.size());
            double share = static_cast<double>(bare.size()) / static_cast<double>(candidateBare.size());
            if (start == bare) {
                if (!contrasts.ChangesMeaning(bare, candidateBare))
                    beginning.Add(id, share);
            } else if (start.substr(start.size() - 2) == std::u32string_view(bare).substr(bare.size() - 2) &&
                       Afford(bare, start) && CompareQuestions(bare, start).acceptable &&
                       !contrasts.ChangesMeaning(bare, candidateBare)) {
                // A typo, but not where the typed question stops: a different
                // last word ("哪座山" for "哪座城市") is another question.
                beginningWithTypos.Add(id, share);
            }
        }
        Choice choice;
        const std::vector<int64_t>& fits = !withoutQuestionWords.all.empty() ? withoutQuestionWords.best
                                           : !beginning.all.empty()          ? beginning.all
                                                                             : beginningWithTypos.all;
        if (fits.size() == 1)
            choice.id = fits.front();
        if (fits.size() > 1)
            choice.undecided = fits;
        return choice;
    }
};

// The options stored with a question, each normalised.
std::vector<std::u32string> StoredOptions(BankSource& db, int64_t id)
{
    std::string text = db.OptionsById(id);
    std::vector<std::u32string> result;
    for (std::string_view part : SplitAt(text, OptionSeparators)) {
        std::u32string option = NormalizeOption(part);
        if (!option.empty())
            result.push_back(std::move(option));
    }
    return result;
}

// Of bank questions the typed words could not choose between, the one whose
// options hold every option typed after the question (in any order), or 0.
int64_t ConfirmedByOptions(BankSource& db, const std::vector<int64_t>& undecided,
                           const std::vector<std::u32string>& typedOptions)
{
    constexpr size_t MostConfirmed = 8;
    if (typedOptions.size() < 2 || undecided.size() > MostConfirmed)
        return 0;
    int64_t confirmed = 0;
    for (int64_t id : undecided) {
        std::vector<std::u32string> stored = StoredOptions(db, id);
        bool all = std::all_of(typedOptions.begin(), typedOptions.end(), [&](const std::u32string& option) {
            return std::find(stored.begin(), stored.end(), option) != stored.end();
        });
        if (!all)
            continue;
        if (confirmed != 0)
            return 0;
        confirmed = id;
    }
    return confirmed;
}

std::vector<std::u32string> DistinctTrigrams(std::u32string_view norm)
{
    constexpr size_t TrigramsSampled = 32;
    std::vector<std::u32string> grams;
    for (size_t i = 0; i + 3 <= norm.size(); ++i)
        grams.emplace_back(norm.substr(i, 3));
    std::sort(grams.begin(), grams.end());
    grams.erase(std::unique(grams.begin(), grams.end()), grams.end());
    if (grams.size() > TrigramsSampled) {
        std::vector<std::u32string> sample;
        for (size_t k = 0; k < TrigramsSampled; ++k)
            sample.push_back(grams[k * grams.size() / TrigramsSampled]);
        grams.swap(sample);
    }
    return grams;
}

// The most edits any acceptable bank question can be away from a typed
// question of this length (the bank question may be the longer one).
size_t MostEditsFor(size_t length)
{
    size_t longest = length;
    while (longest + 1 - length <= AllowedEdits(longest + 1))
        ++longest;
    return AllowedEdits(longest);
}

// Trigrams wholly inside a run of digits. Numbers must agree exactly, so
// every acceptable question holds each of these.
std::vector<std::string> NumberTrigrams(std::u32string_view norm)
{
    std::vector<std::string> grams;
    size_t run = 0;
    for (size_t i = 0; i < norm.size(); ++i) {
        run = norm[i] >= '0' && norm[i] <= '9' ? run + 1 : 0;
        if (run >= 3)
            grams.push_back(EncodeUtf8(norm.substr(i - 2, 3)));
    }
    return grams;
}

using RowIds = std::vector<int64_t>;

// Each edit destroys at most three of the typed question's trigrams, so of
// any 3 * edits + k trigrams of it, a question within the allowed edits holds
// at least k. Taking the rarest ones keeps the posting lists short.
void AddTrigramCandidates(BankSource& db, std::u32string_view norm, Candidates& candidates)
{
    // Questions holding every number of the typed one: the posting lists of
    // its number trigrams intersected, rarest first. A list much longer than
    // what is left would narrow it little and is skipped; a superset is safe,
    // since the comparison checks the numbers anyway.
    std::vector<std::pair<int64_t, std::string>> numberGrams;
    for (std::string& gram : NumberTrigrams(norm)) {
        int64_t docs = db.TrigramDocs(gram);
        if (docs == 0)
            return; // no question holds this number
        numberGrams.emplace_back(docs, std::move(gram));
    }
    std::sort(numberGrams.begin(), numberGrams.end());
    numberGrams.erase(std::unique(numberGrams.begin(), numberGrams.end()), numberGrams.end());
    RowIds holdNumber;
    for (size_t k = 0; k < numberGrams.size(); ++k) {
        if (k > 0 && static_cast<size_t>(numberGrams[k].first) > 8 * holdNumber.size())
            break;
        if (numberGrams[k].first > candidates.budget.postings) {
            if (k == 0)
                numberGrams.clear(); // too common to narrow anything within the budget
            break;
        }
        candidates.budget.postings -= numberGrams[k].first;
        RowIds ids;
        db.ReadPostings(numberGrams[k].second, ids);
        std::sort(ids.begin(), ids.end());
        if (k == 0) {
            holdNumber.swap(ids);
        } else {
            RowIds both;
            std::set_intersection(holdNumber.begin(), holdNumber.end(), ids.begin(), ids.end(),
                                  std::back_inserter(both));
            holdNumber.swap(both);
        }
        if (holdNumber.empty())
            return;
    }
    const bool hasNumber = !numberGrams.empty();

    std::vector<std::pair<int64_t, std::string>> counted;
    for (const std::u32string& gram : DistinctTrigrams(norm)) {
        std::string text = EncodeUtf8(gram);
        int64_t docs = db.TrigramDocs(text);
        if (docs > 0)
            counted.emplace_back(docs, std::move(text));
    }
    std::sort(counted.begin(), counted.end());
    // Rare trigrams find a question's neighbours with short posting lists: as
    // many rarest ones as edits can destroy, and HitsRequired more.
    // A blank that stood for a question word destroys trigrams as an edit does.
    constexpr size_t HitsRequired = 3;
    size_t destroyed = 3 * (MostEditsFor(norm.size()) + candidates.blanks);
    if (counted.size() > destroyed + HitsRequired)
        counted.resize(destroyed + HitsRequired);
    // Rarest first, as many lists as the budget holds.
    int64_t countedDocs = 0;
    size_t affordable = 0;
    while (affordable < counted.size() && countedDocs + counted[affordable].first <= candidates.budget.postings) {
        countedDocs += counted[affordable++].first;
    }
    counted.resize(affordable);
    size_t needed = counted.size() > destroyed ? counted.size() - destroyed : 1;

    // The questions holding the numbers alone when they are few; otherwise
    // the chosen trigrams, kept to questions that hold the numbers too.
    RowIds ids;
    if (hasNumber && (counted.empty() || holdNumber.size() * 4 <= static_cast<size_t>(countedDocs))) {
        ids = holdNumber;
        needed = 1;
    } else {
        candidates.budget.postings -= countedDocs;
        ids.reserve(static_cast<size_t>(countedDocs));
        for (const auto& [docs, gram] : counted)
            db.ReadPostings(gram, ids);
        std::sort(ids.begin(), ids.end());
    }
    // Sorted row ids: the length of a run is the number of chosen trigrams
    // that question holds.
    std::vector<std::pair<size_t, int64_t>> promising;
    for (size_t i = 0; i < ids.size();) {
        size_t j = i;
        while (j < ids.size() && ids[j] == ids[i])
            ++j;
        if (j - i >= needed && (!hasNumber || std::binary_search(holdNumber.begin(), holdNumber.end(), ids[i]))) {
            promising.emplace_back(j - i, ids[i]);
        }
        i = j;
    }
    // Questions that share more of these trigrams are compared first.
    size_t compared = std::min(promising.size(), candidates.budget.candidates);
    candidates.budget.candidates -= compared;
    std::partial_sort(promising.begin(), promising.begin() + compared, promising.end(), std::greater<>());
    promising.resize(compared);
    std::string candidateNorm;
    for (const auto& [count, id] : promising) {
        if (db.NormById(id, candidateNorm))
            candidates.Consider(id, candidateNorm);
    }
}

// Trigrams cannot find questions of one or two characters, nor a short one
// with a changed character; those few are compared directly.
void AddShortCandidates(BankSource& db, std::u32string_view norm, Candidates& candidates)
{
    int64_t length = static_cast<int64_t>(norm.size());
    db.ShortQuestions(std::max<int64_t>(1, length - 2), std::min(ShortQuestionLength, length + 2),
                      [&](int64_t id, std::string_view candidate) {
                          if (candidates.budget.candidates == 0)
                              return false;
                          --candidates.budget.candidates;
                          candidates.Consider(id, candidate);
                          return true;
                      });
}

// Bank questions that begin with the typed question exactly; the trigram
// candidates may not reach them all when the typed words are common.
void AddPrefixCandidates(BankSource& db, std::u32string_view norm, Candidates& candidates)
{
    if (norm.size() < ShortestPrefix)
        return;
    std::string text = EncodeUtf8(norm);
    // Every text that begins with text sorts between text and text + U+10FFFF.
    db.Between(text, text + "\xF4\x8F\xBF\xBF", 4,
               [&](int64_t id, std::string_view candidate) { candidates.Consider(id, candidate); });
}

bool ReadEntry(Statement& statement, BankEntry& entry)
{
    if (!statement.Step()) {
        statement.Reset();
        return false;
    }
    entry = {statement.Text(0), statement.Text(1), statement.Text(2), statement.Text(3)};
    statement.Reset();
    return true;
}

// The database's own tables and trigram index as a bank source.
class SqliteBank : public BankSource {
public:
    explicit SqliteBank(Connection& db) : db_(db) {}

    bool ExactEntry(const std::string& norm, BankEntry& entry) override
    {
        Statement& exact = db_.Cached("SELECT question, answer, kind, options FROM questions WHERE norm = ?1");
        exact.Bind(1, norm);
        return ReadEntry(exact, entry);
    }
    bool EntryById(int64_t id, BankEntry& entry) override
    {
        Statement& byId = db_.Cached("SELECT question, answer, kind, options FROM questions WHERE id = ?1");
        byId.Bind(1, id);
        return ReadEntry(byId, entry);
    }
    bool NormById(int64_t id, std::string& norm) override
    {
        Statement& byId = db_.Cached("SELECT norm FROM questions WHERE id = ?1");
        byId.Bind(1, id);
        bool found = byId.Step();
        if (found)
            norm = byId.Text(0);
        byId.Reset();
        return found;
    }
    std::string OptionsById(int64_t id) override
    {
        Statement& options = db_.Cached("SELECT options FROM questions WHERE id = ?1");
        options.Bind(1, id);
        std::string text = options.Step() ? options.Text(0) : std::string();
        options.Reset();
        return text;
    }
    int64_t TrigramDocs(const std::string& gram) override
    {
        Statement& frequency = db_.Cached("SELECT docs FROM trigram_counts WHERE term = ?1");
        frequency.Bind(1, gram);
        int64_t docs = frequency.Step() ? frequency.Int(0) : 0;
        frequency.Reset();
        return docs;
    }
    void ReadPostings(const std::string& gram, std::vector<int64_t>& ids) override
    {
        // Normalised text holds no quotes or operators: a trigram is a valid FTS5 string as it is.
        Statement& postings = db_.Cached("SELECT rowid FROM questions_fts WHERE questions_fts MATCH ?1");
        postings.Bind(1, "\"" + gram + "\"");
        while (postings.Step())
            ids.push_back(postings.Int(0));
        postings.Reset();
    }
    void ShortQuestions(int64_t low, int64_t high, const std::function<bool(int64_t, std::string_view)>& take) override
    {
        Statement& scan =
            db_.Cached("SELECT id, norm FROM questions WHERE norm_length <= 6 AND norm_length BETWEEN ?1 AND ?2 "
                       "ORDER BY norm_length, id");
        scan.Bind(1, low).Bind(2, high);
        while (scan.Step() && take(scan.Int(0), scan.Text(1))) {
        }
        scan.Reset();
    }
    void Between(const std::string& from, const std::string& to, size_t most,
                 const std::function<void(int64_t, std::string_view)>& take) override
    {
        Statement& range =
            db_.Cached("SELECT id, norm FROM questions WHERE norm > ?1 AND norm < ?2 ORDER BY norm LIMIT ?3");
        range.Bind(1, from).Bind(2, to).Bind(3, static_cast<int64_t>(most));
        while (range.Step())
            take(range.Int(0), range.Text(1));
        range.Reset();
    }

private:
    Connection& db_;
};

} // namespace

void UpsertCounts::Count(UpsertOutcome outcome)
{
    switch (outcome) {
    case UpsertOutcome::Added: ++added; break;
    case UpsertOutcome::Updated: ++updated; break;
    case UpsertOutcome::Unchanged: ++unchanged; break;
    case UpsertOutcome::Failed: break;
    }
}

UpsertOutcome UpsertQuestion(Connection& db, const BankEntry& entry, int64_t now)
{
    std::u32string norm = NormalizeQuestionUtf8(entry.question);
    if (norm.empty())
        return UpsertOutcome::Failed;
    std::string normText = EncodeUtf8(norm);

    Statement& existing = db.Cached("SELECT question, answer, kind, options FROM questions WHERE norm = ?1");
    existing.Bind(1, normText);
    BankEntry stored;
    if (ReadEntry(existing, stored)) {
        if (stored.question == entry.question && stored.answer == entry.answer && stored.kind == entry.kind &&
            stored.options == entry.options) {
            return UpsertOutcome::Unchanged;
        }
        Statement& update =
            db.Cached("UPDATE questions SET question = ?2, answer = ?3, kind = ?4, options = ?5, updated_at = ?6 "
                      "WHERE norm = ?1");
        update.Bind(1, normText).Bind(2, entry.question).Bind(3, entry.answer).Bind(4, entry.kind);
        update.Bind(5, entry.options).Bind(6, now);
        return update.Run() ? UpsertOutcome::Updated : UpsertOutcome::Failed;
    }
    Statement& insert =
        db.Cached("INSERT INTO questions(question, norm, norm_length, answer, kind, options, updated_at) "
                  "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    insert.Bind(1, entry.question).Bind(2, normText).Bind(3, static_cast<int64_t>(norm.size()));
    insert.Bind(4, entry.answer).Bind(5, entry.kind).Bind(6, entry.options).Bind(7, now);
    return insert.Run() ? UpsertOutcome::Added : UpsertOutcome::Failed;
}

BankMatch FindBestMatch(Connection& db, std::string_view question)
{
    // PostgreSQL keeps no trigram index: a copy of the bank is read for the
    // lookup (the server keeps one instead, see BankCopy).
    if (db.IsPostgres()) {
        BankCopy copy;
        std::string error;
        if (!copy.Load(db, error))
            return {};
        return FindBestMatch(copy, question);
    }
    ReadSnapshot snapshot(db);
    SqliteBank bank(db);
    return FindBestMatch(bank, question);
}

BankMatch FindBestMatch(BankSource& db, std::string_view question)
{
    BankMatch match;
    NormalizedQuestion typed = NormalizeQuestionParts(question);
    const std::u32string& norm = typed.stem;
    if (norm.empty())
        return match;

    if (db.ExactEntry(EncodeUtf8(norm), match.entry)) {
        match.found = true;
        match.score = 1.0;
        return match;
    }

    // Beyond any real question's length only the exact form is looked for.
    constexpr size_t LongestFuzzyQuestion = 500;
    if (norm.size() > LongestFuzzyQuestion)
        return match;
    WorkBudget budget;
    Candidates candidates(norm, budget);
    candidates.blanks = std::min<size_t>(typed.blanks, 3);
    if (norm.size() >= 3)
        AddTrigramCandidates(db, norm, candidates);
    if (static_cast<int64_t>(norm.size()) <= ShortQuestionLength)
        AddShortCandidates(db, norm, candidates);
    // Bank questions that begin with the typed one, when no whole question
    // fits: they may fit whole after all, or as the question cut short.
    Choice whole = candidates.WholeChoice();
    if (whole.id == 0 && whole.undecided.empty()) {
        AddPrefixCandidates(db, norm, candidates);
        whole = candidates.WholeChoice();
    }
    // Options typed after the question may settle what the words could not.
    int64_t chosen = whole.id != 0 ? whole.id : ConfirmedByOptions(db, whole.undecided, typed.options);
    double score = candidates.bestScore;
    if (chosen == 0 && whole.undecided.empty()) {
        // Blanks for question words, a question cut short: only when exactly
        // one bank question fits.
        Choice loose = candidates.LooseChoice();
        chosen = loose.id != 0 ? loose.id : ConfirmedByOptions(db, loose.undecided, typed.options);
        score = 0.5;
    }
    if (chosen == 0)
        return match;

    if (db.EntryById(chosen, match.entry)) {
        match.found = true;
        match.score = score;
    }
    return match;
}

bool UpdateNormalForms(Connection& db)
{
    if (!db.Exec("CREATE TABLE IF NOT EXISTS normal_form(version INTEGER NOT NULL)"))
        return false;
    auto storedVersion = [&db] {
        Statement& version = db.Cached("SELECT max(version) FROM normal_form");
        int64_t stored = version.Step() ? version.Int(0) : 0;
        version.Reset();
        return stored;
    };
    if (storedVersion() == NormalFormVersion)
        return true;

    Transaction transaction(db);
    if (!transaction.Begun())
        return false;
    // Several servers may start at once on one PostgreSQL database: one
    // brings the forms up to date, the others then find them current.
    if (db.IsPostgres() && !db.Exec("SELECT pg_advisory_xact_lock(4711005)"))
        return false;
    if (storedVersion() == NormalFormVersion)
        return transaction.Commit();
    // Newest first: when two questions now read alike, the newer one takes
    // the form, as a re-import of both would have left it. The older keeps
    // its stored form (or, when that is taken, one no lookup produces): it
    // is not deleted, so nothing a bank file brought in is lost here.
    struct Row {
        int64_t id;
        std::string stored;
        std::string current;
        int64_t length;
    };
    std::vector<Row> rows;
    std::map<std::string, int64_t> keeper;
    Statement& all = db.Cached("SELECT id, question, norm FROM questions ORDER BY updated_at DESC, id DESC");
    while (all.Step()) {
        Row row{all.Int(0), all.Text(2), {}, 0};
        std::u32string current = NormalizeQuestionUtf8(all.Text(1));
        row.current = current.empty() ? row.stored : EncodeUtf8(current);
        row.length = current.empty() ? 0 : static_cast<int64_t>(current.size());
        keeper.emplace(row.current, row.id);
        rows.push_back(std::move(row));
    }
    all.Reset();
    // Through a placeholder no normal form can be (they hold no spaces), since
    // one question's new form may be another's old one.
    auto placeholder = [](int64_t id) {
        std::string text = std::to_string(id);
        text.insert(0, 1, ' ');
        return text;
    };
    std::vector<std::tuple<int64_t, std::string, int64_t>> moved; // id, new form, its length
    for (const Row& row : rows) {
        if (keeper[row.current] == row.id) {
            if (row.current != row.stored)
                moved.emplace_back(row.id, row.current, row.length);
        } else if (keeper.count(row.stored)) {
            moved.emplace_back(row.id, placeholder(row.id), 0);
        }
    }
    Statement& update = db.Cached("UPDATE questions SET norm = ?2, norm_length = ?3 WHERE id = ?1");
    for (const auto& [id, norm, length] : moved) {
        if (!update.Bind(1, id).Bind(2, placeholder(id)).Bind(3, length).Run())
            return false;
    }
    for (const auto& [id, norm, length] : moved) {
        if (!update.Bind(1, id).Bind(2, norm).Bind(3, length).Run())
            return false;
    }
    bool changed = !moved.empty();
    if (changed && !RefreshTrigramCounts(db))
        return false;
    if (!db.Exec("DELETE FROM normal_form"))
        return false;
    Statement& record = db.Cached("INSERT INTO normal_form(version) VALUES (?1)");
    if (!record.Bind(1, NormalFormVersion).Run())
        return false;
    return transaction.Commit();
}

bool RefreshTrigramCounts(Connection& db)
{
    if (db.IsPostgres())
        return BumpBankVersion(db); // each server keeps its own index: it reads the bank again
    // Merging the index's segments first makes each later trigram lookup one b-tree descent.
    return db.Exec("INSERT INTO questions_fts(questions_fts) VALUES ('optimize')") &&
           db.Exec("DELETE FROM trigram_counts") &&
           db.Exec("INSERT INTO trigram_counts(term, docs) SELECT term, doc FROM questions_terms");
}

int64_t CountQuestions(Connection& db)
{
    Statement& count = db.Cached("SELECT count(*) FROM questions");
    int64_t result = count.Step() ? count.Int(0) : 0;
    count.Reset();
    return result;
}

} // namespace kelvora

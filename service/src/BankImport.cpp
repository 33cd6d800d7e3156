#include "BankImport.h"

#include <fstream>
#include <optional>
#include <sstream>
#include <unordered_map>

#include "AnswerDisplay.h"
#include "BankColumns.h"
#include "CsvReader.h"
#include "IndexState.h"
#include "JsonBankReader.h"
#include "QuestionBank.h"
#include "QuestionText.h"
#include "Utf8Text.h"

namespace kelvora {

namespace {

constexpr size_t EntriesPerTransaction = 2000;
constexpr size_t MostCsvFields = 1000;
constexpr int64_t RowsPerProgress = 500;

std::string TooLong()
{
    return "the row is longer than " + std::to_string(LongestBankRow) + " bytes or has more than " +
           std::to_string(MostCsvFields) + " fields";
}

std::string ReadCsvStream(std::istream& in, const std::function<bool(BankFileEntry&&)>& take)
{
    CsvStream rows(in, LongestBankRow, MostCsvFields);
    CsvRow row;
    if (!rows.Next(row))
        return rows.Error().empty() ? "the file is empty" : rows.Error();
    if (row.tooLong)
        return "line " + std::to_string(row.line) + ": the header row is too long";
    std::vector<BankColumn> columns;
    bool hasQuestion = false, hasAnswer = false;
    for (const std::string& name : row.fields) {
        columns.push_back(BankColumnNamed(name));
        hasQuestion |= columns.back() == BankColumn::Question;
        hasAnswer |= columns.back() == BankColumn::Answer;
    }
    if (!hasQuestion || !hasAnswer)
        return "the header row must name a question column and an answer column";
    while (rows.Next(row)) {
        BankFileEntry item;
        item.line = row.line;
        if (row.tooLong)
            item.problem = TooLong();
        for (size_t c = 0; c < row.fields.size() && c < columns.size(); ++c) {
            AssignColumn(item.entry, columns[c], row.fields[c]);
        }
        if (!take(std::move(item)))
            return {};
    }
    return rows.Error();
}

// Leaves in after a byte order mark, if the text starts with one.
void SkipByteOrderMark(std::istream& in)
{
    char head[3] = {};
    in.read(head, 3);
    if (in.gcount() == 3 && std::string_view(head, 3) == "\xEF\xBB\xBF")
        return;
    in.clear();
    in.seekg(0);
}

// By the extension, else by the first character that is not white space.
BankFormat FormatOf(const std::string& path, std::istream& in)
{
    if (path.size() >= 5 && path.compare(path.size() - 5, 5, ".json") == 0)
        return BankFormat::Json;
    SkipByteOrderMark(in);
    int c;
    while ((c = in.get()) == ' ' || c == '\t' || c == '\r' || c == '\n') {
    }
    in.clear();
    in.seekg(0);
    return c == '[' || c == '{' ? BankFormat::Json : BankFormat::Csv;
}

// Stores entries a few thousand per transaction. Every transaction that
// changes a question also marks the fuzzy index's counts stale, and the
// last step rebuilds them and clears the mark, so an import stopped at any
// point leaves the mark for the next import (or the server) to act on.
class BankWriter {
public:
    BankWriter(Connection& db, int64_t now, ImportSummary& summary) : db_(db), now_(now), summary_(summary) {}

    bool Add(const BankEntry& entry)
    {
        if (!transaction_) {
            transaction_.emplace(db_);
            marked_ = false;
            if (!transaction_->Begun())
                return Fail("cannot write the database: ");
        }
        UpsertOutcome outcome = UpsertQuestion(db_, entry, now_);
        if (outcome == UpsertOutcome::Failed)
            return Fail("cannot write the database: ");
        summary_.Count(outcome);
        if (outcome != UpsertOutcome::Unchanged) {
            if (!marked_ && !MarkTrigramCountsStale(db_))
                return Fail("cannot write the database: ");
            marked_ = true;
        }
        if (++pending_ >= EntriesPerTransaction)
            return Commit();
        return true;
    }

    bool Finish()
    {
        if (transaction_ && !Commit())
            return false;
        // Also when this import changed nothing: an earlier one may have stopped before this step.
        if ((summary_.added || summary_.updated || TrigramCountsStaleOwner(db_) != 0) && !RebuildTrigramCounts(db_)) {
            return Fail("cannot count the bank's trigrams: ");
        }
        return true;
    }

private:
    bool Commit()
    {
        bool committed = transaction_->Commit();
        transaction_.reset();
        pending_ = 0;
        return committed || Fail("cannot commit the import: ");
    }

    bool Fail(const std::string& what)
    {
        summary_.error = what + db_.Error();
        transaction_.reset();
        return false;
    }

    Connection& db_;
    int64_t now_;
    ImportSummary& summary_;
    std::optional<Transaction> transaction_;
    size_t pending_ = 0;
    bool marked_ = false;
};

using EntrySource = std::function<std::string(const std::function<bool(BankFileEntry&&)>&)>;

// Two passes over the entries: the first checks them and picks the last
// version of each question, the second stores the picked ones.
ImportSummary Import(Connection& db, const EntrySource& entries, int64_t now,
                     const std::function<void(const std::string&)>& warn,
                     const std::function<void(const ImportProgress&)>& progress = nullptr)
{
    ImportSummary summary;
    ImportProgress done;
    auto tell = [&](bool always) {
        if (progress && (always || done.rows % RowsPerProgress == 0))
            progress(done);
    };
    auto warning = [&](std::string text) {
        if (warn)
            warn(text);
        else
            summary.warnings.push_back(std::move(text));
    };
    struct Last {
        size_t ordinal;
        size_t line;
    };
    std::unordered_map<std::string, Last> last; // normalised question to its latest entry
    std::vector<bool> keep;
    if (!UpdateNormalForms(db)) {
        summary.error = "cannot bring the stored questions to the current normal form: " + db.Error();
        return summary;
    }
    std::string error = entries([&](BankFileEntry&& item) {
        ++done.rows;
        tell(false);
        size_t ordinal = keep.size();
        keep.push_back(false);
        std::string problem = item.problem.empty() ? CheckEntry(item.entry) : item.problem;
        if (!problem.empty()) {
            warning("line " + std::to_string(item.line) + ": skipped, " + problem);
            ++summary.skipped;
            return true;
        }
        std::string norm = EncodeUtf8(NormalizeQuestionUtf8(item.entry.question));
        auto [earlier, fresh] = last.try_emplace(std::move(norm), Last{ordinal, item.line});
        if (!fresh) {
            // A question given twice keeps its last version, so importing the
            // file again finds everything unchanged.
            warning("line " + std::to_string(item.line) + ": replaces the same question of line " +
                    std::to_string(earlier->second.line));
            keep[earlier->second.ordinal] = false;
            earlier->second = Last{ordinal, item.line};
        }
        keep[ordinal] = true;
        return true;
    });
    if (!error.empty()) {
        summary.error = error;
        return summary;
    }
    last.clear();

    BankWriter writer(db, now, summary);
    size_t ordinal = 0;
    bool written = true;
    done = ImportProgress{true, 0, static_cast<int64_t>(keep.size())};
    tell(true);
    error = entries([&](BankFileEntry&& item) {
        ++done.rows;
        tell(false);
        if (ordinal < keep.size() && keep[ordinal++])
            written = writer.Add(item.entry);
        return written;
    });
    if (!written)
        return summary;
    if (error.empty() && ordinal != keep.size())
        error = "the file changed while it was imported";
    if (!error.empty()) {
        summary.error = error;
        return summary;
    }
    summary.ok = writer.Finish();
    tell(true);
    return summary;
}

} // namespace

std::string ReadBankStream(std::istream& in, BankFormat format, const std::function<bool(BankFileEntry&&)>& take)
{
    if (format == BankFormat::Csv)
        return ReadCsvStream(in, take);
    return ReadJsonBank(in, [&](JsonBankItem&& item) {
        return take(BankFileEntry{item.position, std::move(item.entry), std::move(item.problem)});
    });
}

namespace {

// Every entry of a bank in memory; none when the stream turns out broken.
BankFile ReadWholeBank(std::istream& in, BankFormat format)
{
    BankFile file;
    file.error = ReadBankStream(in, format, [&](BankFileEntry&& item) {
        file.entries.push_back(std::move(item));
        return true;
    });
    file.ok = file.error.empty();
    if (!file.ok)
        file.entries.clear();
    return file;
}

} // namespace

BankFile ReadBankText(std::string_view text, BankFormat format)
{
    std::istringstream in{std::string(WithoutByteOrderMark(text))};
    return ReadWholeBank(in, format);
}

BankFile ReadBankFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        BankFile file;
        file.error = "cannot read " + path;
        return file;
    }
    BankFormat format = FormatOf(path, in);
    SkipByteOrderMark(in);
    return ReadWholeBank(in, format);
}

std::string CheckEntry(const BankEntry& entry)
{
    for (const std::string* text : {&entry.question, &entry.answer, &entry.kind, &entry.options}) {
        if (!IsValidUtf8(*text))
            return "text is not valid UTF-8";
    }
    if (NormalizeQuestionUtf8(entry.question).empty())
        return "the question is empty";
    if (entry.answer.empty())
        return "the answer is empty";
    if (entry.question.size() > MaxQuestionBytes)
        return "the question is longer than 4000 bytes";
    if (entry.answer.size() + entry.options.size() > MaxAnswerBytes)
        return "the answer is longer than 20000 bytes";
    // The tool looks for these words in the answer followed directly by the
    // title, so a word across the join counts as well.
    std::string probe = DisplayAnswer(entry) + entry.question;
    std::string_view word = FindRejectedWord(probe);
    if (!word.empty())
        return "holds \"" + std::string(word) + "\", which the tool takes for a service notice";
    return {};
}

ImportSummary ImportBank(Connection& db, const BankFile& file, int64_t now)
{
    if (!file.ok) {
        ImportSummary summary;
        summary.error = file.error;
        return summary;
    }
    EntrySource entries = [&file](const std::function<bool(BankFileEntry &&)>& take) {
        for (const BankFileEntry& item : file.entries) {
            if (!take(BankFileEntry(item)))
                break;
        }
        return std::string();
    };
    return Import(db, entries, now, nullptr);
}

ImportSummary ImportBankFile(Connection& db, const std::string& path, int64_t now,
                             const std::function<void(const std::string&)>& warn,
                             const std::function<void(const ImportProgress&)>& progress)
{
    EntrySource entries = [&path](const std::function<bool(BankFileEntry &&)>& take) {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return "cannot read " + path;
        BankFormat format = FormatOf(path, in);
        SkipByteOrderMark(in);
        return ReadBankStream(in, format, take);
    };
    return Import(db, entries, now, warn, progress);
}

} // namespace kelvora

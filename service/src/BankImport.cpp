#include "BankImport.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "AnswerDisplay.h"
#include "CsvReader.h"
#include "QuestionText.h"
#include "Utf8Text.h"

namespace kelvora {

namespace {

constexpr size_t kMaxQuestionBytes = 4000;
constexpr size_t kMaxAnswerBytes = 20000;
constexpr size_t kEntriesPerTransaction = 2000;

enum class Column { Question, Answer, Kind, Options, Other };

std::string Trimmed(std::string_view text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

Column ColumnNamed(std::string_view name) {
    std::string key = Trimmed(name);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    }
    if (key == "question" || key == "题目" || key == "问题" || key == "title") return Column::Question;
    if (key == "answer" || key == "答案") return Column::Answer;
    if (key == "type" || key == "kind" || key == "题型" || key == "类型") return Column::Kind;
    if (key == "options" || key == "选项") return Column::Options;
    return Column::Other;
}

void Assign(BankEntry& entry, Column column, std::string value) {
    switch (column) {
        case Column::Question: entry.question = Trimmed(value); break;
        case Column::Answer: entry.answer = Trimmed(value); break;
        case Column::Kind: entry.kind = Trimmed(value); break;
        case Column::Options: entry.options = Trimmed(value); break;
        case Column::Other: break;
    }
}

BankFile ReadCsvBank(std::string_view text) {
    BankFile file;
    CsvTable table = ReadCsv(text);
    if (!table.ok) {
        file.error = table.error;
        return file;
    }
    if (table.rows.empty()) {
        file.error = "the file is empty";
        return file;
    }
    std::vector<Column> columns;
    bool hasQuestion = false, hasAnswer = false;
    for (const std::string& name : table.rows.front().fields) {
        columns.push_back(ColumnNamed(name));
        hasQuestion |= columns.back() == Column::Question;
        hasAnswer |= columns.back() == Column::Answer;
    }
    if (!hasQuestion || !hasAnswer) {
        file.error = "the header row must name a question column and an answer column";
        return file;
    }
    for (size_t r = 1; r < table.rows.size(); ++r) {
        BankFileEntry item;
        item.line = table.rows[r].line;
        const auto& fields = table.rows[r].fields;
        for (size_t c = 0; c < fields.size() && c < columns.size(); ++c) Assign(item.entry, columns[c], fields[c]);
        file.entries.push_back(std::move(item));
    }
    file.ok = true;
    return file;
}

std::string JsonFieldText(const nlohmann::json& value) {
    if (value.is_string()) return value.get_ref<const std::string&>();
    if (value.is_number() || value.is_boolean()) return value.dump();
    if (value.is_array()) {
        std::string joined;
        for (const auto& item : value) {
            if (!joined.empty()) joined += "|";
            joined += JsonFieldText(item);
        }
        return joined;
    }
    return {};
}

BankFile ReadJsonBank(std::string_view text) {
    BankFile file;
    nlohmann::json document = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (document.is_discarded()) {
        file.error = "not valid JSON";
        return file;
    }
    const nlohmann::json* list = &document;
    if (document.is_object() && document.contains("questions")) list = &document["questions"];
    if (!list->is_array()) {
        file.error = "expected an array of questions";
        return file;
    }
    size_t position = 0;
    for (const auto& item : *list) {
        BankFileEntry entry;
        entry.line = ++position;
        if (item.is_object()) {
            for (const auto& [name, value] : item.items()) Assign(entry.entry, ColumnNamed(name), JsonFieldText(value));
        }
        file.entries.push_back(std::move(entry));
    }
    file.ok = true;
    return file;
}

}  // namespace

BankFile ReadBankText(std::string_view text, BankFormat format) {
    text = WithoutByteOrderMark(text);
    return format == BankFormat::Json ? ReadJsonBank(text) : ReadCsvBank(text);
}

BankFile ReadBankFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        BankFile file;
        file.error = "cannot read " + path;
        return file;
    }
    std::ostringstream content;
    content << in.rdbuf();
    std::string text = content.str();
    std::string_view body = WithoutByteOrderMark(text);
    size_t first = body.find_first_not_of(" \t\r\n");
    bool json = (path.size() >= 5 && path.compare(path.size() - 5, 5, ".json") == 0) ||
                (first != std::string_view::npos && (body[first] == '[' || body[first] == '{'));
    return ReadBankText(text, json ? BankFormat::Json : BankFormat::Csv);
}

std::string CheckEntry(const BankEntry& entry) {
    for (const std::string* text : {&entry.question, &entry.answer, &entry.kind, &entry.options}) {
        if (!IsValidUtf8(*text)) return "text is not valid UTF-8";
    }
    if (NormalizeQuestionUtf8(entry.question).empty()) return "the question is empty";
    if (entry.answer.empty()) return "the answer is empty";
    if (entry.question.size() > kMaxQuestionBytes) return "the question is longer than 4000 bytes";
    if (entry.answer.size() + entry.options.size() > kMaxAnswerBytes) return "the answer is longer than 20000 bytes";
    // The tool looks for these words in the answer followed directly by the
    // title, so a word across the join counts as well.
    std::string probe = DisplayAnswer(entry) + entry.question;
    std::string_view word = FindRejectedWord(probe);
    if (!word.empty()) return "holds \"" + std::string(word) + "\", which the tool takes for a service notice";
    return {};
}

ImportSummary ImportBank(Connection& db, const BankFile& file, int64_t now) {
    ImportSummary summary;
    if (!file.ok) {
        summary.error = file.error;
        return summary;
    }
    if (!UpdateNormalForms(db)) {
        summary.error = "cannot bring the stored questions to the current normal form: " + db.Error();
        return summary;
    }
    // A question given twice keeps its last version, so importing the file
    // again finds everything unchanged.
    std::vector<const BankFileEntry*> chosen;
    std::map<std::string, size_t> position;  // normalised question to its place in chosen
    for (const BankFileEntry& item : file.entries) {
        std::string problem = CheckEntry(item.entry);
        if (!problem.empty()) {
            summary.warnings.push_back("line " + std::to_string(item.line) + ": skipped, " + problem);
            ++summary.skipped;
            continue;
        }
        std::string norm = EncodeUtf8(NormalizeQuestionUtf8(item.entry.question));
        auto [earlier, fresh] = position.emplace(norm, chosen.size());
        if (fresh) {
            chosen.push_back(&item);
            continue;
        }
        summary.warnings.push_back("line " + std::to_string(item.line) + ": replaces the same question of line " +
                                   std::to_string(chosen[earlier->second]->line));
        chosen[earlier->second] = &item;
    }
    // Several transactions, so that a server using the database can record
    // reports in between; importing again completes an interrupted import.
    for (size_t start = 0; start < chosen.size(); start += kEntriesPerTransaction) {
        Transaction transaction(db);
        if (!transaction.Begun()) {
            summary.error = "cannot write the database: " + db.Error();
            return summary;
        }
        size_t end = std::min(chosen.size(), start + kEntriesPerTransaction);
        for (size_t i = start; i < end; ++i) {
            switch (UpsertQuestion(db, chosen[i]->entry, now)) {
                case UpsertOutcome::Added: ++summary.added; break;
                case UpsertOutcome::Updated: ++summary.updated; break;
                case UpsertOutcome::Unchanged: ++summary.unchanged; break;
                case UpsertOutcome::Failed:
                    summary.error = "cannot write the database: " + db.Error();
                    return summary;
            }
        }
        if (!transaction.Commit()) {
            summary.error = "cannot commit the import: " + db.Error();
            return summary;
        }
    }
    if (summary.added || summary.updated) {
        Transaction transaction(db);
        if (!transaction.Begun() || !RefreshTrigramCounts(db) || !transaction.Commit()) {
            summary.error = "cannot count the bank's trigrams: " + db.Error();
            return summary;
        }
    }
    summary.ok = true;
    return summary;
}

}  // namespace kelvora

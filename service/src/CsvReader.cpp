#include "CsvReader.h"

namespace kelvora {

namespace {

char ChooseSeparator(std::string_view text) {
    std::string_view firstLine = text.substr(0, text.find('\n'));
    bool tabs = firstLine.find('\t') != std::string_view::npos;
    bool commas = firstLine.find(',') != std::string_view::npos;
    return tabs && !commas ? '\t' : ',';
}

bool IsBlank(const CsvRow& row) {
    for (const std::string& field : row.fields) {
        if (field.find_first_not_of(" \t") != std::string::npos) return false;
    }
    return true;
}

}  // namespace

CsvTable ReadCsv(std::string_view text) {
    CsvTable table;
    const char separator = ChooseSeparator(text);
    size_t line = 1;
    size_t i = 0;
    while (i < text.size()) {
        CsvRow row;
        row.line = line;
        std::string field;
        bool rowEnded = false;
        while (!rowEnded) {
            if (i < text.size() && text[i] == '"') {
                size_t quoteLine = line;
                ++i;
                for (;;) {
                    if (i >= text.size()) {
                        table.error = "line " + std::to_string(quoteLine) + ": quoted field is not closed";
                        return table;
                    }
                    char c = text[i++];
                    if (c == '"') {
                        if (i < text.size() && text[i] == '"') {
                            field.push_back('"');
                            ++i;
                            continue;
                        }
                        break;
                    }
                    if (c == '\n') ++line;
                    field.push_back(c);
                }
            }
            // Unquoted text, or what follows a closing quote up to the separator.
            while (i < text.size() && text[i] != separator && text[i] != '\n') field.push_back(text[i++]);
            if (!field.empty() && field.back() == '\r' && (i >= text.size() || text[i] == '\n')) field.pop_back();
            row.fields.push_back(std::move(field));
            field.clear();
            if (i >= text.size()) {
                rowEnded = true;
            } else if (text[i] == separator) {
                ++i;
            } else {
                ++i, ++line;
                rowEnded = true;
            }
        }
        if (!IsBlank(row)) table.rows.push_back(std::move(row));
    }
    table.ok = true;
    return table;
}

}  // namespace kelvora

#pragma once
// Rows of a CSV text as spreadsheets write it: fields separated by commas (or
// tabs when the first line has tabs and no commas), quoted fields with doubled
// quotes and line breaks inside, CRLF or LF line ends.
#include <string>
#include <string_view>
#include <vector>

namespace kelvora {

struct CsvRow {
    size_t line = 0;  // 1-based line where the row starts
    std::vector<std::string> fields;
};

struct CsvTable {
    bool ok = false;
    std::string error;
    std::vector<CsvRow> rows;
};

CsvTable ReadCsv(std::string_view text);

}  // namespace kelvora

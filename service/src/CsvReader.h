#pragma once
// Rows of a CSV text as spreadsheets write it: fields separated by commas (or
// tabs when the first line has tabs and no commas), quoted fields with doubled
// quotes and line breaks inside, CRLF or LF line ends.
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace kelvora {

struct CsvRow {
    size_t line = 0; // 1-based line where the row starts
    std::vector<std::string> fields;
    // The row was longer than the reader keeps: its fields are dropped, the
    // rows after it are read as usual.
    bool tooLong = false;
};

struct CsvTable {
    bool ok = false;
    std::string error;
    std::vector<CsvRow> rows;
};

CsvTable ReadCsv(std::string_view text);

// Reads rows one at a time from a stream, holding one row at most: a row of
// more than maxRowBytes bytes (or maxFields fields) comes back marked tooLong
// and empty, however long it is.
class CsvStream {
public:
    CsvStream(std::istream& in, size_t maxRowBytes, size_t maxFields = 1000);

    // The next row that is not blank; false at the end or on an error (see Error).
    bool Next(CsvRow& row);
    const std::string& Error() const { return error_; }

private:
    int Peek();
    int Get();
    void Append(std::string& field, char c);
    char ChooseSeparator();

    std::istream& in_;
    size_t maxRowBytes_;
    size_t maxFields_;
    char separator_ = 0;
    size_t line_ = 1;
    size_t rowBytes_ = 0;
    bool rowTooLong_ = false;
    std::string lookahead_; // bytes read ahead for choosing the separator
    size_t lookaheadAt_ = 0;
    std::string error_;
};

} // namespace kelvora

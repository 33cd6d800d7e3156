#include "CsvReader.h"

#include <sstream>

namespace kelvora {

namespace {

constexpr size_t SeparatorProbeBytes = 64 * 1024;

bool IsBlank(const CsvRow& row)
{
    if (row.tooLong)
        return false;
    for (const std::string& field : row.fields) {
        if (field.find_first_not_of(" \t") != std::string::npos)
            return false;
    }
    return true;
}

} // namespace

CsvStream::CsvStream(std::istream& in, size_t maxRowBytes, size_t maxFields)
    : in_(in), maxRowBytes_(maxRowBytes), maxFields_(maxFields)
{
}

int CsvStream::Peek()
{
    if (lookaheadAt_ < lookahead_.size())
        return static_cast<unsigned char>(lookahead_[lookaheadAt_]);
    return in_.peek();
}

int CsvStream::Get()
{
    if (lookaheadAt_ < lookahead_.size()) {
        int c = static_cast<unsigned char>(lookahead_[lookaheadAt_++]);
        if (lookaheadAt_ == lookahead_.size()) {
            lookahead_.clear();
            lookaheadAt_ = 0;
        }
        return c;
    }
    return in_.get();
}

void CsvStream::Append(std::string& field, char c)
{
    if (rowTooLong_)
        return;
    if (++rowBytes_ > maxRowBytes_) {
        rowTooLong_ = true;
        field.clear();
        field.shrink_to_fit();
        return;
    }
    field.push_back(c);
}

// Tabs separate when the first line has tabs and no commas; only its first
// 64 KB are looked at.
char CsvStream::ChooseSeparator()
{
    lookahead_.clear();
    lookaheadAt_ = 0;
    int c;
    while (lookahead_.size() < SeparatorProbeBytes && (c = in_.get()) != std::char_traits<char>::eof()) {
        lookahead_.push_back(static_cast<char>(c));
        if (c == '\n')
            break;
    }
    bool tabs = lookahead_.find('\t') != std::string::npos;
    bool commas = lookahead_.find(',') != std::string::npos;
    return tabs && !commas ? '\t' : ',';
}

bool CsvStream::Next(CsvRow& row)
{
    constexpr int End = std::char_traits<char>::eof();
    if (!error_.empty())
        return false;
    if (separator_ == 0)
        separator_ = ChooseSeparator();
    while (Peek() != End) {
        row.line = line_;
        row.fields.clear();
        row.tooLong = false;
        rowBytes_ = 0;
        rowTooLong_ = false;
        std::string field;
        bool rowEnded = false;
        while (!rowEnded) {
            if (Peek() == '"') {
                size_t quoteLine = line_;
                Get();
                for (;;) {
                    int c = Get();
                    if (c == End) {
                        error_ = "line " + std::to_string(quoteLine) + ": quoted field is not closed";
                        return false;
                    }
                    if (c == '"') {
                        if (Peek() == '"') {
                            Get();
                            Append(field, '"');
                            continue;
                        }
                        break;
                    }
                    if (c == '\n')
                        ++line_;
                    Append(field, static_cast<char>(c));
                }
            }
            // Unquoted text, or what follows a closing quote up to the separator.
            for (int c = Peek(); c != End && c != separator_ && c != '\n'; c = Peek()) {
                Append(field, static_cast<char>(Get()));
            }
            int next = Peek();
            if (!field.empty() && field.back() == '\r' && (next == End || next == '\n'))
                field.pop_back();
            if (!rowTooLong_ && row.fields.size() >= maxFields_) {
                rowTooLong_ = true;
                row.fields.clear();
            }
            if (!rowTooLong_)
                row.fields.push_back(std::move(field));
            ++rowBytes_; // the separator or line end
            field.clear();
            if (next == End) {
                rowEnded = true;
            } else if (next == separator_) {
                Get();
            } else {
                Get();
                ++line_;
                rowEnded = true;
            }
        }
        if (rowTooLong_) {
            row.fields.clear();
            row.tooLong = true;
        }
        if (!IsBlank(row))
            return true;
    }
    return false;
}

CsvTable ReadCsv(std::string_view text)
{
    CsvTable table;
    std::istringstream in{std::string(text)};
    CsvStream stream(in, text.size() + 1, text.size() + 1);
    CsvRow row;
    while (stream.Next(row))
        table.rows.push_back(std::move(row));
    if (!stream.Error().empty()) {
        table.error = stream.Error();
        table.rows.clear();
        return table;
    }
    table.ok = true;
    return table;
}

} // namespace kelvora

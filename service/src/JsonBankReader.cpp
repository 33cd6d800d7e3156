#include "JsonBankReader.h"

#include <deque>
#include <nlohmann/json.hpp>
#include <streambuf>
#include <vector>

#include "BankColumns.h"

namespace kelvora {

namespace {

constexpr size_t LongestNumber = 4096;

// Between the file and the parser: it follows the JSON text just enough to
// know strings and nesting, and keeps the parser from ever holding an
// overlong text (cut short at a character boundary, then closed) or
// descending too deep (the input ends there, and Error says why).
class JsonGuard : public std::streambuf {
public:
    JsonGuard(std::streambuf& source, JsonReadLimits limits) : source_(source), limits_(limits) {}

    const std::string& Error() const { return error_; }
    // Whether the text-th string of the input (keys included, counting from 0) was cut short.
    bool WasCut(size_t text)
    {
        while (!cut_.empty() && cut_.front() < text)
            cut_.pop_front();
        if (cut_.empty() || cut_.front() != text)
            return false;
        cut_.pop_front();
        return true;
    }

protected:
    int_type underflow() override
    {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());
        while (error_.empty()) {
            std::streamsize got = source_.sgetn(in_, sizeof in_);
            if (got <= 0)
                return traits_type::eof();
            size_t kept = 0;
            for (std::streamsize i = 0; i < got && error_.empty(); ++i)
                Filter(in_[i], kept);
            if (kept > 0) {
                setg(out_, out_, out_ + kept);
                return traits_type::to_int_type(*gptr());
            }
        }
        return traits_type::eof();
    }

private:
    static unsigned HexValue(char c)
    {
        if (c >= '0' && c <= '9')
            return static_cast<unsigned>(c - '0');
        if (c >= 'a' && c <= 'f')
            return static_cast<unsigned>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F')
            return static_cast<unsigned>(c - 'A' + 10);
        return 0;
    }

    void Stop(const std::string& why) { error_ = "line " + std::to_string(line_) + ": " + why; }

    void Filter(char c, size_t& kept)
    {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\n')
            ++line_;
        if (discarding_) {
            if (discardEscape_) {
                discardEscape_ = false;
            } else if (c == '\\') {
                discardEscape_ = true;
            } else if (c == '"') {
                discarding_ = false;
                inString_ = false;
                out_[kept++] = c;
            }
            return;
        }
        if (inString_) {
            if (escape_ == -1) {
                escape_ = c == 'u' ? 4 : 0;
                unit_ = 0;
                if (escape_ == 0)
                    afterHighSurrogate_ = false;
            } else if (escape_ > 0) {
                unit_ = unit_ * 16 + HexValue(c);
                if (--escape_ == 0)
                    afterHighSurrogate_ = unit_ >= 0xD800 && unit_ <= 0xDBFF;
            } else if (c == '"') {
                inString_ = false;
            } else if (stringBytes_ >= limits_.maxTextBytes && (byte & 0xC0) != 0x80 &&
                       !(afterHighSurrogate_ && c == '\\')) {
                // Cut here: not inside an escape, a UTF-8 sequence or an escaped surrogate pair.
                cut_.push_back(strings_ - 1);
                discarding_ = true;
                discardEscape_ = c == '\\';
                return;
            } else if (c == '\\') {
                escape_ = -1;
            }
            ++stringBytes_;
            out_[kept++] = c;
            return;
        }
        switch (c) {
        case '"':
            inString_ = true;
            stringBytes_ = 0;
            afterHighSurrogate_ = false;
            ++strings_;
            scalarBytes_ = 0;
            break;
        case '[':
        case '{':
            if (++depth_ > limits_.maxDepth) {
                return Stop("nested deeper than " + std::to_string(limits_.maxDepth) + " levels");
            }
            scalarBytes_ = 0;
            break;
        case ']':
        case '}':
            if (depth_ > 0)
                --depth_;
            scalarBytes_ = 0;
            break;
        case ',':
        case ':':
        case ' ':
        case '\t':
        case '\r':
        case '\n': scalarBytes_ = 0; break;
        default:
            if (++scalarBytes_ > LongestNumber) {
                return Stop("a number or word longer than " + std::to_string(LongestNumber) + " bytes");
            }
        }
        out_[kept++] = c;
    }

    std::streambuf& source_;
    JsonReadLimits limits_;
    char in_[64 * 1024];
    char out_[64 * 1024];
    std::string error_;
    size_t line_ = 1;
    size_t depth_ = 0;
    size_t strings_ = 0;
    size_t stringBytes_ = 0;
    size_t scalarBytes_ = 0;
    int escape_ = 0;                  // -1 after a backslash, then the hex digits of \u left
    unsigned unit_ = 0;               // the \u escape being read
    bool afterHighSurrogate_ = false; // the last escape opened a pair its partner must close
    bool inString_ = false;
    bool discarding_ = false;
    bool discardEscape_ = false;
    std::deque<size_t> cut_;
};

// The parser's events turned into entries; nothing is built beyond the entry being read.
class BankEvents {
public:
    using json = nlohmann::json;

    BankEvents(JsonGuard& guard, const std::function<bool(JsonBankItem&&)>& take, size_t maxTextBytes)
        : guard_(guard), take_(take), maxTextBytes_(maxTextBytes)
    {
    }

    bool SawList() const { return sawList_; }
    const std::string& Error() const { return error_; }

    bool null() { return Scalar(std::string()); }
    bool boolean(bool value) { return Scalar(value ? "true" : "false"); }
    bool number_integer(json::number_integer_t value) { return Scalar(std::to_string(value)); }
    bool number_unsigned(json::number_unsigned_t value) { return Scalar(std::to_string(value)); }
    bool number_float(json::number_float_t, const json::string_t& text) { return Scalar(text); }
    bool binary(json::binary_t&) { return Scalar(std::string()); }
    bool string(json::string_t& value)
    {
        NoteCut();
        return Scalar(std::move(value));
    }
    bool key(json::string_t& name)
    {
        NoteCut();
        key_ = std::move(name);
        return true;
    }
    bool start_object(std::size_t) { return Open(true); }
    bool start_array(std::size_t) { return Open(false); }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& problem)
    {
        error_ = guard_.Error().empty() ? "not valid JSON (byte " + std::to_string(position) + "): " + problem.what()
                                        : guard_.Error();
        return false;
    }

private:
    enum class Role { TopObject, List, Entry, FieldList, Ignored };

    void NoteCut()
    {
        if (guard_.WasCut(texts_++) && inEntry_) {
            item_.problem = "a text is longer than " + std::to_string(maxTextBytes_) + " bytes";
        }
    }

    bool Emit()
    {
        inEntry_ = false;
        return take_(std::move(item_));
    }

    void StartItem()
    {
        item_ = JsonBankItem{};
        item_.position = ++position_;
    }

    void Assign(std::string_view value) { AssignColumn(item_.entry, column_, value); }

    bool Scalar(std::string value)
    {
        if (roles_.empty())
            return true;
        switch (roles_.back()) {
        case Role::List:
            StartItem(); // not an object: an entry without texts
            return take_(std::move(item_));
        case Role::Entry:
            column_ = BankColumnNamed(key_);
            Assign(std::move(value));
            return true;
        case Role::FieldList:
            if (!joined_.empty())
                joined_ += "|";
            joined_ += value;
            return true;
        default: return true;
        }
    }

    bool Open(bool object)
    {
        Role role = Role::Ignored;
        if (roles_.empty()) {
            role = object ? Role::TopObject : Role::List;
        } else {
            switch (roles_.back()) {
            case Role::TopObject:
                if (!object && key_ == "questions" && !sawList_)
                    role = Role::List;
                break;
            case Role::List:
                StartItem();
                if (object) {
                    role = Role::Entry;
                    inEntry_ = true;
                } else if (!take_(std::move(item_))) {
                    return false;
                }
                break;
            case Role::Entry:
                column_ = BankColumnNamed(key_);
                if (object) {
                    Assign(std::string());
                } else {
                    role = Role::FieldList;
                    joined_.clear();
                }
                break;
            case Role::FieldList:
                if (!object)
                    role = Role::FieldList;
                break;
            case Role::Ignored: break;
            }
        }
        if (role == Role::List)
            sawList_ = true;
        roles_.push_back(role);
        return true;
    }

    bool Close()
    {
        if (roles_.empty())
            return true;
        Role closed = roles_.back();
        roles_.pop_back();
        if (closed == Role::Entry)
            return Emit();
        if (closed == Role::FieldList && !roles_.empty() && roles_.back() == Role::Entry)
            Assign(std::move(joined_));
        return true;
    }

    JsonGuard& guard_;
    const std::function<bool(JsonBankItem&&)>& take_;
    size_t maxTextBytes_;
    std::vector<Role> roles_; // as deep as the guard allows at most
    std::string key_;
    std::string joined_;
    BankColumn column_ = BankColumn::Other;
    JsonBankItem item_;
    size_t position_ = 0;
    size_t texts_ = 0;
    bool inEntry_ = false;
    bool sawList_ = false;
    std::string error_;
};

} // namespace

std::string ReadJsonBank(std::istream& in, const std::function<bool(JsonBankItem&&)>& take, JsonReadLimits limits)
{
    if (!in.rdbuf())
        return "cannot read the file";
    JsonGuard guard(*in.rdbuf(), limits);
    std::istream guarded(&guard);
    bool stopped = false;
    auto counting = [&](JsonBankItem&& item) {
        if (take(std::move(item)))
            return true;
        stopped = true;
        return false;
    };
    std::function<bool(JsonBankItem &&)> sink = counting;
    BankEvents reader(guard, sink, limits.maxTextBytes);
    bool parsed = nlohmann::json::sax_parse(guarded, &reader);
    if (stopped)
        return {};
    if (!parsed)
        return reader.Error().empty() ? "not valid JSON" : reader.Error();
    if (!reader.SawList())
        return "expected an array of questions";
    return {};
}

} // namespace kelvora

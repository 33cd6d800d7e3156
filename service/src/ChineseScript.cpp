#include "ChineseScript.h"

#include <opencc.h>
#include <opencc/Lexicon.hpp>
#include <opencc/MarisaDict.hpp>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "Utf8Text.h"

namespace kelvora {

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

// The converter is read-only once loaded, so all worker threads share one.
class SimplifiedConverter {
public:
    SimplifiedConverter() : converts_(0x10000, false)
    {
        const std::string dir = KELVORA_OPENCC_DATA_DIR;
        try {
            converter_ = std::make_unique<opencc::SimpleConverter>(dir + "/" + OPENCC_DEFAULT_CONFIG_TRAD_TO_SIMP);
            // Every character the tables convert; a phrase that holds none of
            // them yet converts marks its first character.
            MarkKeys(dir + "/TSCharacters.ocd2", false);
            MarkKeys(dir + "/TSPhrases.ocd2", true);
        } catch (...) {
            converter_.reset();
        }
    }

    bool Loaded() const { return converter_ != nullptr; }

    bool Converts(char32_t c) const
    {
        if (!converter_)
            return false;
        return c < converts_.size() ? converts_[c] : c >= 0x20000; // beyond the BMP: let the tables decide
    }

    // The usual simplified form of one character (its first in the tables).
    char32_t Usual(char32_t c) const
    {
        auto found = usual_.find(c);
        return found == usual_.end() ? c : found->second;
    }

    std::string Convert(std::string_view text) const
    {
        if (!converter_)
            return std::string(text);
        try {
            return converter_->Convert(text.data(), text.size());
        } catch (...) {
            return std::string(text);
        }
    }

private:
    void MarkKeys(const std::string& path, bool phrases)
    {
        std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
        if (!file)
            throw std::runtime_error("cannot read " + path);
        opencc::MarisaDictPtr dict = opencc::MarisaDict::NewFromFile(file.get());
        for (const auto& entry : *dict->GetLexicon()) {
            auto key = DecodeUtf8(entry->Key());
            if (!key || key->empty())
                continue;
            if (!phrases) {
                for (char32_t c : *key) {
                    if (c < converts_.size())
                        converts_[c] = true;
                }
                auto usual = DecodeUtf8(entry->GetDefault());
                if (key->size() == 1 && usual && usual->size() == 1)
                    usual_[key->front()] = usual->front();
            } else if (entry->GetDefault() != entry->Key() && !HoldsMarked(*key) && key->front() < converts_.size()) {
                converts_[key->front()] = true;
            }
        }
    }

    bool HoldsMarked(std::u32string_view text) const
    {
        for (char32_t c : text) {
            if (c < converts_.size() && converts_[c])
                return true;
        }
        return false;
    }

    std::unique_ptr<opencc::SimpleConverter> converter_;
    std::vector<bool> converts_; // by code point, within the BMP
    std::unordered_map<char32_t, char32_t> usual_;
};

constexpr size_t LongestFullConversion = 64;

const SimplifiedConverter& Converter()
{
    static const SimplifiedConverter converter;
    return converter;
}

} // namespace

bool HasTraditionalCharacters(std::u32string_view text)
{
    const SimplifiedConverter& converter = Converter();
    for (char32_t c : text) {
        if (c >= 0x80 && converter.Converts(c))
            return true;
    }
    return false;
}

std::string ToSimplified(std::string_view text)
{
    return Converter().Convert(text);
}

std::u32string ToSimplified(std::u32string_view text)
{
    const SimplifiedConverter& converter = Converter();
    std::u32string_view head = text.substr(0, LongestFullConversion);
    auto converted = DecodeUtf8(converter.Convert(EncodeUtf8(head)));
    std::u32string out = converted ? std::move(*converted) : std::u32string(head);
    for (char32_t c : text.substr(head.size()))
        out.push_back(converter.Usual(c));
    return out;
}

bool SimplifiedConversionAvailable()
{
    return Converter().Loaded();
}

} // namespace kelvora

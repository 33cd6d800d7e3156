#include "ChineseScript.h"

#include <opencc.h>

#include <memory>

namespace kelvora {

namespace {

// The converter is read-only once loaded, so all worker threads share one.
class SimplifiedConverter {
public:
    SimplifiedConverter() {
        for (const char* config : {OPENCC_DEFAULT_CONFIG_TRAD_TO_SIMP, "/usr/share/opencc/t2s.json"}) {
            try {
                converter_ = std::make_unique<opencc::SimpleConverter>(config);
                return;
            } catch (...) {
                converter_.reset();
            }
        }
    }
    bool Loaded() const { return converter_ != nullptr; }
    std::string Convert(std::string_view text) const {
        if (!converter_) return std::string(text);
        try {
            return converter_->Convert(text.data(), text.size());
        } catch (...) {
            return std::string(text);
        }
    }

private:
    std::unique_ptr<opencc::SimpleConverter> converter_;
};

const SimplifiedConverter& Converter() {
    static const SimplifiedConverter converter;
    return converter;
}

bool IsAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

}  // namespace

std::string ToSimplified(std::string_view text) {
    if (IsAscii(text)) return std::string(text);
    return Converter().Convert(text);
}

bool SimplifiedConversionAvailable() {
    return Converter().Loaded();
}

}  // namespace kelvora

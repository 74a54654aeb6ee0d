#include "Convert.h"

#include <cstdint>
#include <limits>

#include "Text.h"
#include "XmlDom.h"

namespace plat {
namespace {

[[noreturn]] void NullConversion(const char* targetType) {
    throw ConvertError(std::string("Could not convert variant of type (Null) into type (") + targetType + ")");
}

}  // namespace

std::optional<int> TryStrToInt(std::string_view text) {
    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    if (pos == text.size()) {
        return std::nullopt;
    }
    // Accumulate the magnitude in 64 bits and stop as soon as it leaves the
    // 32-bit range, so any number of digits is safe.
    const std::int64_t limit =
        negative ? -static_cast<std::int64_t>(std::numeric_limits<int>::min()) : std::numeric_limits<int>::max();
    std::int64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit) {
            return std::nullopt;
        }
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

int StrToInt(std::string_view text) {
    if (const auto value = TryStrToInt(text)) {
        return *value;
    }
    throw ConvertError("'" + std::string(text) + "' is not a valid integer value");
}

std::optional<bool> TryStrToBool(std::string_view text) {
    if (EqualsNoCase(text, "True")) {
        return true;
    }
    if (EqualsNoCase(text, "False")) {
        return false;
    }
    if (const auto number = TryStrToInt(text)) {
        return *number != 0;
    }
    return std::nullopt;
}

bool StrToBool(std::string_view text) {
    if (const auto value = TryStrToBool(text)) {
        return *value;
    }
    throw ConvertError("'" + std::string(text) + "' is not a valid boolean value");
}

std::string BoolToStr(bool value) { return value ? "True" : "False"; }

// A value that is there but does not convert reports the text itself, which
// tells the user which setting to mend.
int VarToInt(const xml::Node& node) {
    const std::string text = node.Text();
    if (text.empty()) {
        NullConversion("Integer");
    }
    return StrToInt(text);
}

bool VarToBool(const xml::Node& node) {
    const std::string text = node.Text();
    if (text.empty()) {
        NullConversion("Boolean");
    }
    return StrToBool(text);
}

bool VarIsNull(const xml::Node& node) { return node.Text().empty(); }

}  // namespace plat

#include "Format.h"

#include <cstddef>
#include <optional>

namespace plat {
namespace {

// Widths and precisions come from language files written by hand; a
// translator's "%99999999s" must fail, not allocate gigabytes.
constexpr std::size_t kMaxWidth = 4096;

[[noreturn]] void Invalid(std::string_view templ) {
    throw FormatError("Format '" + std::string(templ) + "' invalid or incompatible with argument");
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Widths and precisions count characters, not bytes, so a padded or cut
// UTF-8 text lines up and never loses half a character.
std::size_t CharCount(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) {
        if (!IsUtf8Continuation(c)) {
            ++count;
        }
    }
    return count;
}

std::string_view FirstChars(std::string_view text, std::size_t chars) {
    std::size_t pos = 0;
    std::size_t seen = 0;
    while (pos < text.size()) {
        if (!IsUtf8Continuation(text[pos])) {
            if (seen == chars) {
                break;
            }
            ++seen;
        }
        ++pos;
    }
    return text.substr(0, pos);
}

// The parts of one "%[index:][-][width][.precision]type" specifier.
struct Conversion {
    std::optional<std::size_t> index;
    bool leftJustify = false;
    std::size_t width = 0;
    std::optional<std::size_t> precision;
    char type = 0;  // lower case
};

class SpecReader {
public:
    SpecReader(std::string_view templ, std::size_t pos) : FTempl(templ), FPos(pos) {}

    // Reads the specifier after a '%'; FPos then stands after its type.
    Conversion Read() {
        Conversion conversion;
        std::optional<std::size_t> leading = Number();
        if (leading && Peek() == ':') {
            ++FPos;
            conversion.index = leading;
            leading.reset();
        }
        if (leading) {
            conversion.width = *leading;
        } else {
            if (Peek() == '-') {
                conversion.leftJustify = true;
                ++FPos;
            }
            conversion.width = Number().value_or(0);
        }
        if (Peek() == '.') {
            ++FPos;
            conversion.precision = Number().value_or(0);
        }
        if (FPos >= FTempl.size()) {
            Invalid(FTempl);
        }
        char type = FTempl[FPos++];
        if (type >= 'A' && type <= 'Z') {
            type = static_cast<char>(type - 'A' + 'a');
        }
        if (type != 'd' && type != 'u' && type != 'x' && type != 's') {
            Invalid(FTempl);
        }
        conversion.type = type;
        return conversion;
    }

    std::size_t Position() const { return FPos; }

private:
    char Peek() const { return FPos < FTempl.size() ? FTempl[FPos] : '\0'; }

    std::optional<std::size_t> Number() {
        if (!IsDigit(Peek())) {
            return std::nullopt;
        }
        std::size_t value = 0;
        while (IsDigit(Peek())) {
            value = value * 10 + static_cast<std::size_t>(FTempl[FPos] - '0');
            if (value > kMaxWidth) {
                Invalid(FTempl);
            }
            ++FPos;
        }
        return value;
    }

    std::string_view FTempl;
    std::size_t FPos;
};

std::string Digits(std::uint64_t value, unsigned base) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), kDigits[value % base]);
        value /= base;
    } while (value != 0);
    return out;
}

std::uint64_t AsUnsigned(const FormatArg& arg) {
    if (arg.Bits() == 32) {
        return static_cast<std::uint32_t>(arg.Number());
    }
    return static_cast<std::uint64_t>(arg.Number());
}

std::string Convert(const Conversion& conversion, const FormatArg& arg, std::string_view templ) {
    if (conversion.type == 's') {
        if (!arg.IsText()) {
            Invalid(templ);
        }
        std::string_view text = arg.Text();
        if (conversion.precision) {
            text = FirstChars(text, *conversion.precision);
        }
        return std::string(text);
    }
    if (arg.IsText()) {
        Invalid(templ);
    }
    std::string sign;
    std::string digits;
    if (conversion.type == 'd') {
        const std::int64_t n = arg.Number();
        // Negate through unsigned so the smallest 64-bit value survives.
        const std::uint64_t magnitude = n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
        digits = Digits(magnitude, 10);
        if (n < 0) {
            sign = "-";
        }
    } else {
        digits = Digits(AsUnsigned(arg), conversion.type == 'x' ? 16 : 10);
    }
    // For numbers the precision is a minimum count of digits.
    if (conversion.precision && digits.size() < *conversion.precision) {
        digits.insert(0, *conversion.precision - digits.size(), '0');
    }
    return sign + digits;
}

}  // namespace

std::string Format(std::string_view templ, const std::vector<FormatArg>& args) {
    std::string out;
    out.reserve(templ.size());
    std::size_t nextArg = 0;
    std::size_t pos = 0;
    while (pos < templ.size()) {
        const std::size_t percent = templ.find('%', pos);
        if (percent == std::string_view::npos) {
            out.append(templ.substr(pos));
            break;
        }
        out.append(templ.substr(pos, percent - pos));
        if (percent + 1 < templ.size() && templ[percent + 1] == '%') {
            out.push_back('%');
            pos = percent + 2;
            continue;
        }
        SpecReader reader(templ, percent + 1);
        const Conversion conversion = reader.Read();
        pos = reader.Position();

        // An index moves the argument cursor: later plain specifiers go on
        // from the argument after it.
        const std::size_t argIndex = conversion.index.value_or(nextArg);
        if (argIndex >= args.size()) {
            Invalid(templ);
        }
        nextArg = argIndex + 1;

        const std::string value = Convert(conversion, args[argIndex], templ);
        const std::size_t chars = CharCount(value);
        const std::size_t padding = conversion.width > chars ? conversion.width - chars : 0;
        if (!conversion.leftJustify) {
            out.append(padding, ' ');
        }
        out.append(value);
        if (conversion.leftJustify) {
            out.append(padding, ' ');
        }
    }
    return out;
}

}  // namespace plat

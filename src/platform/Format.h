// The runtime's format routine: "%s", "%d", "%u", "%x", "%%" with the index,
// width, precision and left-justify forms ("%1:s", "%5d", "%.3d", "%-10s",
// "%*d" is not supported). Language files carry their messages as such
// templates, so a translator's mistake must fail clearly, never crash.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// Raised when a template does not match its arguments (too few arguments, a
// string given for "%d", an unknown conversion); the message names the
// template.
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One argument: a text or an integer.
class FormatArg {
public:
    FormatArg(std::string_view text) : FIsText(true), FText(text) {}
    FormatArg(const std::string& text) : FIsText(true), FText(text) {}
    FormatArg(const char* text) : FIsText(true), FText(text ? text : "") {}
    FormatArg(int value) : FNumber(value), FBits(32) {}
    FormatArg(long value) : FNumber(value), FBits(sizeof(long) * 8) {}
    FormatArg(long long value) : FNumber(value) {}
    FormatArg(unsigned value) : FNumber(value), FBits(32) {}
    FormatArg(unsigned long value) : FNumber(static_cast<std::int64_t>(value)), FBits(sizeof(long) * 8) {}

    bool IsText() const { return FIsText; }
    const std::string& Text() const { return FText; }
    std::int64_t Number() const { return FNumber; }
    // Width of the argument's own type: "%u" and "%x" show a negative
    // number as the unsigned value of that width ("%x" of int -1 is
    // "FFFFFFFF", of a 64-bit -1 sixteen F's).
    int Bits() const { return FBits; }

private:
    bool FIsText = false;
    std::string FText;
    std::int64_t FNumber = 0;
    int FBits = 64;
};

std::string Format(std::string_view templ, const std::vector<FormatArg>& args);

}  // namespace plat

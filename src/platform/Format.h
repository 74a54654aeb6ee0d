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
    FormatArg(std::string_view text) : isText_(true), text_(text) {}
    FormatArg(const std::string& text) : isText_(true), text_(text) {}
    FormatArg(const char* text) : isText_(true), text_(text ? text : "") {}
    FormatArg(int value) : number_(value), bits_(32) {}
    FormatArg(long value) : number_(value), bits_(sizeof(long) * 8) {}
    FormatArg(long long value) : number_(value) {}
    FormatArg(unsigned value) : number_(value), bits_(32) {}
    FormatArg(unsigned long value) : number_(static_cast<std::int64_t>(value)), bits_(sizeof(long) * 8) {}

    bool IsText() const { return isText_; }
    const std::string& Text() const { return text_; }
    std::int64_t Number() const { return number_; }
    // Width of the argument's own type: "%u" and "%x" show a negative
    // number as the unsigned value of that width ("%x" of int -1 is
    // "FFFFFFFF", of a 64-bit -1 sixteen F's).
    int Bits() const { return bits_; }

private:
    bool isText_ = false;
    std::string text_;
    std::int64_t number_ = 0;
    int bits_ = 64;
};

std::string Format(std::string_view templ, const std::vector<FormatArg>& args);

}  // namespace plat

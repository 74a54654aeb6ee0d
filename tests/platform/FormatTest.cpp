#include "Format.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using plat::Format;
using plat::FormatArg;
using plat::FormatError;

namespace {

struct FormatCase {
    const char* templ;
    std::vector<FormatArg> args;
    const char* expected;
};

TEST(Format, ProducesTheExpectedText) {
    const std::vector<FormatCase> cases = {
        // The messages the program itself formats.
        {"Updating %s", {"Heise"}, "Updating Heise"},
        {"%s: %d new items", {"Heise", 3}, "Heise: 3 new items"},
        {"Failed %s", {"Heise - Timeout"}, "Failed Heise - Timeout"},
        {"no specifiers at all", {}, "no specifiers at all"},
        {"", {}, ""},
        {"100%%", {}, "100%"},
        {"%%s stays literal", {}, "%s stays literal"},
        // Integers.
        {"%d", {-42}, "-42"},
        {"%d", {INT_MIN}, "-2147483648"},
        {"%d", {LLONG_MIN}, "-9223372036854775808"},
        {"%u", {42u}, "42"},
        {"%u", {-1}, "4294967295"},
        {"%u", {-1LL}, "18446744073709551615"},
        {"%x", {255}, "FF"},
        {"%X", {255}, "FF"},
        {"%x", {-1}, "FFFFFFFF"},
        {"%x", {-1LL}, "FFFFFFFFFFFFFFFF"},
        {"%D items", {7}, "7 items"},
        // Width, left-justification and precision.
        {"[%5d]", {42}, "[   42]"},
        {"[%-5d]", {42}, "[42   ]"},
        {"[%05d]", {42}, "[   42]"},  // a leading zero is part of the width, not a flag
        {"[%.3d]", {5}, "[005]"},
        {"[%.3d]", {-5}, "[-005]"},
        {"[%6.3d]", {-5}, "[  -005]"},
        {"[%.3d]", {12345}, "[12345]"},
        {"[%.4x]", {255}, "[00FF]"},
        {"[%1d]", {12345}, "[12345]"},
        {"[%-10s]", {"abc"}, "[abc       ]"},
        {"[%10s]", {"abc"}, "[       abc]"},
        {"[%.3s]", {"abcdef"}, "[abc]"},
        {"[%.10s]", {"abc"}, "[abc]"},
        {"[%.0s]", {"abc"}, "[]"},
        {"[%5.2s]", {"abc"}, "[   ab]"},
        // Width and precision count characters, so UTF-8 is never cut
        // inside a character.
        {"[%.2s]", {"\xC3\xA4\xC3\xB6\xC3\xBC"}, "[\xC3\xA4\xC3\xB6]"},
        {"[%4s]", {"\xC3\xA4\xC3\xB6"}, "[  \xC3\xA4\xC3\xB6]"},
        // Index forms: later plain specifiers carry on after the index.
        {"%1:s %0:s", {"a", "b"}, "b a"},
        {"%1:s %s", {"a", "b", "c"}, "b c"},
        {"%0:s %0:s", {"x"}, "x x"},
        {"%1:-4s|", {"a", "b"}, "b   |"},
        {"%1:5d", {0, 42}, "   42"},
        // Spare arguments are ignored.
        {"%s", {"a", "b"}, "a"},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(Format(c.templ, c.args), c.expected) << "template " << c.templ;
    }
}

TEST(Format, RejectsTemplatesThatDoNotMatchTheArguments) {
    const std::vector<FormatCase> cases = {
        {"Updated %d", {}, nullptr},         // too few arguments
        {"%s and %s", {"one"}, nullptr},     // runs out half way
        {"Updated %d", {"Heise"}, nullptr},  // a text for a number
        {"%u", {"1"}, nullptr},
        {"%x", {"1"}, nullptr},
        {"Updated %s", {42}, nullptr},  // a number for a text
        {"%f", {1}, nullptr},           // conversions this routine does not know
        {"%e", {1}, nullptr},
        {"%q", {1}, nullptr},
        {"%*d", {5, 1}, nullptr},      // star widths are not supported
        {"trailing %", {1}, nullptr},  // dangling specifier
        {"%-", {1}, nullptr},
        {"%5", {1}, nullptr},
        {"%.", {1}, nullptr},
        {"%1:", {1, 2}, nullptr},
        {"%2:s", {"a", "b"}, nullptr},               // index beyond the arguments
        {"%1:s %s", {"a", "b"}, nullptr},            // continuing after the last one
        {"%5-d", {1}, nullptr},                      // '-' belongs before the width
        {"%99999999999999999999s", {"a"}, nullptr},  // absurd widths fail, not allocate
        {"%.99999s", {"a"}, nullptr},
    };
    for (const FormatCase& c : cases) {
        EXPECT_THROW(Format(c.templ, c.args), FormatError) << "template " << c.templ;
    }
}

TEST(Format, ErrorNamesTheTemplate) {
    try {
        Format("Updated %d", {"Heise"});
        FAIL() << "no FormatError";
    } catch (const FormatError& e) {
        EXPECT_STREQ(e.what(), "Format 'Updated %d' invalid or incompatible with argument");
    }
}

TEST(Format, LargeButSaneWidthPads) {
    const std::string out = Format("%4000s", {"x"});
    ASSERT_EQ(out.size(), 4000u);
    EXPECT_EQ(out.back(), 'x');
    EXPECT_EQ(out.find_first_not_of(' '), 3999u);
}

TEST(Format, TemplateMayContainNulAndHighBytes) {
    const std::string templ("a\0%s\xFF", 5);
    EXPECT_EQ(Format(templ, {"b"}), std::string("a\0b\xFF", 4));
}

}  // namespace

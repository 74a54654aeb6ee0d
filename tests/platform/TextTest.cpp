#include "Text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>

#include "TimeBound.h"

using namespace plat;

namespace {

const std::string kUtf8 = "Gr\xC3\xBC\xC3\x9F\x65 \xC3\x84\xE2\x82\xAC";  // "Grüße Ä€": upper-case Ä is two bytes
const std::string kNbsp = "\xC2\xA0";

// Every helper that maps a text to a text, by name; each row of the table
// names the helper it exercises.
const std::map<std::string, std::function<std::string(std::string_view)>> kHelpers = {
    {"lower", [](std::string_view t) { return AsciiLower(t); }},
    {"lower in place",
     [](std::string_view t) {
         std::string s(t);
         AsciiLowerInPlace(s);
         return s;
     }},
    {"trim", [](std::string_view t) { return std::string(Trim(t)); }},
    {"trim left", [](std::string_view t) { return std::string(TrimLeft(t)); }},
    {"trim right", [](std::string_view t) { return std::string(TrimRight(t)); }},
    {"trim xml", [](std::string_view t) { return std::string(Trim(t, Blanks::Xml)); }},
    {"trim html", [](std::string_view t) { return std::string(Trim(t, Blanks::Html)); }},
    {"skip bom", [](std::string_view t) { return std::string(SkipByteOrderMarkAndBlanks(t)); }},
    {"collapse", [](std::string_view t) { return CollapseBlanks(t); }},
    {"collapse xml", [](std::string_view t) { return CollapseBlanks(t, Blanks::Xml); }},
    {"collapse html", [](std::string_view t) { return CollapseBlanks(t, Blanks::Html); }},
    {"strip", [](std::string_view t) { return StripTags(t); }},
    {"strip 3", [](std::string_view t) { return StripTags(t, 3); }},
    {"strip 0", [](std::string_view t) { return StripTags(t, 0); }},
};

TEST(Text, TextHelpers) {
    struct Row {
        const char* helper;
        std::string input;
        std::string expected;
    };
    const Row rows[] = {
        {"lower", "MiXeD Case 123 <A HREF>", "mixed case 123 <a href>"},
        {"lower", kUtf8, "gr\xC3\xBC\xC3\x9F\x65 \xC3\x84\xE2\x82\xAC"},  // only ASCII letters change
        {"lower in place", "ABC\xC3\x84Z", "abc\xC3\x84z"},
        {"trim", " \t\r\n\f\vword  word\v\f\n\r\t ", "word  word"},
        {"trim", " \t\n ", ""},
        {"trim", kNbsp + "x" + kNbsp, kNbsp + "x" + kNbsp},  // a no-break space is text
        {"trim left", "  a b  ", "a b  "},
        {"trim right", "  a b  ", "  a b"},
        {"trim xml", "\f\v x \v\f", "\f\v x \v\f"},
        {"trim xml", "\r\n\t x \t\n\r", "x"},
        {"trim html", "\f\v x \v\f", "\v x \v"},
        {"skip bom", "\xEF\xBB\xBF \r\n<rss>", "<rss>"},
        {"skip bom", " \xEF\xBB\xBF<rss>", "\xEF\xBB\xBF<rss>"},  // only a leading mark
        {"collapse", "  one\t\ttwo \r\n three\f\vfour  ", "one two three four"},
        {"collapse", "\n\t  \r", ""},
        {"collapse", kUtf8 + "\n\n" + kUtf8, kUtf8 + " " + kUtf8},
        {"collapse xml", "a\vb \f c", "a\vb \f c"},
        {"collapse html", "a\vb \f c", "a\vb c"},
        {"strip", "<p>Hello <b>big</b> world</p>", "Hello big world"},
        {"strip", "x > y", "x  y"},
        {"strip", "open <tag never closed", "open "},
        {"strip", "<<<>>>", ""},
        {"strip 3",
         "<i>\xE2\x82\xAC"
         "b</i>"
         "\xC3\xA9"
         "d",
         "\xE2\x82\xAC"
         "b\xC3\xA9"},  // whole characters
        {"strip 0", "<i>abc</i>", ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(kHelpers.at(row.helper)(row.input), row.expected) << row.helper << ": '" << row.input << "'";
    for (const auto& [name, helper] : kHelpers) EXPECT_EQ(helper(""), "") << name;
}

TEST(Text, CaseInsensitiveComparison) {
    struct Row {
        std::string a, b;
        bool equal, startsWith;  // EqualsNoCase(a, b), StartsWithNoCase(a, b)
    };
    const Row rows[] = {
        {"HTTP://Example", "http://example", true, true},
        {"https://x", "HTTPS:", false, true},
        {"http", "https", false, false},
        {"", "", true, true},
        {"abc", "", false, true},
        {"\xC3\x84", "\xC3\xA4", false, false},  // Ä and ä: not ASCII, so not the same letter here
        {kUtf8, "GR\xC3\xBC", false, true},
        {"[", "{", false, false},  // 0x5B and 0x7B differ by 0x20 but are no letters
    };
    for (const Row& row : rows) {
        EXPECT_EQ(EqualsNoCase(row.a, row.b), row.equal) << row.a << " / " << row.b;
        EXPECT_EQ(EqualsNoCase(row.b, row.a), row.equal) << row.b << " / " << row.a;
        EXPECT_EQ(StartsWithNoCase(row.a, row.b), row.startsWith) << row.a << " / " << row.b;
    }
}

TEST(Text, BlanksOfEachKind) {
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        const bool xml = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        EXPECT_EQ(IsBlank(c, Blanks::Xml), xml) << byte;
        EXPECT_EQ(IsBlank(c, Blanks::Html), xml || c == '\f') << byte;
        EXPECT_EQ(IsBlank(c), xml || c == '\f' || c == '\v') << byte;
    }
}

TEST(Text, HostileSizesStayLinear) {
    const std::string brackets(5'000'000, '<');
    const std::string blanks(5'000'000, ' ');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(StripTags(brackets), "");
    EXPECT_EQ(StripTags(brackets + "x>" + std::string(10, 'y'), 4), "yyyy");
    EXPECT_EQ(CollapseBlanks(blanks + "x" + blanks + "y" + blanks), "x y");
    EXPECT_EQ(Trim(blanks), "");
    EXPECT_EQ(AsciiLower(brackets).size(), brackets.size());
    EXPECT_LT(std::chrono::steady_clock::now() - start, testsupport::TimeBound(std::chrono::seconds(1)));
}

}  // namespace

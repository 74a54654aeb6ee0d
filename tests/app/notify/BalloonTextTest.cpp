// The balloon text for many new items: built from no more titles than the
// balloon can show, and each title fitted without measuring every cut of it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Text.h"
#include "TextFit.h"

namespace {

// The fitting as first described: cut, measure, repeat.
std::string PlainFit(const std::string& text, int width, const textfit::TTextMeasure& measure) {
    std::string result = text;
    bool shortened = false;
    while (!result.empty() && measure(result) > width) {
        result = textfit::CutText(result, static_cast<long long>(result.size()) - 1);
        shortened = true;
    }
    return shortened ? result + "..." : result;
}

// Characters of different widths, as a proportional font has them; a
// multi-byte character counts as one wide one.
int Pixels(const std::string& s) {
    int width = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) == 0x80) continue;
        width += c >= 0x80 ? 12 : c == 'i' || c == 'l' || c == ' ' ? 3 : c >= 'A' && c <= 'Z' ? 9 : 7;
    }
    return width;
}

TEST(BalloonText, FittingGivesWhatCuttingOneStepAtATimeGives) {
    const std::string euro = "\xE2\x82\xAC";
    const std::vector<std::string> texts = {
        "",
        "a",
        "abc",
        "Short title",
        "A title that is far too long for one line of a balloon hint, with more words",
        std::string(200, 'i') + std::string(200, 'W'),
        euro + "uro " + euro + euro + " prices " + euro + " rise again and again " + euro + euro + euro,
        "\xF0\x9F\x93\xB0 Emoji \xF0\x9F\x93\xB0 news \xF0\x9F\x93\xB0\xF0\x9F\x93\xB0 everywhere today",
    };
    for (const std::string& text : texts)
        for (int width : {0, 1, 7, 20, 50, 100, 250, 5000})
            EXPECT_EQ(textfit::FitTextWidth(text, width, Pixels), PlainFit(text, width, Pixels))
                << "\"" << text << "\" in " << width;
}

TEST(BalloonText, AHugeTitleIsFittedByMeasuringFewShortBeginnings) {
    const std::string title(300000, 'x');
    int calls = 0;
    std::size_t longest = 0;
    const auto measure = [&](const std::string& s) {
        ++calls;
        longest = std::max(longest, s.size());
        return Pixels(s);
    };
    EXPECT_EQ(textfit::FitTextWidth(title, 250, measure), PlainFit(title.substr(0, 300), 250, Pixels));
    EXPECT_LE(calls, 40);
    EXPECT_LE(longest, 200u);
}

TEST(BalloonText, OnlyTheTitlesTheBalloonCanShowAreBuilt) {
    constexpr int kTitles = 100000;
    int asked = 0;
    const auto title = [&asked](int i) {
        ++asked;
        return "Story " + std::to_string(i) + " of a long night with many, many stories in it";
    };
    const std::string lines = textfit::FittedTitleLines(title, kTitles, 250, Pixels, 255);
    EXPECT_LE(asked, 20) << "titles built that the balloon cannot show";

    // What the balloon shows is what building every line would show.
    std::string all;
    for (int i = 0; i < 50; ++i) all += PlainFit(title(i), 250, Pixels) + "\n";
    ASSERT_GE(textfit::CharCount(lines), 255u);
    EXPECT_EQ(lines.substr(0, 255), all.substr(0, 255));
    EXPECT_EQ(lines, all.substr(0, lines.size())) << "lines end whole, each with its line break";

    // Fewer titles than fit: every one of them, each line ending in "\n".
    EXPECT_EQ(textfit::FittedTitleLines([](int i) { return std::string(1, char('A' + i)); }, 3, 250, Pixels, 255),
              "A\nB\nC\n");
    EXPECT_EQ(textfit::FittedTitleLines(title, 0, 250, Pixels, 255), "");
}

TEST(BalloonText, ADescriptionIsStrippedOnlyAsFarAsTheBalloonShows) {
    const std::string euro = "\xE2\x82\xAC";
    std::string description;
    for (int i = 0; i < 100000; ++i) description += "<p>" + euro + "1 <b>off</b></p>";
    const std::string stripped = plat::StripTags(description, 255);
    EXPECT_EQ(textfit::CharCount(stripped), 255u);
    EXPECT_EQ(stripped, plat::StripTags(description).substr(0, stripped.size()));
    // Never half a character at the end.
    EXPECT_EQ(plat::StripTags(euro + euro + euro, 2), euro + euro);
    EXPECT_EQ(plat::StripTags("<i>abc</i>", 0), "");
    EXPECT_EQ(plat::StripTags("ab<i>c</i>", 5), "abc");
}

}  // namespace

namespace {

// A text longer than the balloon shows is cut after a whole word, with an
// ellipsis, within the limit; one that fits stays as it is.
TEST(BalloonText, ALongTextIsCutAtAWordWithAnEllipsis) {
    const std::string euro = "\xE2\x82\xAC";
    const struct {
        std::string text;
        std::size_t limit;
        std::string cut;
    } cases[] = {
        {"short enough", 20, "short enough"},
        {"exactly ten", 11, "exactly ten"},
        {"the harbour master speaks", 18, "the harbour\u2026"},
        {"the harbour master speaks", 13, "the harbour\u2026"},  // the blank falls just at the cut
        {"one\nline after another", 12, "one\nline\u2026"},
        {"Donaudampfschifffahrt", 8, "Donauda\u2026"},  // one word: cut inside it
        {euro + euro + euro + " " + euro + euro, 5, euro + euro + euro + "\u2026"},
        {"anything", 0, ""},
    };
    for (const auto& c : cases) {
        const std::string cut = textfit::CutAtWord(c.text, c.limit);
        EXPECT_EQ(cut, c.cut) << c.text << " / " << c.limit;
        EXPECT_LE(textfit::CharCount(cut), c.limit) << c.text;
    }
}

}  // namespace

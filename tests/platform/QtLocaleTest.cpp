#include "QtLocale.h"

#include <gtest/gtest.h>

#include <vector>

using plat::NativeLanguageName;

namespace {

TEST(NativeLanguageName, PlainLanguageNameWithCapital) {
    struct Case {
        std::uint32_t lcid;
        const char* name;
    };
    const std::vector<Case> cases = {
        // Not "American English" or "British English": the menu lists
        // languages, not countries.
        {1033, "English"},
        {2057, "English"},
        {1031, "Deutsch"},
        {3079, "Deutsch"},
        {1036, "Français"},
        {3084, "Français"},
        {3082, "Español"},
        {2070, "Português"},
        {1043, "Nederlands"},
        {2067, "Nederlands"},
        {1049, "Русский"},
        {1041, "日本語"},
        // The script makes the difference in Chinese, and is kept.
        {2052, "简体中文"},
        {1028, "繁體中文"},
        // Persian's two locales disagree (Iran: Farsi, Afghanistan: Dari);
        // the locale's own name wins.
        {1065, "فارسی"},
        // Georgian capitals do not start words; title case keeps the letter.
        {1079, "ქართული"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NativeLanguageName(c.lcid), QString::fromUtf8(c.name)) << c.lcid;
    }
}

TEST(NativeLanguageName, UnknownIdentifierFallsBackToHex) {
    EXPECT_EQ(NativeLanguageName(0x9999), "9999");
    EXPECT_EQ(NativeLanguageName(0x0C1), "00C1");
    EXPECT_EQ(NativeLanguageName(0x12345), "12345");
}

}  // namespace

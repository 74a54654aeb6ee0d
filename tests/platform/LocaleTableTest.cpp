#include "LocaleTable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace plat;

namespace {

TEST(LocaleTable, KnownIdentifiersBothWays) {
    struct Case {
        std::uint32_t lcid;
        const char* name;
    };
    const std::vector<Case> cases = {
        {1033, "en-US"}, {1031, "de-DE"}, {2057, "en-GB"}, {1036, "fr-FR"}, {3084, "fr-CA"}, {3082, "es-ES"},
        {1040, "it-IT"}, {1043, "nl-NL"}, {1046, "pt-BR"}, {2070, "pt-PT"}, {1053, "sv-SE"}, {1030, "da-DK"},
        {1044, "nb-NO"}, {1035, "fi-FI"}, {1045, "pl-PL"}, {1029, "cs-CZ"}, {1051, "sk-SK"}, {1038, "hu-HU"},
        {1048, "ro-RO"}, {1049, "ru-RU"}, {1058, "uk-UA"}, {1032, "el-GR"}, {1055, "tr-TR"}, {1037, "he-IL"},
        {1025, "ar-SA"}, {1041, "ja-JP"}, {2052, "zh-CN"}, {1028, "zh-TW"}, {1042, "ko-KR"}, {1054, "th-TH"},
        {1066, "vi-VN"}, {1057, "id-ID"}, {1081, "hi-IN"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LocaleNameFromLCID(c.lcid), c.name) << c.lcid;
        EXPECT_EQ(LCIDFromLocaleName(c.name), c.lcid) << c.name;
    }
}

TEST(LocaleTable, EveryNameLeadsBackToAnIdentifierOfThatName) {
    // Scan the identifier space: each listed name must map back to an
    // identifier with the same name (Spanish has two).
    std::set<std::string> names;
    for (std::uint32_t lcid = 0; lcid < 0x10000; ++lcid) {
        const std::string name = LocaleNameFromLCID(lcid);
        if (name.empty()) {
            continue;
        }
        names.insert(name);
        const std::uint32_t back = LCIDFromLocaleName(name);
        EXPECT_EQ(LocaleNameFromLCID(back), name) << lcid;
    }
    EXPECT_GE(names.size(), 40u);
    EXPECT_EQ(LocaleNameFromLCID(1034), "es-ES");  // traditional sort order
}

TEST(LocaleTable, SystemSpellingsOfLocaleNames) {
    struct Case {
        const char* name;
        std::uint32_t lcid;
    };
    const std::vector<Case> cases = {
        {"de_DE", 1031},       {"de_DE.UTF-8", 1031}, {"de_DE.utf8", 1031},
        {"de_DE@euro", 1031},  {"DE-de", 1031},       {"de", 1031},
        {"de_LU", 1031},       {"en", 1033},          {"en_GB.UTF-8", 2057},
        {"en_IE", 6153},       {"en_PH", 1033},       {"fr", 1036},
        {"fr_CA.UTF-8", 3084}, {"es", 3082},          {"pt", 1046},
        {"pt_PT", 2070},       {"zh", 2052},          {"zh_TW.Big5", 1028},
        {"no_NO", 1044},       {"iw_IL", 1037},       {"C", 0},
        {"POSIX", 0},          {"C.UTF-8", 0},        {"", 0},
        {"xx_YY", 0},          {"klingon", 0},        {"_", 0},
        {".UTF-8", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LCIDFromLocaleName(c.name), c.lcid) << "'" << c.name << "'";
    }
    EXPECT_EQ(LocaleNameFromLCID(0), "");
    EXPECT_EQ(LocaleNameFromLCID(0x9999), "");
    EXPECT_EQ(LocaleNameFromLCID(kLcidUserDefault), "");
}

// Sets the locale variables for one test and puts them back afterwards.
class LocaleEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kVariables) {
            const char* value = std::getenv(name);
            FSaved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
            unsetenv(name);
        }
    }
    void TearDown() override {
        for (std::size_t i = 0; i < std::size(kVariables); ++i) {
            if (FSaved[i]) {
                setenv(kVariables[i], FSaved[i]->c_str(), 1);
            } else {
                unsetenv(kVariables[i]);
            }
        }
    }
    static void Set(const char* all, const char* messages, const char* lang) {
        const char* values[] = {all, messages, lang};
        for (std::size_t i = 0; i < std::size(kVariables); ++i) {
            if (values[i]) {
                setenv(kVariables[i], values[i], 1);
            } else {
                unsetenv(kVariables[i]);
            }
        }
    }

    static constexpr const char* kVariables[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::optional<std::string>> FSaved;
};

TEST_F(LocaleEnvironment, DefaultsFollowThePosixOrder) {
    struct Case {
        const char* all;
        const char* messages;
        const char* lang;
        std::uint32_t lcid;
    };
    const std::vector<Case> cases = {
        {nullptr, nullptr, nullptr, 1033},
        {nullptr, nullptr, "de_DE.UTF-8", 1031},
        {nullptr, "fr_FR.UTF-8", "de_DE.UTF-8", 1036},
        {"ja_JP.UTF-8", "fr_FR.UTF-8", "de_DE.UTF-8", 1041},
        {"", "", "de_DE.UTF-8", 1031},        // empty counts as unset
        {"C", nullptr, "de_DE.UTF-8", 1033},  // a set LC_ALL decides, even "C"
        {nullptr, nullptr, "POSIX", 1033},
        {nullptr, nullptr, "C.UTF-8", 1033},
        {nullptr, nullptr, "xx_YY.UTF-8", 1033},  // unknown: English
        {nullptr, nullptr, "de_AT.UTF-8", 3079},
    };
    for (const Case& c : cases) {
        Set(c.all, c.messages, c.lang);
        EXPECT_EQ(UserDefaultLCID(), c.lcid)
            << (c.all ? c.all : "-") << " " << (c.messages ? c.messages : "-") << " " << (c.lang ? c.lang : "-");
        EXPECT_EQ(SystemDefaultLCID(), c.lcid);
    }
}

}  // namespace

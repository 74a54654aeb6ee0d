// Feeds come from anyone: whatever arrives must end in a model or in an
// error, never in a crash, a hang or a read outside the document.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Convert.h"
#include "FeedDocument.h"
#include "FeedTestSupport.h"
#include "TimeBound.h"

using namespace feed;

namespace {

// Loads `text`; true when it gave a feed. Only the library's own error kinds
// may come out.
bool LoadsOrFailsCleanly(TFeedDocument& doc, const std::string& text) {
    try {
        doc.LoadFromString(text);
        return true;
    } catch (const xml::XmlError&) {
    } catch (const TFeedException&) {
    } catch (const plat::ConvertError&) {
    }
    return false;
}

std::vector<std::string> AllFixtures() {
    std::vector<std::string> texts;
    for (const auto& entry : std::filesystem::directory_iterator(FEEDLIB_TEST_DATA)) {
        if (entry.path().extension() == ".xml" || entry.path().extension() == ".json")
            texts.push_back(feedtest::ReadFile(entry.path().string()));
    }
    return texts;
}

// A feed that loaded must also save, and its saved copy must load again.
void ExpectStoredCopyReloads(TFeedDocument& doc, const std::string& file) {
    ASSERT_NO_THROW(doc.SaveToFile(file));
    TFeedDocument copy;
    ASSERT_NO_THROW(copy.LoadFromFile(file)) << feedtest::ReadFile(file);
}

}  // namespace

TEST(HostileInput, EveryTruncationOfEveryFixture) {
    feedtest::TempDir dir;
    for (const std::string& text : AllFixtures()) {
        for (std::size_t length = 0; length < text.size(); length += 3) {
            TFeedDocument doc;
            if (LoadsOrFailsCleanly(doc, text.substr(0, length))) ExpectStoredCopyReloads(doc, dir.File("t.xml"));
        }
    }
}

TEST(HostileInput, RandomByteMutationsOfFixtures) {
    feedtest::TempDir dir;
    std::mt19937 rng(20261208);
    const std::vector<std::string> fixtures = AllFixtures();
    const std::string bytes = "<>&;\"'/=![]-?\x01\xFF\xC3 axz:0123456789";
    for (int round = 0; round < 1500; ++round) {
        std::string text = fixtures[rng() % fixtures.size()];
        for (int edits = 1 + static_cast<int>(rng() % 4); edits > 0 && !text.empty(); --edits) {
            const std::size_t at = rng() % text.size();
            switch (rng() % 3) {
                case 0:
                    text[at] = bytes[rng() % bytes.size()];
                    break;
                case 1:
                    text.erase(at, 1 + rng() % 8);
                    break;
                default:
                    text.insert(at, 1, bytes[rng() % bytes.size()]);
                    break;
            }
        }
        TFeedDocument doc;
        if (LoadsOrFailsCleanly(doc, text)) ExpectStoredCopyReloads(doc, dir.File("m.xml"));
    }
}

TEST(HostileInput, BinaryGarbageAndEmptyInput) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::string text(static_cast<std::size_t>(rng() % 4096), '\0');
        for (char& c : text) c = static_cast<char>(rng());
        TFeedDocument doc;
        EXPECT_FALSE(LoadsOrFailsCleanly(doc, text));
    }
    TFeedDocument doc;
    EXPECT_THROW(doc.LoadFromString(""), xml::XmlError);
    EXPECT_THROW(doc.LoadFromString(std::string("<rss>\0</rss>", 12)), xml::XmlError);
}

TEST(HostileInput, DeepNestingIsRefused) {
    std::string text = "<rss><channel><title>deep</title><item><title>";
    for (int i = 0; i < 100000; ++i) text += "<a>";
    TFeedDocument doc;
    EXPECT_FALSE(LoadsOrFailsCleanly(doc, text));
    // Well-formed and as deep as the parser allows: the markup is the body.
    std::string wellFormed = "<rss><channel><title>deep</title><item><description>";
    for (int i = 0; i < 200; ++i) wellFormed += "<a>";
    wellFormed += "x";
    for (int i = 0; i < 200; ++i) wellFormed += "</a>";
    wellFormed += "</description></item></channel></rss>";
    EXPECT_TRUE(LoadsOrFailsCleanly(doc, wellFormed));
    EXPECT_NE(doc.Items()[0].Description().find("<a><a>x</a></a>"), std::string::npos);
}

TEST(HostileInput, EntityExpansionBombEndsQuickly) {
    std::string text = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a0 \"lollollollollol\">";
    for (int i = 1; i <= 12; ++i)
        text += "<!ENTITY a" + std::to_string(i) + " \"" + [&] {
            std::string refs;
            for (int k = 0; k < 10; ++k) refs += "&a" + std::to_string(i - 1) + ";";
            return refs;
        }() + "\">";
    text += "]><rss><channel><title>&a12;</title><item><title>&a12;</title></item></channel></rss>";
    const auto start = std::chrono::steady_clock::now();
    TFeedDocument doc;
    LoadsOrFailsCleanly(doc, text);
    EXPECT_LT(std::chrono::steady_clock::now() - start, testsupport::TimeBound(std::chrono::seconds(5)));
    EXPECT_LT(doc.Channel().Required().Title().size(), 1000000u);
}

TEST(HostileInput, ExternalEntitiesAreNotFetched) {
    const std::string text =
        "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
        "<rss><channel><title>&x;</title><item><title>&x;</title></item></channel></rss>";
    TFeedDocument doc;
    LoadsOrFailsCleanly(doc, text);
    EXPECT_EQ(doc.Channel().Required().Title().find("root:"), std::string::npos);
    for (int i = 0; i < doc.Items().Count(); ++i) EXPECT_EQ(doc.Items()[i].Title().find("root:"), std::string::npos);
}

TEST(HostileInput, HugeAttributesAndTexts) {
    feedtest::TempDir dir;
    const std::string huge(8 * 1024 * 1024, 'x');
    TFeedDocument doc;
    const bool loaded =
        LoadsOrFailsCleanly(doc, "<rss><channel><title>" + huge + "</title><item><title>i</title><enclosure url=\"" +
                                     huge + "\" type=\"t\" length=\"1\"/></item></channel></rss>");
    if (loaded) {
        EXPECT_EQ(doc.Items()[0].Enclosure().URL().size(), huge.size());
        ExpectStoredCopyReloads(doc, dir.File("huge.xml"));
    }
}

TEST(HostileInput, StoredFileOfBlanksBeforeTheFeedLoadsInLinearTime) {
    // Deciding between JSON and XML looks past the blanks once, not once per block read.
    feedtest::TempDir dir;
    const std::string blanks(8 * 1024 * 1024, ' ');
    const std::pair<std::string, std::string> rows[] = {
        {"\xEF\xBB\xBF" + blanks + R"({"version": "https://jsonfeed.org/version/1.1", "title": "J", "items": []})",
         "J"},
        {blanks + "<rss><channel><title>R</title><item/></channel></rss>", "R"},
    };
    for (const auto& [text, title] : rows) {
        const std::string file = dir.File("blanks");
        std::ofstream(file, std::ios::binary) << text;
        const auto start = std::chrono::steady_clock::now();
        TFeedDocument doc;
        ASSERT_NO_THROW(doc.LoadFromFile(file)) << title;
        EXPECT_EQ(doc.Channel().Required().Title(), title);
        EXPECT_LT(std::chrono::steady_clock::now() - start, testsupport::TimeBound(std::chrono::seconds(5))) << title;
    }
}

TEST(HostileInput, NumbersOutOfRange) {
    // A number that is none, or too large, leaves its field alone.
    for (const char* ttl : {"2147483648", "-2147483649", "+", "-", "0x10", "1e3"}) {
        TFeedDocument doc;
        ASSERT_NO_THROW(doc.LoadFromString(std::string("<rss><channel><ttl>") + ttl + "</ttl><item/></channel></rss>"))
            << ttl;
        EXPECT_FALSE(doc.Channel().Optional().TTLModified()) << ttl;
    }
    TFeedDocument doc;
    doc.LoadFromString("<rss><channel><ttl>2147483647</ttl><item/></channel></rss>");
    EXPECT_EQ(doc.Channel().Optional().TTL(), 2147483647);
}

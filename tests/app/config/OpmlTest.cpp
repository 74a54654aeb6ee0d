#include "Opml.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string TempFile(const std::string& name) {
    return (fs::temp_directory_path() / ("opml-test-" + std::to_string(::getpid()) + "-" + name)).string();
}

}  // namespace

TEST(Opml, ExportThenImportKeepsAddressesCaptionsAndOrder) {
    const std::vector<opml::Outline> feeds = {
        {"http://example.org/a.xml", "Alpha & Omega"},
        {"http://example.org/b.xml?x=1&y=2", "\xd0\x9d\xd0\xbe\xd0\xb2\xd0\xbe\xd1\x81\xd1\x82\xd0\xb8"},
        {"http://example.org/c.xml", ""},
    };
    const std::string file = TempFile("roundtrip.opml");
    opml::WriteFile(file, feeds, "Quillet feeds");
    auto back = opml::ReadFile(file);
    fs::remove(file);
    ASSERT_EQ(back.size(), feeds.size());
    for (std::size_t i = 0; i < feeds.size(); ++i) {
        EXPECT_EQ(back[i].url, feeds[i].url);
        EXPECT_EQ(back[i].caption, feeds[i].caption);
    }
}

TEST(Opml, FoldersAreFlattenedInDocumentOrderAndCaptionsFallBackToTitle) {
    auto outlines = opml::ReadString(R"(<?xml version="1.0"?>
<opml version="1.0"><head/><body>
  <outline text="Tech">
    <outline text="One" xmlUrl="http://h/1"/>
    <outline text="Deeper"><outline title="Two by title" xmlUrl="http://h/2"/></outline>
  </outline>
  <outline text="No address"/>
  <outline xmlUrl="http://h/3"/>
</body></opml>)");
    ASSERT_EQ(outlines.size(), 4u);
    EXPECT_EQ(outlines[0].url, "http://h/1");
    EXPECT_EQ(outlines[0].caption, "One");
    EXPECT_EQ(outlines[1].caption, "Two by title");
    EXPECT_EQ(outlines[2].url, "");
    EXPECT_EQ(outlines[3].caption, "");
}

TEST(Opml, ImportSkipsKnownRepeatedAndAddresslessOutlines) {
    std::vector<opml::Outline> outlines = {
        {"http://h/known", "Known"}, {"http://h/new", "New"},     {"", "Folder leaf"},
        {"http://h/new", "Again"},   {"http://h/other", "Other"},
    };
    auto plan = opml::PlanImport(outlines, {"http://h/known"});
    ASSERT_EQ(plan.toAdd.size(), 2u);
    EXPECT_EQ(plan.toAdd[0].caption, "New");
    EXPECT_EQ(plan.toAdd[1].url, "http://h/other");
    EXPECT_EQ(plan.skipped, 3);
}

// Only what Add Feed takes is subscribed to: the fixture's outlines name
// the address each must give, or "refused".
TEST(Opml, ImportTakesOnlyWebAddressesAndCountsTheRestAsRefused) {
    const auto outlines = opml::ReadFile(std::string(QUILLET_TEST_DATA_DIR) + "/opml/addresses_of_every_kind.opml");
    std::vector<std::string> expected;
    int refused = 0;
    for (const opml::Outline& outline : outlines) {
        const std::optional<std::string> address = opml::FeedAddress(outline.url);
        if (outline.caption == "refused") {
            ++refused;
            EXPECT_FALSE(address) << outline.url << " gave " << address.value_or("");
        } else {
            expected.push_back(outline.caption);
            EXPECT_EQ(address.value_or("refused"), outline.caption) << outline.url;
        }
    }
    const opml::ImportPlan plan = opml::PlanImport(outlines, {"http://127.0.0.1:1/plain.xml"});
    std::vector<std::string> added;
    for (const opml::Outline& outline : plan.toAdd) added.push_back(outline.url);
    expected.erase(expected.begin());  // in the list already
    EXPECT_EQ(added, expected);
    EXPECT_EQ(plan.refused, refused);
    EXPECT_EQ(plan.skipped, refused + 1);
}

TEST(Opml, MalformedOrForeignFilesAreRejectedWithAReason) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"<opml><body>", "parse"},
        {"<rss version='2.0'><channel/></rss>", "root element is 'rss'"},
        {"<opml version='2.0'><head/></opml>", "no body"},
        {"", "parse"},
    };
    for (const auto& [text, reason] : cases) {
        try {
            opml::ReadString(text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const opml::OpmlError& e) {
            EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
        }
    }
}

TEST(Opml, AThousandFeedsReadFast) {
    std::string text = "<opml version='2.0'><body>";
    for (int i = 0; i < 1000; ++i)
        text +=
            "<outline type='rss' text='Feed " + std::to_string(i) + "' xmlUrl='http://h/" + std::to_string(i) + "'/>";
    text += "</body></opml>";
    auto start = std::chrono::steady_clock::now();
    auto plan = opml::PlanImport(opml::ReadString(text), {});
    EXPECT_EQ(plan.toAdd.size(), 1000u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

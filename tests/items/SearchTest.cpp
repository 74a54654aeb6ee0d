#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "ItemTestSupport.h"

using namespace items;
using itemtest::Item;

// Each test runs over the FTS5 index and over the LIKE fallback.
class Search : public itemtest::StoreTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        options.FullText = GetParam();
        Store().RecordDownload("1",
                               {Item("1", "http://a/1", "Quillet reaches version two", 300, "<p>Release notes</p>"),
                                Item("2", "http://a/2", "Café opening", 100, "<strong>Coffee</strong> and cake"),
                                Item("3", "http://a/3", "100% \"quoted\" (title)", 200, "under_score -minus")},
                               10);
        Store().RecordDownload("2", {Item("4", "http://b/4", "Release of quillets", 400, "another release")}, 10);
    }
    std::vector<std::string> Titles(const std::string& text) {
        std::vector<std::string> titles;
        for (const TSearchHit& hit : Store().Search(text, 10)) titles.push_back(hit.Title);
        return titles;
    }
};

TEST_P(Search, WordsPrefixesAndOrder) {
    ASSERT_EQ(Store().HasFullText(), GetParam());
    struct Case {
        const char* text;
        std::vector<std::string> titles;  // newest first
    };
    const std::vector<Case> cases = {
        {"release", {"Release of quillets", "Quillet reaches version two"}},
        {"quil", {"Release of quillets", "Quillet reaches version two"}},
        {"QUILLET note", {"Quillet reaches version two"}},
        {"version two", {"Quillet reaches version two"}},
        {"two version", {"Quillet reaches version two"}},
        {"coffee", {"Café opening"}},
        {"nothing-like-this", {}},
        {"", {}},
        {"   ", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(Titles(c.text), c.titles) << c.text;
    const std::vector<TSearchHit> hits = Store().Search("café", 10);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].FeedId, "1");
    EXPECT_EQ(hits[0].Key, "g:2");
    EXPECT_EQ(hits[0].Link, "http://a/2");
    EXPECT_EQ(hits[0].DateUTC, 100);
    EXPECT_EQ(Store().Search("release", 1).size(), 1u);
}

TEST_P(Search, AnyTextIsSafe) {
    for (const char* text : {"\"",
                             "\"quoted",
                             "a\"b",
                             "NOT",
                             "AND OR",
                             "*",
                             "-minus",
                             "(title",
                             "title)",
                             "title:x",
                             "^",
                             "NEAR(a b)",
                             "%",
                             "_",
                             "\\",
                             "'; DROP TABLE items; --",
                             "{title body}: x",
                             "a + b",
                             "l\u2019\u00e9t\u00e9",
                             "a\U0001F600b",
                             "\u65e5\u672c\u8a9e",
                             "caf\u00e9\u00bb"}) {
        EXPECT_NO_THROW(Store().Search(text, 10)) << text;
    }
    EXPECT_EQ(Titles("\"quoted\""), (std::vector<std::string>{"100% \"quoted\" (title)"}));
    EXPECT_EQ(Titles("(title)"), (std::vector<std::string>{"100% \"quoted\" (title)"}));
    EXPECT_EQ(Store().TotalItemCount(), 4);
}

INSTANTIATE_TEST_SUITE_P(Items, Search, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "FullText" : "Like"; });

TEST(SearchIndex, MarkupIsNotTextAndAccentsFold) {
    testsupport::TempFolder folder("quillet-items");
    auto store = itemtest::OpenStore(folder.File("items.db"));
    store->RecordDownload(
        "1",
        {Item("1", "", "Plain", 1, "<strong class=\"x\">Bold</strong> caf&eacute;s"), Item("2", "", "Élan", 2, "")},
        10);
    EXPECT_TRUE(store->Search("strong", 10).empty());
    EXPECT_TRUE(store->Search("class", 10).empty());
    EXPECT_EQ(store->Search("bold", 10).size(), 1u);
    EXPECT_EQ(store->Search("elan", 10).size(), 1u);
}

// Bases made before the store indexed new rows itself carry an insert
// trigger; left in place it would index each row twice, and an edited
// item would still be found by its old words.
TEST(SearchIndex, EachRowIsIndexedOnceInBasesOfEitherAge) {
    for (const bool oldBase : {false, true}) {
        for (const bool searchWhileWriting : {true, false}) {
            SCOPED_TRACE(std::string(oldBase ? "old base" : "new base") +
                         (searchWhileWriting ? ", full text" : ", like"));
            testsupport::TempFolder folder("quillet-items");
            const std::string path = folder.File("items.db");
            itemtest::OpenStore(path).reset();
            if (oldBase) {
                sqlite3* db = nullptr;
                ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
                EXPECT_EQ(sqlite3_exec(db,
                                       "CREATE TRIGGER items_fts_insert AFTER INSERT ON items BEGIN INSERT INTO "
                                       "items_fts(rowid, title, body) VALUES (new.id, new.title, new.body); END;",
                                       nullptr, nullptr, nullptr),
                          SQLITE_OK);
                sqlite3_close(db);
            }
            TStoreOptions writing;
            writing.FullText = searchWhileWriting;
            {
                auto store = itemtest::OpenStore(path, writing);
                store->RecordDownload("1",
                                      {Item("g", "http://a/1", "Ferry timetable", 100, "<p>boats</p>"),
                                       Item("h", "http://a/2", "Other", 50, "")},
                                      10);
                store->RecordDownload("1",
                                      {Item("g", "http://a/1", "Bridge timetable", 100, "<p>cars</p>"),
                                       Item("h", "http://a/2", "Other", 50, "")},
                                      20);
            }
            auto store = itemtest::OpenStore(path);
            ASSERT_TRUE(store->HasFullText());
            EXPECT_TRUE(store->Search("ferry", 10).empty());
            EXPECT_TRUE(store->Search("boats", 10).empty());
            EXPECT_EQ(store->Search("bridge", 10).size(), 1u);
            EXPECT_EQ(store->Search("timetable", 10).size(), 1u);
        }
    }
}

// Newest first, by date, whether a word is in thousands of items or in a
// dozen scattered through the base.
TEST(SearchIndex, CommonAndRareWordsListTheNewestMatchesFirst) {
    testsupport::TempFolder folder("quillet-items");
    auto store = itemtest::OpenStore(folder.File("items.db"));
    for (int feed = 0; feed < 60; ++feed) {
        std::vector<TStoredItem> download;
        for (int i = 0; i < 100; ++i) {
            const int n = feed * 100 + i;
            download.push_back(Item(std::to_string(n), "", "ferry " + std::to_string(n), 1000 + (n * 7919) % 6000,
                                    n % 500 == 0 ? "<p>zeppelin</p>" : "<p>boats</p>"));
        }
        store->RecordDownload(std::to_string(feed), download, 10);
    }
    auto dates = [&](const std::string& word) {
        std::vector<std::int64_t> found;
        for (const TSearchHit& hit : store->Search(word, 5)) found.push_back(hit.DateUTC.value_or(-1));
        return found;
    };
    // Dates are 1000 + a permutation of 0..5999: the newest are known.
    EXPECT_EQ(dates("ferry"), (std::vector<std::int64_t>{6999, 6998, 6997, 6996, 6995}));
    std::vector<std::int64_t> rare;
    for (int n = 0; n < 6000; n += 500) rare.push_back(1000 + (n * 7919) % 6000);
    std::sort(rare.rbegin(), rare.rend());
    rare.resize(5);
    EXPECT_EQ(dates("zeppelin"), rare);
}

// New rows wait for the index and join it a batch at a time. A waiting row
// edited or removed must not touch the index (it is not in it yet: an
// external-content index damaged that way answers wrongly from then on),
// a search sees every row, and a large download is indexed as it is stored.
TEST(SearchIndex, RowsWaitingForTheIndexAreFoundEditedAndRemovedSafely) {
    testsupport::TempFolder folder("quillet-items");
    const std::string path = folder.File("items.db");
    auto store = itemtest::OpenStore(path);
    auto waiting = [&] {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, "SELECT count(*) FROM items_fts_pending", -1, &s, nullptr);
        const int count = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int(s, 0) : -1;
        sqlite3_finalize(s);
        // The index's own structure (its text is not the rows' as stored,
        // so it cannot be compared with them).
        EXPECT_EQ(sqlite3_exec(db, "INSERT INTO items_fts(items_fts, rank) VALUES ('integrity-check', 0)", nullptr,
                               nullptr, nullptr),
                  SQLITE_OK)
            << sqlite3_errmsg(db);
        sqlite3_close(db);
        return count;
    };
    store->RecordDownload("1", {Item("a", "http://a/1", "Ferry timetable", 100, "<p>boats</p>")}, 10);
    store->RecordDownload("1", {Item("a", "http://a/1", "Bridge timetable", 100, "<p>cars</p>")}, 20);
    store->RecordDownload("2", {Item("b", "http://b/1", "Ferry news", 100, "")}, 20);
    store->ForgetFeed("2");
    EXPECT_EQ(waiting(), 1);
    EXPECT_TRUE(store->Search("ferry", 10).empty());
    EXPECT_EQ(store->Search("bridge", 10).size(), 1u);
    EXPECT_EQ(waiting(), 0);

    // Indexed rows follow their edits and removals through the triggers.
    store->RecordDownload("1", {Item("a", "http://a/1", "Tunnel timetable", 100, "")}, 30);
    EXPECT_TRUE(store->Search("bridge", 10).empty());
    EXPECT_EQ(store->Search("tunnel", 10).size(), 1u);
    store->ForgetFeed("1");
    EXPECT_TRUE(store->Search("tunnel", 10).empty());

    std::vector<TStoredItem> many;
    for (int i = 0; i < 300; ++i)
        many.push_back(Item("m" + std::to_string(i), "http://m/" + std::to_string(i), "Many", i, "<p>canal</p>"));
    store->RecordDownload("3", many, 40);
    EXPECT_EQ(waiting(), 0) << "indexed with the download that filled a batch";
    EXPECT_EQ(store->Search("canal", 500).size(), 300u);
}

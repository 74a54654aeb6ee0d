#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ItemTestSupport.h"
#include "StarredExport.h"
#include "TimeBound.h"

using namespace items;
using itemtest::Item;

namespace {

std::vector<std::string> Titles(const std::vector<TStarredItem>& starred) {
    std::vector<std::string> titles;
    for (const TStarredItem& item : starred) titles.push_back(item.Title + "@" + item.FeedTitle);
    return titles;
}

}  // namespace

class Stars : public itemtest::StoreTest {
protected:
    // Feed 1 holds a, b, c; feed 2 holds d.
    void Fill() {
        Store().RecordDownload("1",
                               {Item("a", "http://x/a", "Alpha", 100, "<p>harbour</p>"),
                                Item("b", "http://x/b", "Beta", 200, "harbour lights"), Item("c", "", "Gamma", 300)},
                               10);
        Store().RecordDownload("2", {Item("d", "http://y/d", "Delta", 400, "harbour")}, 10);
    }
};

TEST_F(Stars, StarredNewestFirstAndSearchedApart) {
    Fill();
    const struct {
        const char *feed, *key;
        bool starred;
        std::int64_t at;
        bool changed;
    } steps[] = {
        {"1", "g:b", true, 1000, true},  {"2", "g:d", true, 1001, true}, {"1", "g:a", true, 1002, true},
        {"1", "g:a", true, 1003, false},  // already starred: its time stays
        {"2", "g:a", true, 1004, false},  // another feed's key
        {"1", "g:c", true, 1005, true},  {"1", "g:c", false, 0, true},   {"1", "g:c", false, 0, false},
    };
    for (const auto& s : steps)
        EXPECT_EQ(Store().SetItemStarred(s.feed, s.key, s.starred, std::string("Feed ") + s.feed, s.at), s.changed)
            << s.feed << s.key << s.starred;
    EXPECT_EQ(Store().StarredCount(), 3);
    EXPECT_EQ(Store().StarredKeys("1"), (std::vector<std::string>{"g:a", "g:b"}));
    EXPECT_EQ(Titles(Store().StarredItems(10)),
              (std::vector<std::string>{"Alpha@Feed 1", "Delta@Feed 2", "Beta@Feed 1"}));
    const TStarredItem newest = Store().StarredItems(1, true).at(0);
    EXPECT_EQ(newest.Body, "<p>harbour</p>");
    EXPECT_EQ(newest.StarredAt, 1002);
    EXPECT_TRUE(newest.Unread);
    EXPECT_EQ(Store().StarredItems(1)[0].Body, "") << "bodies only when asked for";

    for (const bool fullText : {true, false}) {
        options.FullText = fullText;
        store.reset();
        for (const auto& [text, hits] : {std::pair{"harbour", 3u}, {"harb", 3u}, {"lights", 1u}, {"gamma", 0u}})
            EXPECT_EQ(Store().Search(text, 10, true).size(), hits) << text << fullText;
    }
}

// The retention, however tight, and the feed's deletion take everything
// but the stars; a star taken away later lets the retention have its item.
TEST_F(Stars, KeptThroughRetentionAndTheFeedsDeletion) {
    Fill();
    Store().SetItemStarred("1", "g:a", true, "Old name", 1000);
    Store().SetItemStarred("2", "g:d", true, "Second", 1001);
    Store().SetRetention({0, 0});
    Store().RecordDownload("1", {Item("c", "", "Gamma", 300)}, 50);
    EXPECT_EQ(Store().ItemCount("1"), 2) << "b left and went; starred a left and stays";

    Store().ForgetFeeds({"1", "2"}, {"Last name"});
    EXPECT_EQ(Store().UnreadCounts(), (std::map<std::string, int>{})) << "a deleted feed counts nothing";
    for (const bool starredOnly : {true, false}) {
        const auto found = Store().Search("Alpha", 10, starredOnly);
        ASSERT_EQ(found.size(), 1u) << "found, under the feed's last name";
        EXPECT_EQ(found[0].StarredFeedTitle, "Last name");
    }
    EXPECT_EQ(Titles(Store().StarredItems(10)), (std::vector<std::string>{"Delta@Second", "Alpha@Last name"}));
    EXPECT_EQ(Store().Prune(std::time(nullptr) + 10), 0);
    EXPECT_TRUE(Store().SetItemStarred("1", "g:a", false));
    EXPECT_EQ(Store().Prune(std::time(nullptr) + 10), 1);
    EXPECT_EQ(Store().TotalItemCount(), 1);
}

// Bases every earlier version wrote open with all they held and take
// stars, which a restart keeps.
TEST_F(Stars, EarlierBasesUpgradeAndKeepEverything) {
    for (const std::vector<std::string>& scripts : {std::vector<std::string>{"schema_v1_with_items.sql"},
                                                    {"schema_v1_with_items.sql", "schema_v2_additions.sql"}}) {
        store.reset();
        std::filesystem::remove(DbPath());
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(DbPath().c_str(), &db), SQLITE_OK);
        for (const std::string& script : scripts) {
            std::ifstream in(std::string(ITEMS_TEST_DATA) + "/" + script);
            const std::string sql(std::istreambuf_iterator<char>(in), {});
            ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << script;
        }
        sqlite3_close(db);
        EXPECT_EQ(Store().UnreadCounts(), (std::map<std::string, int>{{"1", 1}, {"7", 1}})) << scripts.size();
        EXPECT_EQ(Store().TotalItemCount(), 3);
        EXPECT_EQ(Store().Pending("acct").size(), 1u);
        EXPECT_EQ(Store().Article("1", "g:one").State,
                  scripts.size() == 2 ? TArticleState::Fetched : TArticleState::None);
        EXPECT_TRUE(Store().SetItemStarred("7", "l://example.net/x", true, "Seven"));
        store.reset();
        EXPECT_EQ(Titles(Store().StarredItems(10)), (std::vector<std::string>{"Gone@Seven"}));
        EXPECT_EQ(Store().Prune(1'000'000'000), 0) << "the item that left long ago is starred";
    }
}

// Each star is one commit; the log's checkpoint runs beside the commits,
// not in one. The bound is on all but the slowest 1%, which a loaded
// machine's scheduler may stretch.
TEST_F(Stars, InstantWithAHundredThousandItems) {
    for (int f = 0; f < 100; ++f) {
        std::vector<TStoredItem> batch;
        for (int i = f * 1000; i < (f + 1) * 1000; ++i)
            batch.push_back(Item(std::to_string(i), "http://z/" + std::to_string(i), "Item " + std::to_string(i), i,
                                 std::string(400, 'b')));
        Store().RecordDownload(std::to_string(f), batch, 10);
    }
    using Clock = std::chrono::steady_clock;
    using Ms = std::chrono::duration<double, std::milli>;
    std::vector<double> stars;
    for (int n = 0; n < 100'000; n += 20) {
        const auto start = Clock::now();
        ASSERT_TRUE(Store().SetItemStarred(std::to_string(n / 1000), "g:" + std::to_string(n), true, "Feed", n));
        stars.push_back(Ms(Clock::now() - start).count());
    }
    std::sort(stars.begin(), stars.end());
    double listing = 1e9;
    for (int round = 0; round < 3; ++round) {
        const auto start = Clock::now();
        EXPECT_EQ(Store().StarredItems(5000).size(), 5000u);
        listing = std::min(listing, Ms(Clock::now() - start).count());
    }
    // The export runs on the window's thread when the window answers it.
    const auto exportStart = Clock::now();
    EXPECT_EQ(ExportStarred(Store(), folder.File("starred.xml")), 5000);
    const double exporting = Ms(Clock::now() - exportStart).count();
    EXPECT_LT(stars[stars.size() * 99 / 100], Ms(testsupport::TimeBound(std::chrono::milliseconds(20))).count());
    EXPECT_LT(listing, Ms(testsupport::TimeBound(std::chrono::milliseconds(100))).count());
    std::printf(
        "[ figures  ] starring: median %.2f ms, 99%% %.2f ms, slowest %.2f ms; listing 5000: %.1f ms; "
        "exporting 5000: %.0f ms\n",
        stars[stars.size() / 2], stars[stars.size() * 99 / 100], stars.back(), listing, exporting);
}

// Stars set one after another, the writer killed at a random moment: every
// star it had committed is there after a restart, on a whole base.
TEST_F(Stars, EveryCommittedStarSurvivesAKill) {
    std::vector<TStoredItem> many;
    for (int i = 0; i < 3000; ++i) many.push_back(Item(std::to_string(i), "", "Item " + std::to_string(i), i + 1));
    Store().RecordDownload("1", many, 10);
    store.reset();
    const int pauses[] = {20000, 90000, 160000};
    for (int round = 0; round < 3; ++round) {
        const int first = round * 1000;  // each round stars items of its own
        int committed[2];
        ASSERT_EQ(pipe(committed), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(committed[0]);
            std::unique_ptr<TItemStore> writer = itemtest::OpenStore(DbPath(), options);
            for (int n = 0;; ++n) {
                writer->SetItemStarred("1", "g:" + std::to_string(first + n % 1000), true, "Feed", n);
                const char done = 1;  // said only once the commit returned
                if (write(committed[1], &done, 1) != 1) _exit(3);
            }
        }
        close(committed[1]);
        // Timed from the first commit: a slow start is no lost star.
        char firstCommit = 0;
        int said = read(committed[0], &firstCommit, 1) == 1 ? 1 : 0;
        usleep(pauses[round]);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        char buffer[4096];
        for (ssize_t n; (n = read(committed[0], buffer, sizeof buffer)) > 0;) said += static_cast<int>(n);
        close(committed[0]);
        ASSERT_GT(said, 0) << "the writer never committed";
        // The first `said` stars, in this order, were committed.
        std::unique_ptr<TItemStore> reopened = itemtest::OpenStore(DbPath(), options);
        EXPECT_EQ(reopened->CheckIntegrity(), "ok");
        std::vector<std::string> keys = reopened->StarredKeys("1");
        const std::set<std::string> starred(keys.begin(), keys.end());
        for (int n = 0; n < std::min(said, 1000); ++n)
            ASSERT_TRUE(starred.count("g:" + std::to_string(first + n))) << "star " << n << " of " << said << " lost";
    }
}

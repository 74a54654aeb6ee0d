#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "ItemIdentity.h"
#include "ItemTestSupport.h"

using namespace items;
using itemtest::Item;

class ReadState : public itemtest::StoreTest {
protected:
    void SetUp() override {
        Store().RecordDownload("1", {Item("a", "", "A"), Item("b", "", "B"), Item("c", "", "C")}, 10);
        Store().RecordDownload("2", {Item("x", "", "X"), Item("y", "", "Y")}, 10);
    }
};

TEST_F(ReadState, MarkAsUnreadBringsBackExactlyWhatWasUnread) {
    ASSERT_TRUE(Store().SetItemRead("1", "g:b", true));
    EXPECT_EQ(Store().UnreadKeys("1"), (std::vector<std::string>{"g:a", "g:c"}));
    const std::vector<TItemId> changed = Store().MarkFeedRead("1");
    EXPECT_EQ(changed.size(), 2u);
    EXPECT_EQ(Store().UnreadCount("1"), 0);
    EXPECT_TRUE(Store().MarkFeedRead("1").empty());
    Store().MarkItemsUnread(changed);
    EXPECT_EQ(Store().UnreadKeys("1"), (std::vector<std::string>{"g:a", "g:c"}));
    EXPECT_FALSE(Store().SetItemRead("1", "g:x", true)) << "x belongs to feed 2";
}

TEST_F(ReadState, SeveralFeedsAndAll) {
    EXPECT_EQ(Store().UnreadCounts(), (std::map<std::string, int>{{"1", 3}, {"2", 2}}));
    EXPECT_EQ(Store().MarkFeedsRead({"2", "9"}).size(), 2u);
    EXPECT_EQ(Store().UnreadCounts(), (std::map<std::string, int>{{"1", 3}}));
    const std::vector<TItemId> all = Store().MarkAllRead();
    EXPECT_EQ(all.size(), 3u);
    EXPECT_TRUE(Store().UnreadCounts().empty());
    Store().MarkItemsUnread(all);
    EXPECT_EQ(Store().UnreadCounts(), (std::map<std::string, int>{{"1", 3}}));
    const auto each = Store().MarkFeedsReadEach({"1", "2", "9"});
    ASSERT_EQ(each.size(), 1u) << "only feed 1 had unread items";
    EXPECT_EQ(each.at("1").size(), 3u);
    EXPECT_TRUE(Store().UnreadCounts().empty());
}

TEST_F(ReadState, SeededItemsAreReadAndNotNew) {
    EXPECT_EQ(Store().SeedFromItems("3", {Item("p", "", "P"), Item("q", "", "Q")}, 10), 2);
    EXPECT_EQ(Store().UnreadCount("3"), 0);
    EXPECT_EQ(Store().SeedFromItems("3", {Item("p", "", "P")}, 11), 0);
    EXPECT_EQ(Store().RecordDownload("3", {Item("r", "", "R"), Item("p", "", "P")}, 12).NewCount, 1);
    EXPECT_EQ(Store().UnreadKeys("3"), (std::vector<std::string>{"g:r"}));
    Store().ForgetFeed("3");
    EXPECT_EQ(Store().ItemCount("3"), 0);
    EXPECT_EQ(Store().TotalItemCount(), 5);
    Store().ForgetFeeds({"1", "unknown", "3"});
    EXPECT_EQ(Store().ItemCount("1"), 0);
    EXPECT_EQ(Store().TotalItemCount(), 2);
}

TEST_F(ReadState, PendingChangesQueuePerAccount) {
    const std::int64_t first = Store().Enqueue("acct", "read", "{\"id\":1}", 100);
    Store().Enqueue("other", "star", "{}", 101);
    const std::int64_t third = Store().Enqueue("acct", "unread", "{\"id\":2}", 102);
    std::vector<TPendingChange> pending = Store().Pending("acct");
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(pending[0].Kind, "read");
    EXPECT_EQ(pending[1].Payload, "{\"id\":2}");
    EXPECT_EQ(pending[1].Created, 102);
    Store().RemovePending(first);
    pending = Store().Pending("acct");
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].Id, third);
}

TEST_F(ReadState, AnotherConnectionSeesCommitsAndReadsDuringAWrite) {
    std::unique_ptr<TItemStore> window = Store().Connect();
    window->MarkFeedRead("1");
    EXPECT_EQ(Store().UnreadCount("1"), 0);
    // A writer holding its transaction open does not hold up a reader, who
    // sees the last commit until the writer's own commit.
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(DbPath().c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "BEGIN IMMEDIATE; INSERT OR IGNORE INTO unread SELECT feed, id FROM items", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(window->UnreadCount("1"), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    ASSERT_EQ(sqlite3_exec(writer, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(writer);
    EXPECT_EQ(window->UnreadCount("1"), 3);
}

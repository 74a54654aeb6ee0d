// New-item counting against the rule it replaces: count the items above
// the previous download's first title (all of them when that title is gone).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ItemIdentity.h"
#include "ItemTestSupport.h"

using namespace items;
using itemtest::Item;

namespace {

using Download = std::vector<TStoredItem>;

int FirstTitleRule(const Download& previous, const Download& current) {
    for (std::size_t i = 0; i < current.size(); ++i) {
        if (current[i].Title == previous.front().Title) return static_cast<int>(i);
    }
    return static_cast<int>(current.size());
}

const TStoredItem a = Item("g-a", "http://site.example/a", "Alpha", 1000);
const TStoredItem b = Item("g-b", "http://site.example/b", "Beta", 900);
const TStoredItem c = Item("g-c", "http://site.example/c", "Gamma", 800);
const TStoredItem d = Item("g-d", "http://site.example/d", "Delta", 1100);
const TStoredItem e = Item("g-e", "http://site.example/e", "Epsilon", 1200);

TStoredItem With(TStoredItem item, std::string guid, std::string link, std::string title = {}) {
    item.Guid = std::move(guid);
    item.Link = std::move(link);
    if (!title.empty()) item.Title = std::move(title);
    return item;
}

TStoredItem Moved(const TStoredItem& item) {
    // New guid, https, a trailing slash and tracking parameters.
    return With(item, "https-" + item.Guid, "https" + item.Link.substr(4) + "/?utm_source=rss&utm_medium=feed");
}

TStoredItem Undated(TStoredItem item) {
    item.DateText.clear();
    item.DateUTC.reset();
    return item;
}

}  // namespace

class Counting : public itemtest::StoreTest {};

TEST_F(Counting, OnlyTrulyNewItemsCount) {
    struct Case {
        const char* name;
        std::vector<Download> downloads;  // the last one is counted
        int expected;
        int firstTitleRule;
    };
    const TStoredItem home1 = Item("h1", "http://site.example/", "Status one", 100);
    const TStoredItem home2 = Item("h2", "http://site.example/", "Status two", 200);
    const TStoredItem noId1 = Item("", "", "Daily notes", 100);
    const TStoredItem noId2 = Item("", "", "Daily notes", 200);
    const std::vector<Case> cases = {
        {"added at the top", {{a, b, c}, {e, d, a, b, c}}, 2, 2},
        {"first item deleted", {{a, b, c}, {b, c}}, 0, 2},
        {"first title edited", {{a, b, c}, {With(a, "g-a", a.Link, "Alpha (updated)"), b, c}}, 0, 3},
        {"reordered", {{a, b, c}, {b, a, c}}, 0, 1},
        {"moved to https with new guids", {{a, b, c}, {d, Moved(a), Moved(b), Moved(c)}}, 1, 1},
        {"re-published under new guid and link, same title and date",
         {{a, b}, {With(a, "x", "http://m.site/1"), b}},
         0,
         0},
        {"drops old items, one comes back", {{a, b, c}, {d, a, b}, {c, d, a, b}}, 0, 1},
        {"every item links to the home page", {{home1}, {home2, home1}}, 1, 1},
        {"one item at a time under the same link", {{home1}, {home2}}, 1, 1},
        {"no guid and no link: title and date", {{noId1}, {noId2, noId1}}, 1, 0},
        {"an item repeated within a download", {{a}, {d, d, a}}, 1, 2},
        {"first download", {{a, b}}, 2, 2},
        {"undated feed moved to https with new guids",
         {{Undated(a), Undated(b)}, {Moved(Undated(a)), Moved(Undated(b))}},
         0,
         0},
    };
    int feed = 0;
    for (const Case& c : cases) {
        const std::string feedId = std::to_string(++feed);
        TDownloadResult result;
        for (std::size_t i = 0; i < c.downloads.size(); ++i) {
            result = Store().RecordDownload(feedId, c.downloads[i], 1000 + static_cast<std::int64_t>(i));
        }
        EXPECT_EQ(result.NewCount, c.expected) << c.name;
        EXPECT_EQ(Store().UnreadCount(feedId), static_cast<int>(Store().ItemCount(feedId))) << c.name;
        const Download& last = c.downloads.back();
        const int old = c.downloads.size() > 1 ? FirstTitleRule(c.downloads[c.downloads.size() - 2], last)
                                               : static_cast<int>(last.size());
        EXPECT_EQ(old, c.firstTitleRule) << c.name;
        int flagged = 0;
        for (bool isNew : result.New) flagged += isNew;
        EXPECT_EQ(flagged, c.expected) << c.name;
    }
}

TEST_F(Counting, EditsUpdateTheStoredTextAndReadState) {
    Store().RecordDownload("1", {a, b}, 10);
    Store().MarkFeedRead("1");
    TStoredItem edited = With(a, a.Guid, a.Link, "Alpha, corrected");
    edited.Body = "<p>new text</p>";
    EXPECT_EQ(Store().RecordDownload("1", {edited, Moved(b)}, 20).NewCount, 0);
    EXPECT_EQ(Store().UnreadCount("1"), 0);
    const std::vector<TSearchHit> hits = Store().Search("corrected", 5);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].Title, "Alpha, corrected");
    // A re-published item takes its new identity, so the page finds it by its new key.
    EXPECT_TRUE(Store().SetItemRead("1", ItemKey(Moved(b)), false));
    // A download that changes one field alone is written too.
    TStoredItem bodyOnly = edited;
    bodyOnly.Body = "<p>zephyr</p>";
    Store().RecordDownload("1", {bodyOnly, Moved(b)}, 30);
    ASSERT_EQ(Store().Search("zephyr", 5).size(), 1u);
    TStoredItem dateOnly = bodyOnly;
    dateOnly.DateUTC = 1234;
    Store().RecordDownload("1", {dateOnly, Moved(b)}, 40);
    EXPECT_EQ(Store().Search("zephyr", 5).at(0).DateUTC, 1234);
}

TEST_F(Counting, RetentionAndCapPruneOnlyItemsThatLeftTheFeed) {
    constexpr std::int64_t day = 24 * 3600;
    struct Case {
        const char* name;
        TRetention retention;
        std::vector<std::pair<std::int64_t, Download>> downloads;  // at time, items
        int remaining;
    };
    const std::vector<Case> cases = {
        {"kept within the retention", {10 * day, 100}, {{0, {a, b, c}}, {9 * day, {d}}}, 4},
        {"gone after the retention", {10 * day, 100}, {{0, {a, b, c}}, {5 * day, {d}}, {15 * day + 1, {d}}}, 1},
        {"counted from leaving", {10 * day, 100}, {{0, {a, b, c}}, {5 * day, {d}}, {15 * day, {d}}}, 4},
        {"never pruned while in the feed", {1 * day, 2}, {{0, {a, b, c}}, {50 * day, {a, b, c}}}, 3},
        {"cap keeps the most recently seen", {100 * day, 3}, {{0, {a}}, {1, {b}}, {2, {c}}, {3, {d, e}}}, 3},
    };
    int feed = 0;
    for (const Case& c : cases) {
        const std::string feedId = std::to_string(++feed);
        Store().SetRetention(c.retention);
        for (const auto& [time, items] : c.downloads) Store().RecordDownload(feedId, items, time);
        EXPECT_EQ(Store().ItemCount(feedId), c.remaining) << c.name;
    }
    // The cap case kept c (the last to leave) beside d and e: c coming back is not new.
    EXPECT_EQ(Store().RecordDownload("5", {c, d, e}, 4).NewCount, 0);
    EXPECT_EQ(Store().RecordDownload("5", {a, c, d, e}, 5).NewCount, 1);
}

TEST_F(Counting, FirstSeenTimesAreTheNewestItemsArrivals) {
    const TStoredItem a = Item("a", "", "A"), b = Item("b", "", "B"), c = Item("c", "", "C"), d = Item("d", "", "D");
    Store().RecordDownload("1", {a, b}, 100);
    Store().RecordDownload("1", {a, b, c}, 200);
    Store().RecordDownload("1", {a, b, c}, 300);  // nothing new
    Store().RecordDownload("1", {b, c, d}, 400);  // a left the feed, still remembered
    Store().RecordDownload("2", {a}, 50);
    EXPECT_EQ(Store().FirstSeenTimes("1", 10), (std::vector<std::int64_t>{400, 200, 100, 100}));
    EXPECT_EQ(Store().FirstSeenTimes("1", 2), (std::vector<std::int64_t>{400, 200}));
    EXPECT_EQ(Store().FirstSeenTimes("2", 10), (std::vector<std::int64_t>{50}));
    EXPECT_TRUE(Store().FirstSeenTimes("3", 10).empty());
}

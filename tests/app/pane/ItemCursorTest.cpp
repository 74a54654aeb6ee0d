// The rules of moving from item to item in a page, without widgets: moving
// at the ends, the next new item passing read ones and saying when the page
// has none left, marking toggling the new mark and the count that follows,
// the state words, the links a key may open and the items' way over the
// pane's protocol.
#include "ItemCursor.h"

#include <gtest/gtest.h>

#include <string>

#include "PaneProtocol.h"

namespace {

using pane::TItemCursor;
using pane::TPageItem;

// Items from a pattern: 'n' a new item, '.' a read one; anchors a0, a1...
std::vector<TPageItem> Items(const std::string& pattern) {
    std::vector<TPageItem> items;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const QString n = QString::number(i);
        items.push_back({"a" + n, pane::StarRequestAddress("7", "g:urn:" + n, true), "http://example.invalid/" + n,
                         pattern[i] == 'n', "Item " + n + (pattern[i] == 'n' ? " new" : "")});
    }
    return items;
}

TEST(ItemCursor, MovesWithinThePageAndStopsAtItsEnds) {
    const struct {
        const char* Name;
        const char* Page;
        int Start;
        const char* Keys;   // j next, k previous, u next new
        const char* Moved;  // per key: 1 moved, 0 stayed
        int End;
    } cases[] = {
        {"next and previous", "....", 0, "jjk", "111", 1},
        {"next stops at the last", "...", 1, "jjj", "100", 2},
        {"previous stops at the first", "...", 1, "kkk", "100", 0},
        {"the reader's item beyond the page starts at the first", "..", 9, "j", "1", 1},
        {"next new passes read items", "n..n.n", 0, "uu", "11", 5},
        {"next new from a new item goes on", "nn", 0, "u", "1", 1},
        {"no new item left: the page says so", "n...", 0, "u", "0", 0},
        {"next new never goes back", "n..", 2, "u", "0", 2},
        {"an empty page has no current item", "", 0, "jku", "000", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TItemCursor cursor;
        cursor.Reset(Items(c.Page), c.Start);
        std::string moved;
        for (const char* key = c.Keys; *key; ++key) {
            const bool m = *key == 'j' ? cursor.Next() : *key == 'k' ? cursor.Previous() : cursor.NextNew();
            moved += m ? '1' : '0';
        }
        EXPECT_EQ(moved, c.Moved);
        EXPECT_EQ(cursor.Current(), c.End);
        EXPECT_EQ(cursor.CurrentItem() != nullptr, c.End >= 0);
    }
    TItemCursor cursor;
    cursor.Reset(Items("..n.n"));
    EXPECT_EQ(cursor.FirstNew(), 2);
    EXPECT_EQ(cursor.IndexOfAnchor("a3"), 3);
    EXPECT_EQ(cursor.IndexOfStarLink(cursor.Items()[4].StarLink), 4);
    EXPECT_EQ(cursor.IndexOfAnchor(""), -1);
    cursor.Reset(Items("..."));
    EXPECT_EQ(cursor.FirstNew(), -1);
}

TEST(ItemCursor, MarkingTogglesTheItemAndTheCountNeverGoesBelowZero) {
    TItemCursor cursor;
    cursor.Reset(Items(".n"), 1);
    // New to read, back to new, and the read item next to it.
    const struct {
        int At;
        bool Read;
        bool NewAfter;
    } steps[] = {{1, true, false}, {1, false, true}, {0, false, true}, {0, true, false}};
    for (const auto& step : steps) {
        cursor.MoveTo(step.At);
        const auto mark = cursor.ToggleRead();
        ASSERT_TRUE(mark);
        EXPECT_EQ(mark->FeedId, "7");
        EXPECT_EQ(mark->Key, "g:urn:" + QString::number(step.At));
        EXPECT_EQ(mark->Anchor, "a" + QString::number(step.At));
        EXPECT_EQ(mark->Read, step.Read);
        EXPECT_EQ(cursor.CurrentItem()->New, step.NewAfter);
    }
    // An item the page cannot name, and no item at all, change nothing.
    cursor.Reset({{"x", "", "", true, ""}});
    EXPECT_FALSE(cursor.ToggleRead());
    EXPECT_TRUE(cursor.CurrentItem()->New);
    cursor.Clear();
    EXPECT_FALSE(cursor.ToggleRead());

    const struct {
        long long Count;
        bool Read;
        long long After;
    } counts[] = {{3, true, 2}, {1, true, 0}, {0, true, 0}, {0, false, 1}, {5, false, 6}};
    for (const auto& c : counts) EXPECT_EQ(TItemCursor::CountAfter(c.Count, c.Read), c.After) << c.Count;
}

TEST(ItemCursor, StateWordsAndOpenableLinks) {
    const struct {
        const char* State;
        bool New;
        const char* After;
    } states[] = {
        {"", true, "new"},    {"new", false, ""},        {"new, alert", false, "alert"}, {"alert", true, "new, alert"},
        {"new", true, "new"}, {"alert", false, "alert"},
    };
    for (const auto& s : states)
        EXPECT_EQ(TItemCursor::StateWithNew(s.State, "new", s.New), s.After) << s.State << " " << s.New;

    const std::pair<const char*, bool> links[] = {
        {"http://example.invalid/1", true},
        {"HTTPS://example.invalid/", true},
        {"mailto:a@example.invalid", true},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"/home/u/feeds/1.xml", false},
        {"quillet-star:7?on=1&key=a", false},
        {"http://", false},
        {"", false},
        {"data:text/html,x", false},
    };
    for (const auto& [link, openable] : links) EXPECT_EQ(TItemCursor::Openable(QUrl(link)), openable) << link;
}

TEST(ItemCursor, ItemsTravelWithinTheLineBoundAndMalformedOnesAreLeftOut) {
    const std::vector<TPageItem> items = Items("n.n");
    const std::vector<TPageItem> back = pane::PageItemsFromJson(pane::PageItemsJson(items, pane::kMaxLineBytes / 2));
    ASSERT_EQ(back.size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(back[i].Anchor, items[i].Anchor);
        EXPECT_EQ(back[i].StarLink, items[i].StarLink);
        EXPECT_EQ(back[i].Link, items[i].Link);
        EXPECT_EQ(back[i].New, items[i].New);
        EXPECT_EQ(back[i].Title, items[i].Title);
    }
    // A page of long links: the line stays under the bound, the first items kept.
    std::vector<TPageItem> many(4000, TPageItem{"a", "", QString(400, QChar(0x201C)), false, ""});
    const QJsonArray bounded = pane::PageItemsJson(many, pane::kMaxLineBytes / 2);
    EXPECT_GT(bounded.size(), 50);
    EXPECT_LT(pane::Encode("items", {{"items", bounded}}).size(), pane::kMaxLineBytes);

    const QJsonArray hostile{QJsonValue(3), QJsonObject{{"star", "x"}}, QJsonObject{{"anchor", 5}},
                             QJsonObject{{"anchor", "ok"}, {"new", "yes"}, {"title", QString(5000, 'T')}}};
    const std::vector<TPageItem> kept = pane::PageItemsFromJson(hostile);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].Anchor, "ok");
    EXPECT_FALSE(kept[0].New);
    EXPECT_EQ(kept[0].Title.size(), 300) << "a heading to be said is bounded";
}

}  // namespace

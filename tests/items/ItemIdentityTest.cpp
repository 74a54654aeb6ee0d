#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ItemIdentity.h"
#include "ItemTestSupport.h"

using namespace items;
using itemtest::Item;

TEST(ItemIdentity, LinksThatNameTheSamePageNormaliseAlike) {
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    const std::vector<Case> cases = {
        {"http://example.org/post/1", "https://example.org/post/1", true},
        {"http://example.org/post/1", "http://example.org/post/1/", true},
        {"HTTP://Example.ORG/post/1", "https://example.org:443/post/1", true},
        {"http://example.org:80/", "https://example.org", true},
        {" https://example.org/a?utm_source=rss&utm_medium=feed\n", "http://example.org/a", true},
        {"https://example.org/a?id=3&fbclid=x&gclid=y", "https://example.org/a?id=3", true},
        {"https://example.org/a?mc_cid=1&mc_eid=2&ref=feed&UTM_Campaign=z", "https://example.org/a", true},
        {"https://example.org/a?id=3", "https://example.org/a?id=4", false},
        {"https://example.org/a?reference=1", "https://example.org/a", false},
        {"https://example.org/Post", "https://example.org/post", false},
        {"https://example.org/a#one", "https://example.org/a#two", false},
        {"https://www.example.org/a", "https://example.org/a", false},
        {"https://example.org:8080/a", "https://example.org/a", false},
        {"ftp://example.org/a", "http://example.org/a", false},
        {"urn:uuid:1", "urn:uuid:1", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NormalisedLink(c.a) == NormalisedLink(c.b), c.same) << c.a << " / " << c.b;
    }
    EXPECT_EQ(NormalisedLink("https://Example.org/a/?b=1&utm_id=2#c"), "//example.org/a?b=1#c");
    EXPECT_EQ(NormalisedLink(""), "");
}

TEST(ItemIdentity, KeyIsGuidElseLinkElseTitleAndDate) {
    struct Case {
        TStoredItem item;
        std::string key;
    };
    const std::vector<Case> cases = {
        {Item("urn:1", "http://x/1", "T", 5), "g:urn:1"},
        {Item("  ", "https://x/1/?utm_source=a", "T", 5), "l://x/1"},
        {Item("", "", "  Two   words ", 5),
         "t:Two words\x1f"
         "5"},
        {Item("", "", "Title"), "t:Title\x1f"},
    };
    for (const Case& c : cases) EXPECT_EQ(ItemKey(c.item), c.key) << c.item.Title;
    EXPECT_EQ(ItemKey(Item("", "", "", 0, "one body")).substr(0, 2), "b:");
    EXPECT_NE(ItemKey(Item("", "", "", 0, "one body")), ItemKey(Item("", "", "", 0, "another body")));
    // The date text stands in for an unreadable date; a title alone is no title-date key.
    TStoredItem undated = Item("", "", "Title");
    EXPECT_EQ(TitleDateKey(undated), "");
    undated.DateText = "yesterday";
    EXPECT_EQ(TitleDateKey(undated), "Title\x1fyesterday");
}

#include <gtest/gtest.h>

#include "FeedDocument.h"
#include "ItemFromFeed.h"

using namespace items;

TEST(ItemFromFeed, TakesWhatTheStoreRemembers) {
    feed::TFeedDocument document;
    document.LoadFromFile(ITEMS_TEST_DATA "/two_items.xml");
    const std::vector<TStoredItem> stored = StoredItemsFromFeed(document);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].Guid, "urn:example:full");
    EXPECT_EQ(stored[0].Link, "http://example.org/full");
    EXPECT_EQ(stored[0].Title, "Full item");
    EXPECT_EQ(stored[0].DateText, "Sat, 01 May 2004 10:20:30 +0100");
    EXPECT_EQ(stored[0].DateUTC, 1083403230);  // 2004-05-01 09:20:30 UTC
    EXPECT_EQ(stored[0].Author, "Ada");
    EXPECT_EQ(stored[0].Body, "<p>The whole body</p>");
    EXPECT_EQ(stored[1].Guid, "");
    EXPECT_EQ(stored[1].DateText, "");
    EXPECT_FALSE(stored[1].DateUTC) << "a date the feed did not give is not remembered";
    EXPECT_EQ(stored[1].Body, "Only a description");
}

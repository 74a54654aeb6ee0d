#include <stdexcept>

#include <gtest/gtest.h>

#include "FeedDocument.h"
#include "ItemTestSupport.h"
#include "StarredExport.h"

using namespace items;
using itemtest::Item;

// The export reads back through Quillet's own parser with every field: a
// feed still listed is named as it is now, a deleted one as last told.
using StarredExport = itemtest::StoreTest;

TEST_F(StarredExport, ReadsBackWithEveryField) {
    TStoredItem dated = Item("guid-1", "http://a/1", "Café & <crème>", 1'700'000'000, "<p>Body <b>one</b></p>");
    dated.Author = "Ann";
    TStoredItem textDate = Item("", "http://b/2", "Dated by text", 0, "two");
    textDate.DateText = "Tue, 14 Nov 2023 22:13:20 +0100";
    Store().RecordDownload("1", {dated, Item("x", "http://a/x", "Not starred")}, 10);
    Store().RecordDownload("2", {textDate}, 10);
    ASSERT_TRUE(Store().SetItemStarred("1", "g:guid-1", true, "Old caption", 100));
    ASSERT_TRUE(Store().SetItemStarred("2", "l://b/2", true, "Blog", 200));
    Store().ForgetFeed("2", "Blog, deleted");

    const std::string path = folder.File("starred.xml");
    EXPECT_EQ(ExportStarred(Store(), path, {"https://q.example/", {{"1", {"Caption now", "http://a/feed.xml"}}}}), 2);
    feed::TFeedDocument document;
    document.LoadFromFile(path);
    EXPECT_EQ(document.Channel().Required().Title(), kStarredChannelTitle);
    EXPECT_EQ(document.Channel().Required().Link(), "https://q.example/");
    ASSERT_EQ(document.Items().Count(), 2);

    const feed::TRSSItem& newest = document.Items()[0];
    EXPECT_EQ(newest.Title(), "Dated by text");
    EXPECT_EQ(newest.Link(), "http://b/2");
    EXPECT_EQ(newest.PubDate().ToRFC822(), textDate.DateText);
    EXPECT_EQ(newest.Source().Title(), "Blog, deleted");
    EXPECT_FALSE(newest.GUID().Include());

    const feed::TRSSItem& first = document.Items()[1];
    EXPECT_EQ(first.Title(), dated.Title);
    EXPECT_EQ(first.Link(), dated.Link);
    EXPECT_EQ(first.Description(), dated.Body);
    EXPECT_EQ(first.GUID().GUID(), "guid-1");
    EXPECT_EQ(first.Author().Name, "Ann");
    EXPECT_EQ(first.PubDate().ToRFC822(), "Tue, 14 Nov 2023 22:13:20 GMT");
    EXPECT_EQ(first.Source().Title(), "Caption now");
    EXPECT_EQ(first.Source().URL(), "http://a/feed.xml");

    // A file that cannot be written says so and leaves nothing behind.
    EXPECT_THROW(ExportStarred(Store(), folder.File("missing/starred.xml")), std::runtime_error);
}

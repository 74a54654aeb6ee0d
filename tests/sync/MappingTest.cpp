#include "GReaderMapping.h"

#include "FixtureFile.h"
#include "ItemFromFeed.h"
#include "TempFolder.h"

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include "FakeReader.h"
#include "GReaderClient.h"

using greader::TApiItem;
using testsupport::LoopbackServer;

namespace {

// The fixture's items and subscriptions, read through the client as a
// server would send them.
struct Parsed {
    std::vector<TApiItem> Items;
    std::vector<greader::TSubscription> Subscriptions;
};

Parsed ParseFixtures() {
    LoopbackServer server;
    server.AddEndpoint(synctest::ApiPath("stream/items/contents"), 200, {},
                       testsupport::ReadFixtureFile(SYNC_TEST_DATA "/contents_two_feeds.json"));
    server.AddEndpoint(synctest::ApiPath("subscription/list"), 200, {},
                       testsupport::ReadFixtureFile(SYNC_TEST_DATA "/subscriptions.json"));
    greader::TGReaderClient client(server.Url(synctest::kApi));
    Parsed parsed;
    client.ItemContents({0x662245f63b021ULL, 1796758218977312ULL, 255}, [&](std::vector<TApiItem>& batch) {
        parsed.Items.insert(parsed.Items.end(), batch.begin(), batch.end());
    });
    parsed.Subscriptions = client.SubscriptionList();
    return parsed;
}

}  // namespace

TEST(Mapping, ItemsBecomeFeedItemsAndStoredItems) {
    const Parsed parsed = ParseFixtures();
    ASSERT_EQ(parsed.Items.size(), 3u);
    const struct {
        const char* guid;
        const char* title;
        const char* link;
        const char* description;
        const char* content;
        const char* author;
        bool dated;
        bool read;
        int categories;
        const char* enclosure;
    } expected[] = {
        {"tag:google.com,2005:reader/item/000662245f63b021", "A2 & more", "http://example.org/a/2", "two", "", "", true,
         true, 0, ""},
        {"tag:google.com,2005:reader/item/000662245f63b020", "A1", "http://example.org/a/1", "short",
         "<p>long body</p>", "Xavier", true, false, 1, "http://example.org/a.mp3"},
        {"tag:google.com,2005:reader/item/00000000000000ff", "B1", "", "only content", "", "", false, false, 0, ""},
    };
    feed::TFeedDocument document;
    for (std::size_t i = 0; i < parsed.Items.size(); ++i) {
        const auto& e = expected[i];
        SCOPED_TRACE(e.title);
        const feed::TRSSItem& item = greader::AppendItem(document, parsed.Items[i]);
        EXPECT_EQ(item.GUID().GUID(), e.guid);
        EXPECT_EQ(item.Title(), e.title);
        EXPECT_EQ(item.Link(), e.link);
        EXPECT_EQ(item.Description(), e.description);
        EXPECT_EQ(item.Content(), e.content);
        EXPECT_EQ(item.Author().Name, e.author);
        EXPECT_EQ(item.PubDate().Modified(), e.dated);
        EXPECT_EQ(greader::IsRead(parsed.Items[i]), e.read);
        EXPECT_EQ(item.Categories().Count(), e.categories);
        EXPECT_EQ(item.Enclosure().URL(), e.enclosure);
        const items::TStoredItem stored = greader::StoredItemFrom(parsed.Items[i]);
        EXPECT_EQ(stored.Guid, e.guid);
        EXPECT_EQ(stored.Body, std::string(*e.content ? e.content : e.description));
        EXPECT_EQ(stored.DateUTC.has_value(), e.dated);
    }
    EXPECT_EQ(greader::StoredItemFrom(parsed.Items[1]).DateUTC, 1704103200);
    EXPECT_EQ(parsed.Items[1].StreamId, "feed/1");
    EXPECT_EQ(parsed.Items[2].StreamId, "feed/2");
}

TEST(Mapping, StoredCopyOfAnAccountFeedReadsBack) {
    const Parsed parsed = ParseFixtures();
    const auto account = greader::AccountFeedFrom(parsed.Subscriptions[0]);
    EXPECT_EQ(account.Folders, std::vector<std::string>{"Tech"});
    auto document = greader::NewFeedDocument(account);
    for (const auto& item : parsed.Items)
        if (item.StreamId == account.Id) greader::AppendItem(*document, item);
    testsupport::TempFolder folder;
    document->SaveToFile(folder.File("1.xml"));
    feed::TFeedDocument reread;
    reread.LoadFromFile(folder.File("1.xml"));
    EXPECT_EQ(reread.Channel().Required().Title(), "Feed A");
    EXPECT_EQ(reread.Channel().Required().Link(), "http://example.org/a");
    ASSERT_EQ(reread.Items().Count(), 2);
    EXPECT_EQ(reread.Items()[1].GUID().GUID(), "tag:google.com,2005:reader/item/000662245f63b020");
    EXPECT_EQ(reread.Items()[1].Enclosure().EnclosureType(), "audio/mpeg");
    // The store meets the re-read copy's items under the same identity.
    EXPECT_EQ(items::StoredItemFromFeed(reread.Items()[1]).DateUTC, greader::StoredItemFrom(parsed.Items[1]).DateUTC);
}

TEST(Mapping, LabelsAreFoldersWhateverTheUser) {
    const struct {
        const char* category;
        const char* name;
    } cases[] = {{"user/-/label/Tech", "Tech"},
                 {"user/1234/label/Ünïcode & co", "Ünïcode & co"},
                 {"user/-/state/com.google/read", ""},
                 {"user/-/label/", ""},
                 {"feed/12", ""},
                 {"news", ""}};
    for (const auto& c : cases) EXPECT_EQ(greader::LabelName(c.category), c.name) << c.category;
}

TEST(Mapping, LooseAddressesMeetWhereServersRewriteThem) {
    const struct {
        const char *typed, *stored;
        bool same;
    } cases[] = {
        {"http://example.org/feed.xml", "https://example.org/feed.xml", true},
        {"http://Example.ORG:80/blog/", "https://www.example.org:443/blog#top", true},
        {"example.org/feed", " https://example.org/feed/ ", true},
        {"http://example.org/Feed", "http://example.org/feed", false},  // paths keep their case
        {"http://example.org/feed?a=1", "http://example.org/feed?a=2", false},
        {"http://example.org:8080/feed", "http://example.org/feed", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(greader::LooseAddress(c.typed) == greader::LooseAddress(c.stored), c.same) << c.typed;
}

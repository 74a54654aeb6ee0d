// End to end against a real FreshRSS: the feeds are served here, FreshRSS
// fetches them when told, and the engine syncs. The tests of the suite run
// in order on one server, each building on the state the last one left.
#include "AccountSync.h"
#include "FreshRss.h"

#include "LoopbackServer.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

using greader::TAccountSync;
using greader::TGReaderClient;
using greader::TSyncErrorKind;

namespace {

std::string Rss(const std::string& title, int items, const std::string& prefix) {
    std::string text = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + title +
                       "</title><link>http://127.0.0.1/" + prefix + "</link><description>d</description>";
    for (int i = 1; i <= items; ++i)
        text += "<item><title>" + prefix + " " + std::to_string(i) + "</title><link>http://127.0.0.1/" + prefix + "/" +
                std::to_string(i) + "</link><guid>" + prefix + "-" + std::to_string(i) + "</guid><description>Body " +
                std::to_string(i) + "</description></item>";
    return text + "</channel></rss>";
}

class FreshRssSync : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string why;
        if (!synctest::FreshRss::Available(why)) {
            Skip = why;
            return;
        }
        Folder = new testsupport::TempFolder("quillet-freshrss");
        Feeds = new testsupport::LoopbackServer;
        for (const char* name : {"tech", "news", "extra"})
            Feeds->AddHandler(std::string("/") + name + ".xml", [name](const testsupport::Request&) {
                std::lock_guard lock(Mutex);
                testsupport::Response response;
                response.body = Rss(name, ItemCount[name], name);
                response.headers = {{"Content-Type", "application/rss+xml"}};
                return response;
            });
        const std::string opml = Folder->File("feeds.opml");
        synctest::WriteTechNewsOpml(opml, Feeds->Url("/tech.xml"), Feeds->Url("/news.xml"));
        Server = new synctest::FreshRss(Folder->File("server"), opml);
        Store = items::TItemStore::Open(Folder->File("items.db")).Store.release();
        Sync =
            new TAccountSync({"freshrss", Server->ApiUrl(), synctest::FreshRss::kUser, synctest::FreshRss::kPassword},
                             *Store, Folder->File("freshrss.json"));
    }
    static void TearDownTestSuite() {
        delete Sync;
        delete Store;
        delete Server;
        delete Feeds;
        delete Folder;
    }
    void SetUp() override {
        if (!Skip.empty()) GTEST_SKIP() << Skip;
    }

    // A sync whose new items are kept by guid.
    static greader::TSyncResult Run() {
        return Sync->Sync([](greader::TFeedBatch& batch) {
            for (const auto& item : batch.Items) Seen[item.Item.Title] = item.Id;
        });
    }
    // Another client of the same account: a phone, say.
    static TGReaderClient Elsewhere() {
        TGReaderClient client(Server->ApiUrl());
        client.ClientLogin(synctest::FreshRss::kUser, synctest::FreshRss::kPassword);
        return client;
    }
    static bool UnreadOnServer(greader::TItemId id) {
        greader::TIdQuery query;
        query.Exclude = greader::kReadState;
        const auto unread = Elsewhere().AllItemIds(query);
        return std::find(unread.begin(), unread.end(), id) != unread.end();
    }
    static bool StarredOnServer(greader::TItemId id) {
        greader::TIdQuery query;
        query.Stream = greader::kStarredState;
        const auto starred = Elsewhere().AllItemIds(query);
        return std::find(starred.begin(), starred.end(), id) != starred.end();
    }
    static const greader::TAccountFeed* Feed(const greader::TSyncResult& result, const std::string& title) {
        for (const auto* list : {&result.Subscriptions.Added, &result.Subscriptions.Changed})
            for (const auto& feed : *list)
                if (feed.Title == title) return &feed;
        return nullptr;
    }

    static inline std::string Skip;
    static inline testsupport::TempFolder* Folder = nullptr;
    static inline testsupport::LoopbackServer* Feeds = nullptr;
    static inline synctest::FreshRss* Server = nullptr;
    static inline items::TItemStore* Store = nullptr;
    static inline TAccountSync* Sync = nullptr;
    static inline std::mutex Mutex;
    static inline std::map<std::string, int> ItemCount{{"tech", 2}, {"news", 1}, {"extra", 1}};
    static inline std::map<std::string, greader::TItemId> Seen;
    static inline std::string ExtraStream;
};

}  // namespace

TEST_F(FreshRssSync, FirstSyncFillsFolders) {
    const auto result = Run();
    ASSERT_TRUE(result.Ok) << result.Error->what();
    EXPECT_EQ(result.NewItemCount, 3);
    ASSERT_EQ(result.Subscriptions.Added.size(), 2u);
    ASSERT_NE(Feed(result, "tech"), nullptr);
    EXPECT_EQ(Feed(result, "tech")->Folders, std::vector<std::string>{"Tech"});
    EXPECT_EQ(Feed(result, "news")->Folders, std::vector<std::string>{"News"});
    EXPECT_EQ(result.Subscriptions.Labels, (std::vector<std::string>{"News", "Tech"}));
    EXPECT_TRUE(Seen.count("tech 2"));
}

TEST_F(FreshRssSync, NewItemAfterTheServerRefreshes) {
    const auto unchanged = Run();
    ASSERT_TRUE(unchanged.Ok);
    EXPECT_EQ(unchanged.NewItemCount, 0);
    EXPECT_LE(unchanged.Requests, 3);
    {
        std::lock_guard lock(Mutex);
        ItemCount["news"] = 2;
    }
    Server->Refresh();
    const auto result = Run();
    ASSERT_TRUE(result.Ok) << result.Error->what();
    EXPECT_EQ(result.NewItemCount, 1);
    EXPECT_TRUE(Seen.count("news 2"));
}

TEST_F(FreshRssSync, ReadStateTravelsBothWays) {
    const auto readHere = Seen.at("tech 1");
    Sync->Queue().MarkRead({readHere});
    ASSERT_TRUE(Run().Ok);
    EXPECT_TRUE(Sync->Queue().Pending().empty());
    EXPECT_FALSE(UnreadOnServer(readHere));

    const auto readThere = Seen.at("tech 2");
    Elsewhere().EditTag({readThere}, greader::kReadState, "");
    const auto result = Run();
    ASSERT_TRUE(result.Ok);
    const auto it = std::find_if(result.ReadChanges.begin(), result.ReadChanges.end(),
                                 [&](const auto& change) { return change.Guid == greader::LongItemId(readThere); });
    ASSERT_NE(it, result.ReadChanges.end());
    EXPECT_TRUE(it->Read);

    Sync->Queue().MarkUnread({readHere});
    ASSERT_TRUE(Run().Ok);
    EXPECT_TRUE(UnreadOnServer(readHere));

    // Unread again there, after a sync that left it read: this side is told.
    ASSERT_TRUE(Run().Ok);
    Elsewhere().EditTag({readThere}, "", greader::kReadState);
    const auto again = Run();
    ASSERT_TRUE(again.Ok);
    const auto unreadAgain = std::find_if(again.ReadChanges.begin(), again.ReadChanges.end(), [&](const auto& change) {
        return change.Guid == greader::LongItemId(readThere);
    });
    ASSERT_NE(unreadAgain, again.ReadChanges.end());
    EXPECT_FALSE(unreadAgain->Read);
}

TEST_F(FreshRssSync, SubscribeRenameMoveUnsubscribe) {
    Sync->Queue().Subscribe(Feeds->Url("/extra.xml"), "", "News");
    auto result = Run();
    ASSERT_TRUE(result.Ok) << result.Error->what();
    ASSERT_EQ(result.Subscriptions.Added.size(), 1u);
    const auto extra = result.Subscriptions.Added[0];
    EXPECT_EQ(extra.Folders, std::vector<std::string>{"News"});

    Sync->Queue().Rename(extra.Id, "Extra renamed");
    Sync->Queue().Move(extra.Id, "News", "Later");
    result = Run();
    ASSERT_TRUE(result.Ok) << result.Error->what();
    ASSERT_EQ(result.Subscriptions.Changed.size(), 1u);
    EXPECT_EQ(result.Subscriptions.Changed[0].Title, "Extra renamed");
    EXPECT_EQ(result.Subscriptions.Changed[0].Folders, std::vector<std::string>{"Later"});

    Sync->Queue().Unsubscribe(extra.Id);
    result = Run();
    ASSERT_TRUE(result.Ok) << result.Error->what();
    ASSERT_EQ(result.Subscriptions.Removed.size(), 1u);
    EXPECT_EQ(result.Subscriptions.Removed[0].Id, extra.Id);
}

// Renamed and moved on another device: a sync the user asks for shows it,
// timed ones within two (a sync that finds nothing within three requests,
// one that finds the change within four).
TEST_F(FreshRssSync, RenameAndMoveElsewhere) {
    std::string id;
    for (const auto& s : Elsewhere().SubscriptionList())
        if (s.Title == "news") id = s.Id;
    ASSERT_FALSE(id.empty());
    using TAction = greader::TSubscriptionEdit::TAction;
    const struct {
        bool asked;
        const char* title;
        const char* from;
        const char* to;
    } steps[] = {{true, "News there", "News", "There"}, {false, "news", "There", "News"}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.title);
        Elsewhere().EditSubscription({TAction::Edit,
                                      id,
                                      step.title,
                                      {greader::kLabelPrefix + std::string(step.to)},
                                      {greader::kLabelPrefix + std::string(step.from)}});
        if (step.asked) Sync->ListSubscriptionsNext();
        auto result = Run();
        ASSERT_TRUE(result.Ok) << result.Error->what();
        if (!step.asked && !Feed(result, step.title)) {
            EXPECT_LE(result.Requests, 3);
            result = Run();
            ASSERT_TRUE(result.Ok) << result.Error->what();
        }
        EXPECT_LE(result.Requests, 4);
        ASSERT_NE(Feed(result, step.title), nullptr);
        EXPECT_EQ(Feed(result, step.title)->Folders, std::vector<std::string>{step.to});
    }
}

TEST_F(FreshRssSync, QueueWaitsOutAStoppedServer) {
    const auto id = Seen.at("news 1");
    Server->Stop();
    Sync->Queue().MarkRead({id});
    const auto offline = Run();
    ASSERT_FALSE(offline.Ok);
    EXPECT_EQ(offline.Error->Kind(), TSyncErrorKind::Unreachable) << offline.Error->what();
    EXPECT_TRUE(offline.NextAttempt.has_value());
    EXPECT_EQ(Sync->Queue().Pending().size(), 1u);

    Server->Start();
    const auto back = Run();
    ASSERT_TRUE(back.Ok) << back.Error->what();
    EXPECT_EQ(back.SentChanges, 1);
    EXPECT_TRUE(Sync->Queue().Pending().empty());
    EXPECT_FALSE(UnreadOnServer(id));
}

// Starred there shows here at the next sync; starred here shows there; an
// unstar made while the server is down is sent once it is back.
TEST_F(FreshRssSync, StarsTravelBothWaysAndWaitOutAStoppedServer) {
    const auto there = Seen.at("tech 2"), here = Seen.at("news 2");
    for (const auto id : {there, here}) {
        items::TStoredItem item;
        item.Guid = greader::LongItemId(id);
        Store->SeedFromItems(Sync->State().Known.at(id), {item}, 10);
    }
    std::map<std::string, std::string> feeds;  // the streams are the store's feeds here
    for (const auto& s : Sync->State().Subscriptions) feeds[s.Id] = s.Id;

    Elsewhere().EditTag({there}, greader::kStarredState, "");
    auto result = Run();
    ASSERT_TRUE(result.Ok) << result.Error->what();
    EXPECT_EQ(greader::ApplyStarChanges(*Store, "freshrss", result.StarChanges, feeds).size(), 1u);
    const auto starred = Store->StarredItems(10);
    ASSERT_EQ(starred.size(), 1u);
    EXPECT_EQ(starred[0].Key, "g:" + greader::LongItemId(there));
    EXPECT_EQ(starred[0].FeedTitle, "tech");

    Sync->Queue().Star({here});
    ASSERT_TRUE(Run().Ok);
    EXPECT_TRUE(StarredOnServer(here));

    Server->Stop();
    Sync->Queue().Unstar({here});
    EXPECT_FALSE(Run().Ok);
    Server->Start();
    result = Run();
    ASSERT_TRUE(result.Ok) << result.Error->what();
    EXPECT_EQ(result.SentChanges, 1);
    EXPECT_FALSE(StarredOnServer(here));
    EXPECT_TRUE(StarredOnServer(there));
}

TEST_F(FreshRssSync, WrongPasswordIsToldApart) {
    TGReaderClient client(Server->ApiUrl());
    try {
        client.ClientLogin(synctest::FreshRss::kUser, "not-the-password");
        FAIL() << "signed in";
    } catch (const greader::TSyncError& error) {
        EXPECT_EQ(error.Kind(), TSyncErrorKind::WrongPassword);
    }
    // A site's address finds the API below it.
    const std::string site = Server->ApiUrl().substr(0, Server->ApiUrl().find("/api/greader.php"));
    testsupport::TempFolder folder;
    TAccountSync fromSite({"site", site, synctest::FreshRss::kUser, synctest::FreshRss::kPassword}, *Store,
                          folder.File("site.json"));
    const auto result = fromSite.Sync({});
    EXPECT_TRUE(result.Ok) << result.Error->what();
    EXPECT_EQ(fromSite.Client().Base(), Server->ApiUrl());
}

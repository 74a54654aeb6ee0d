#include "AccountSync.h"

#include "FakeReader.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>

using namespace std::chrono_literals;
using greader::TAccountSync;
using greader::TSyncErrorKind;
using testsupport::LoopbackServer;
using testsupport::Request;
using testsupport::Response;

namespace {

// A reading list of `count` items numbered count..1 (newest first), all in
// feed/1 and unread, served by id pages and content posts.
class FakeAccount {
public:
    explicit FakeAccount(int count) : FCount(count) {
        synctest::AddSignIn(Server);
        Server.AddEndpoint(synctest::ApiPath("subscription/list"), 200, {},
                           R"({"subscriptions":[{"id":"feed/1","title":"One","url":"http://x/1.xml",)"
                           R"("htmlUrl":"http://x/","categories":[{"id":"user/-/label/News","label":"News"}]}]})");
        Server.AddEndpoint(synctest::ApiPath("tag/list"), 200, {}, R"({"tags":[{"id":"user/-/label/News"}]})");
        Server.AddHandler(synctest::ApiPath("stream/items/ids"), [this](const Request& r) { return Ids(r); });
        Server.AddHandler(synctest::ApiPath("stream/items/contents"), [this](const Request& r) { return Contents(r); });
        Server.AddHandler(synctest::ApiPath("edit-tag"), [this](const Request& r) { return Write(r); });
        Server.AddHandler(synctest::ApiPath("subscription/edit"), [this](const Request& r) { return Write(r); });
        Server.AddHandler(synctest::ApiPath("unread-count"), [this](const Request& r) {
            Response response;
            if (Refuse(r, response)) return response;
            std::lock_guard lock(FMutex);
            // As a server counts: each feed, each label, and the reading
            // list with its newest item's stamp.
            const std::string unread = std::to_string(FCount - static_cast<int>(FRead.size()));
            const std::string newest = std::to_string(OneSecond ? 7 : FCount) + "000000";
            std::string body = R"({"max":1000,"unreadcounts":[{"id":"feed/1","count":)" + unread + "}";
            for (const std::string& label : CountedLabels)
                body += R"(,{"id":"user/-/label/)" + label + R"(","count":)" + unread + "}";
            response.body = body + R"(,{"id":"user/-/state/com.google/reading-list","count":)" + unread +
                            (CountsStamp ? R"(,"newestItemTimestampUsec":")" + newest + "\"" : "") + "}]}";
            return response;
        });
    }

    Response Ids(const Request& request) {
        Response response;
        if (Refuse(request, response)) return response;
        const int page = std::stoi(request.FormValue("n"));
        const std::string c = request.FormValue("c");
        int next = c.empty() ? FCount : std::stoi(c);
        // ot: items newer than that second; item i is stamped i seconds,
        // or all of them in one second (one refresh of the server).
        const std::string ot = request.FormValue("ot");
        const int oldest = ot.empty() || OneSecond ? 1 : std::stoi(ot);
        std::string body = "{\"itemRefs\":[";
        int written = 0;
        const bool starred = request.FormValue("s") == greader::kStarredState;
        for (; next >= oldest && written < page; --next) {
            std::lock_guard lock(FMutex);
            if (!request.FormValue("xt").empty() && FRead.count(next)) continue;
            if (starred && !FStarred.count(next)) continue;
            body += (written++ ? ",{\"id\":\"" : "{\"id\":\"") + std::to_string(next) + "\"}";
        }
        body += "]";
        if (next >= oldest) body += ",\"continuation\":\"" + std::to_string(next) + "\"";
        response.body = body + "}";
        return response;
    }

    Response Contents(const Request& request) {
        Response response;
        if (Refuse(request, response)) return response;
        const auto ids = request.FormValues("i");
        LargestBatch = std::max<int>(LargestBatch, static_cast<int>(ids.size()));
        std::string body = "{\"items\":[";
        for (std::size_t i = 0; i < ids.size(); ++i) {
            body += (i ? "," : "") + std::string("{\"id\":\"") + ids[i] + "\",\"timestampUsec\":\"" +
                    (OneSecond ? std::string("7") : ids[i]) + "000000\",\"title\":\"Item " + ids[i] +
                    "\",\"categories\":[],\"origin\":{\"streamId\":\"feed/1\"},\"summary\":{\"content\":\"x\"}}";
        }
        response.body = body + "]}";
        return response;
    }

    Response Write(const Request& request) {
        Response response;
        if (Refuse(request, response)) return response;
        if (FailWrites) {
            response.statusLine = testsupport::StatusLine(500);
            return response;
        }
        if (request.FormValue("s") == "feed/unknown") {
            response.statusLine = testsupport::StatusLine(400);
            return response;
        }
        std::lock_guard lock(FMutex);
        for (const auto& id : request.FormValues("i")) {
            if (request.FormValue("a") == greader::kReadState) FRead.insert(std::stoi(id));
            if (request.FormValue("r") == greader::kReadState) FRead.erase(std::stoi(id));
            if (request.FormValue("a") == greader::kStarredState) FStarred.insert(std::stoi(id));
            if (request.FormValue("r") == greader::kStarredState) FStarred.erase(std::stoi(id));
        }
        response.body = "OK";
        return response;
    }

    // Refuses the session once when asked to (an expired session mid-sync).
    bool Refuse(const Request& request, Response& response) {
        if (request.Header("Authorization") == std::string("GoogleLogin auth=") + synctest::kAuth &&
            !RefuseNext.exchange(false))
            return false;
        response.statusLine = testsupport::StatusLine(401);
        return true;
    }

    void MarkReadOnServer(int id, bool read = true) { Tag(FRead, id, read); }
    bool ReadOnServer(int id) { return Tagged(FRead, id); }
    void StarOnServer(int id, bool starred = true) { Tag(FStarred, id, starred); }
    bool StarredOnServer(int id) { return Tagged(FStarred, id); }

    LoopbackServer Server;
    std::atomic<bool> RefuseNext{false};
    std::atomic<bool> FailWrites{false};
    std::atomic<int> LargestBatch{0};
    bool OneSecond = false;
    std::vector<std::string> CountedLabels{"News"};
    bool CountsStamp = true;

private:
    int FCount;
    std::mutex FMutex;
    void Tag(std::set<int>& tagged, int id, bool on) {
        std::lock_guard lock(FMutex);
        if (on)
            tagged.insert(id);
        else
            tagged.erase(id);
    }
    bool Tagged(const std::set<int>& tagged, int id) {
        std::lock_guard lock(FMutex);
        return tagged.count(id) > 0;
    }

    std::set<int> FRead;
    std::set<int> FStarred;
};

struct Harness {
    explicit Harness(FakeAccount& account, std::string password = "secret")
        : Store(items::TItemStore::Open(Folder.File("items.db")).Store),
          Sync({"acct", account.Server.Url(synctest::kApi), "alice", std::move(password)}, *Store,
               Folder.File("acct.json"), [this] { return Now; }) {}

    greader::TSyncResult Run() {
        return Sync.Sync([this](greader::TFeedBatch& batch) {
            for (const auto& item : batch.Items) Delivered.push_back(item.Id);
            LargestDelivery = std::max(LargestDelivery, batch.Items.size());
        });
    }

    testsupport::TempFolder Folder;
    std::unique_ptr<items::TItemStore> Store;
    std::chrono::system_clock::time_point Now{std::chrono::seconds(1'800'000'000)};
    TAccountSync Sync;
    std::vector<greader::TItemId> Delivered;
    std::size_t LargestDelivery = 0;
};

}  // namespace

// Read elsewhere: the counts, which moved, the unread ids and the starred
// ids; nothing new and no label moved, so neither new ids nor tags.
TEST(AccountSync, FirstSyncThenReadElsewhereCostsThreeSmallRequests) {
    FakeAccount account(30);
    Harness h(account);
    auto first = h.Run();
    ASSERT_TRUE(first.Ok) << first.Error->what();
    EXPECT_EQ(first.NewItemCount, 30);
    ASSERT_EQ(first.Subscriptions.Added.size(), 1u);
    EXPECT_EQ(first.Subscriptions.Added[0].Folders, std::vector<std::string>{"News"});
    EXPECT_EQ(first.Subscriptions.Labels, std::vector<std::string>{"News"});

    account.MarkReadOnServer(5);
    const auto second = h.Run();
    ASSERT_TRUE(second.Ok);
    EXPECT_EQ(second.NewItemCount, 0);
    EXPECT_EQ(second.Requests, 3);
    ASSERT_EQ(second.ReadChanges.size(), 1u);
    EXPECT_EQ(second.ReadChanges[0].Guid, greader::LongItemId(5));
    EXPECT_EQ(second.ReadChanges[0].StreamId, "feed/1");
    EXPECT_TRUE(second.ReadChanges[0].Read);

    // Unread again elsewhere, after this sync forgot the read item: it comes
    // again, and the store is told, since it keeps the state of what it holds.
    account.MarkReadOnServer(5, false);
    const auto unreadAgain = h.Run();
    ASSERT_TRUE(unreadAgain.Ok);
    ASSERT_EQ(unreadAgain.ReadChanges.size(), 1u);
    EXPECT_EQ(unreadAgain.ReadChanges[0].Guid, greader::LongItemId(5));
    EXPECT_EQ(unreadAgain.ReadChanges[0].StreamId, "feed/1");
    EXPECT_FALSE(unreadAgain.ReadChanges[0].Read);

    // The state survives a new engine (a restart): still nothing to fetch.
    Harness again(account);
    std::filesystem::copy_file(h.Folder.File("acct.json"), again.Folder.File("acct.json"));
    TAccountSync restarted({"acct", account.Server.Url(synctest::kApi), "alice", "secret"}, *again.Store,
                           again.Folder.File("acct.json"));
    const auto third = restarted.Sync({});
    EXPECT_TRUE(third.Ok);
    EXPECT_EQ(third.NewItemCount, 0);
    EXPECT_TRUE(third.ReadChanges.empty());
}

// Stars both ways through the queue and the starred list; an item read
// and forgotten long ago, starred elsewhere, is fetched again to be shown.
TEST(AccountSync, StarsTravelBothWaysAndAQueuedOneIsNeverUndone) {
    FakeAccount account(5);
    // Without the counts' stamp each sync reads the newest ids and forgets
    // the items it need not know: one starred elsewhere later comes again.
    account.CountsStamp = false;
    Harness h(account);
    const std::map<std::string, std::string> feeds{{"feed/1", "10"}};
    const auto sync = [&] {
        auto result = h.Sync.Sync([&](greader::TFeedBatch& batch) {
            std::vector<items::TStoredItem> stored;
            for (const auto& item : batch.Items) stored.push_back(item.Item);
            h.Store->RecordDownload("10", stored, 10);
        });
        EXPECT_TRUE(result.Ok) << result.Error->what();
        return std::pair(result.StarChanges.size(),
                         greader::ApplyStarChanges(*h.Store, "acct", result.StarChanges, feeds));
    };
    const auto key = [](int id) { return "g:" + greader::LongItemId(static_cast<greader::TItemId>(id)); };
    const auto starredHere = [&] { return h.Store->StarredKeys("10"); };
    account.MarkReadOnServer(1);
    sync();

    account.StarOnServer(2);
    EXPECT_EQ(sync().second, std::set<std::string>{"10"});
    EXPECT_EQ(h.Store->StarredItems(1).at(0).FeedTitle, "One");
    account.StarOnServer(2, false);
    account.StarOnServer(1);
    const int contentsBefore = account.Server.NumHits(synctest::ApiPath("stream/items/contents"));
    EXPECT_EQ(sync().first, 2u);
    EXPECT_EQ(account.Server.NumHits(synctest::ApiPath("stream/items/contents")), contentsBefore + 1);
    EXPECT_EQ(starredHere(), std::vector<std::string>{key(1)});

    // Starred here while a sync read the server's list without it.
    h.Store->SetItemStarred("10", key(3), true);
    h.Sync.Queue().Star({3});
    const std::vector<greader::TStarChange> stale{{"feed/1", greader::LongItemId(3), "One", false}};
    EXPECT_TRUE(greader::ApplyStarChanges(*h.Store, "acct", stale, feeds).empty());
    EXPECT_EQ(sync().first, 1u);
    EXPECT_TRUE(account.StarredOnServer(3));
    EXPECT_EQ(starredHere(), (std::vector<std::string>{key(3), key(1)}));
}

TEST(AccountSync, SessionRefusedMidSyncSignsInAgainOnce) {
    FakeAccount account(3);
    Harness h(account);
    ASSERT_TRUE(h.Run().Ok);
    account.RefuseNext = true;
    const auto result = h.Run();
    EXPECT_TRUE(result.Ok);
    EXPECT_EQ(account.Server.NumHits(std::string(synctest::kApi) + "/accounts/ClientLogin"), 2);

    Harness wrong(account, "changed-on-the-server");
    const auto refused = wrong.Run();
    ASSERT_FALSE(refused.Ok);
    EXPECT_EQ(refused.Error->Kind(), TSyncErrorKind::WrongPassword);
    EXPECT_FALSE(refused.NextAttempt.has_value());
}

TEST(AccountSync, QueueIsSentInOrderAndKeptUntilTheServerTakesIt) {
    FakeAccount account(5);
    Harness h(account);
    ASSERT_TRUE(h.Run().Ok);
    h.Sync.Queue().MarkRead({1, 2});
    h.Sync.Queue().MarkRead({3});
    h.Sync.Queue().MarkUnread({2});
    // Written down while the store was out of reach, enqueued later: the same.
    std::vector<items::TPendingChange> recorded;
    greader::TChangeQueue later(recorded, "acct", [] { return 7; });
    later.Unsubscribe("feed/unknown");
    later.Rename("feed/1", "Renamed");
    h.Store->EnqueueAll(recorded);

    account.FailWrites = true;
    const auto failed = h.Run();
    ASSERT_FALSE(failed.Ok);
    EXPECT_EQ(failed.Error->Kind(), TSyncErrorKind::Server);
    EXPECT_EQ(failed.NextAttempt, h.Now + 60s);
    EXPECT_EQ(h.Sync.Queue().Pending().size(), 5u);

    account.FailWrites = false;
    const auto sent = h.Run();
    ASSERT_TRUE(sent.Ok) << sent.Error->what();
    EXPECT_EQ(sent.SentChanges, 5);
    EXPECT_EQ(sent.RejectedChanges.size(), 1u);
    EXPECT_TRUE(h.Sync.Queue().Pending().empty());
    EXPECT_TRUE(account.ReadOnServer(1));
    EXPECT_FALSE(account.ReadOnServer(2));
    EXPECT_TRUE(account.ReadOnServer(3));
    EXPECT_TRUE(sent.Subscriptions.Listed);  // a subscription change brings the list forward
}

TEST(AccountSync, BackoffDoublesUpToAnHourAndHonoursRetryAfter) {
    using greader::TSyncError;
    const auto now = std::chrono::system_clock::time_point(std::chrono::seconds(1'000'000));
    const TSyncError server(TSyncErrorKind::Server, "500");
    const struct {
        TSyncError error;
        std::optional<std::chrono::seconds> delay;
    } steps[] = {
        {server, 60s},
        {TSyncError(TSyncErrorKind::TimedOut, "slow"), 120s},
        {TSyncError(TSyncErrorKind::Unreachable, "down"), 240s},
        {TSyncError(TSyncErrorKind::Server, "503", 503, now + 7200s), 7200s},
        {server, 960s},
        {server, 1920s},
        {server, 3600s},
        {server, 3600s},
        {TSyncError(TSyncErrorKind::WrongPassword, "401"), std::nullopt},
        {TSyncError(TSyncErrorKind::Tls, "certificate"), std::nullopt},
    };
    greader::TBackoff backoff;
    for (const auto& step : steps) {
        const auto next = backoff.Failed(step.error, now);
        EXPECT_EQ(next.has_value(), step.delay.has_value()) << step.error.what();
        if (next && step.delay) {
            EXPECT_EQ(*next - now, *step.delay) << step.error.what();
        }
    }
    backoff.Succeeded();
    EXPECT_EQ(*backoff.Failed(server, now) - now, 60s);
}

// Counts without the newest stamp or the labels, or no counts at all, cost
// the requests they stand in for, and nothing done elsewhere is missed.
TEST(AccountSync, CountsThatTellLessCostTheListsTheyStandInFor) {
    const struct {
        const char* what;
        std::function<void(FakeAccount&)> shape;
        int unchangedRequests;
    } cases[] = {
        {"whole counts: the counts and the starred ids", [](FakeAccount&) {}, 2},
        {"no stamp: the new ids too", [](FakeAccount& a) { a.CountsStamp = false; }, 3},
        {"no labels: the tag list too", [](FakeAccount& a) { a.CountedLabels.clear(); }, 3},
        {"counts not understood: tags, new ids, unread ids and starred ids",
         [](FakeAccount& a) { a.Server.AddEndpoint(synctest::ApiPath("unread-count"), 200, {}, "<html>"); }, 4},
        {"counts not implemented",
         [](FakeAccount& a) { a.Server.AddEndpoint(synctest::ApiPath("unread-count"), 501, {}, "no"); }, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeAccount account(30);
        c.shape(account);
        Harness h(account);
        ASSERT_TRUE(h.Run().Ok);
        const auto unchanged = h.Run();
        ASSERT_TRUE(unchanged.Ok) << unchanged.Error->what();
        EXPECT_EQ(unchanged.Requests, c.unchangedRequests);
        account.MarkReadOnServer(3);
        account.StarOnServer(4);
        const auto changed = h.Run();
        ASSERT_TRUE(changed.Ok) << changed.Error->what();
        ASSERT_EQ(changed.ReadChanges.size(), 1u);
        EXPECT_EQ(changed.ReadChanges[0].Guid, greader::LongItemId(3));
        ASSERT_EQ(changed.StarChanges.size(), 1u);
        EXPECT_EQ(changed.StarChanges[0].Guid, greader::LongItemId(4));
    }
}

TEST(AccountSync, HugeReadingListArrivesInBoundedBatches) {
    constexpr int kItems = 100'000;
    FakeAccount account(kItems);
    Harness h(account);
    const auto start = std::chrono::steady_clock::now();
    const auto result = h.Run();
    ASSERT_TRUE(result.Ok) << result.Error->what();
    EXPECT_EQ(result.NewItemCount, kItems);
    EXPECT_EQ(h.Delivered.size(), static_cast<std::size_t>(kItems));
    EXPECT_EQ(account.LargestBatch, static_cast<int>(greader::TGReaderClient::kLargestContentsBatch));
    EXPECT_LE(h.LargestDelivery, greader::TGReaderClient::kLargestContentsBatch);
    // 250 first, then doubling: 250 + 500 + 99 x 1,000 + 250.
    EXPECT_EQ(account.Server.NumHits(synctest::ApiPath("stream/items/contents")), 102);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
}

TEST(AccountSync, LongUnreadListIsAskedForOnlyWhenTheCountsMove) {
    for (const bool oneSecond : {false, true}) {
        SCOPED_TRACE(oneSecond ? "every item in one second" : "an item a second");
        FakeAccount account(1500);
        account.OneSecond = oneSecond;
        Harness h(account);
        ASSERT_TRUE(h.Run().Ok);
        struct Step {
            const char* what;
            int readOnServer;  // 0: nothing changes
            int requests;
            std::size_t readChanges;
        };
        const Step steps[] = {
            {"unchanged: the counts and the starred ids", 0, 2, 0},
            {"read elsewhere: the counts moved, the list tells which; the subscription list is due", 7, 4, 1},
            {"unchanged again", 0, 2, 0},
        };
        for (const Step& step : steps) {
            SCOPED_TRACE(step.what);
            if (step.readOnServer) account.MarkReadOnServer(step.readOnServer);
            const auto result = h.Run();
            ASSERT_TRUE(result.Ok) << result.Error->what();
            EXPECT_EQ(result.Requests, step.requests);
            EXPECT_EQ(result.ReadChanges.size(), step.readChanges);
            if (step.readOnServer == 0) {
                EXPECT_LT(result.BytesReceived, 10'000u);
            }
        }
    }
}

TEST(AccountSync, SubscriptionsSentKeepTheServersStreamUntilAListIsHandedOver) {
    FakeAccount account(2);
    account.Server.AddHandler(synctest::ApiPath("subscription/quickadd"), [](const Request& request) {
        Response response;
        response.body = request.FormValue("quickadd") == "http://x/gone.xml" ? R"({"numResults":0,"error":"HTTP 404"})"
                                                                             : R"({"streamId":"feed/7"})";
        return response;
    });
    Harness h(account);
    ASSERT_TRUE(h.Run().Ok);
    h.Sync.Queue().Subscribe("http://x/site/", "Site", "News");
    h.Sync.Queue().Subscribe("http://x/gone.xml");
    // The list fails after the changes went out: what they became waits,
    // across a restart, for the next list.
    account.Server.AddEndpoint(synctest::ApiPath("subscription/list"), 503, {}, "busy");
    ASSERT_EQ(h.Run().SentChanges, 2);
    TAccountSync restarted({"acct", account.Server.Url(synctest::kApi), "alice", "secret"}, *h.Store,
                           h.Folder.File("acct.json"));
    account.Server.AddEndpoint(synctest::ApiPath("subscription/list"), 200, {}, R"({"subscriptions":[]})");
    const auto listed = restarted.Sync({});
    const auto& handed = listed.Subscriptions.Subscribed;
    ASSERT_EQ(handed.size(), 2u);
    EXPECT_EQ(handed[0], (greader::TSubscribeOutcome{"http://x/site/", "feed/7", ""}));
    EXPECT_TRUE(handed[1].Stream.empty());
    EXPECT_NE(handed[1].Error.find("HTTP 404"), std::string::npos);
    // Handed over once.
    restarted.Queue().Rename("feed/7", "Again");
    EXPECT_TRUE(restarted.Sync({}).Subscriptions.Subscribed.empty());
}

// Renamed, moved, a folder made or a feed unsubscribed on another device:
// seen within two timed syncs, and at once by one the user asks for.
TEST(AccountSync, SubscriptionChangesMadeElsewhereShowWithinTwoSyncs) {
    const auto list = [](const std::string& title, const std::string& folder) {
        return R"({"subscriptions":[{"id":"feed/1","title":")" + title + R"(","url":"http://x/1.xml","categories":[)" +
               (folder.empty() ? "" : R"({"id":"user/-/label/)" + folder + R"("})") + "]}]}";
    };
    const struct {
        const char* what;
        std::string subscriptions;
        std::string tags;
        std::vector<std::string> counted;  // the labels the unread counts name
        std::function<bool(const greader::TSubscriptionChanges&)> seen;
    } changes[] = {
        {"renamed",
         list("Renamed", "News"),
         R"({"tags":[{"id":"user/-/label/News"}]})",
         {"News"},
         [](const auto& c) { return c.Changed.size() == 1 && c.Changed[0].Title == "Renamed"; }},
        {"moved",
         list("Renamed", "Later"),
         R"({"tags":[{"id":"user/-/label/Later"}]})",
         {"Later"},
         [](const auto& c) {
             return c.Changed.size() == 1 && c.Changed[0].Folders == std::vector<std::string>{"Later"};
         }},
        {"an empty folder made",
         list("Renamed", "Later"),
         R"({"tags":[{"id":"user/-/label/Later"},{"id":"user/-/label/Empty","type":"folder"}]})",
         {"Empty", "Later"},
         [](const auto& c) {
             return c.Labels == std::vector<std::string>{"Empty", "Later"};
         }},
        {"unsubscribed",
         R"({"subscriptions":[]})",
         R"({"tags":[]})",
         {},
         [](const auto& c) { return c.Removed.size() == 1 && c.Labels.empty(); }},
    };
    for (const bool userAsked : {false, true}) {
        FakeAccount account(3);
        Harness h(account);
        ASSERT_TRUE(h.Run().Ok);
        for (int unchanged = 0; unchanged < 3; ++unchanged) {
            const auto result = h.Run();
            EXPECT_EQ(result.Requests, result.Subscriptions.Listed ? 3 : 2);
            EXPECT_FALSE(result.Subscriptions.Listed && !result.Subscriptions.Changed.empty());
        }
        for (const auto& change : changes) {
            SCOPED_TRACE(std::string(change.what) + (userAsked ? ", the user asks" : ", timed syncs"));
            account.Server.AddEndpoint(synctest::ApiPath("subscription/list"), 200, {}, change.subscriptions);
            account.Server.AddEndpoint(synctest::ApiPath("tag/list"), 200, {}, change.tags);
            account.CountedLabels = change.counted;
            if (userAsked) h.Sync.ListSubscriptionsNext();
            int syncs = 0;
            bool seen = false;
            while (!seen && syncs < 2) {
                const auto result = h.Run();
                ++syncs;
                ASSERT_TRUE(result.Ok) << result.Error->what();
                seen = result.Subscriptions.Listed && change.seen(result.Subscriptions);
            }
            EXPECT_TRUE(seen);
            if (userAsked) {
                EXPECT_EQ(syncs, 1);
            }
        }
    }
}

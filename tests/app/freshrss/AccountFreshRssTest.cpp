// A FreshRSS account in the window, end to end: the feeds are served here,
// FreshRSS fetches them when told, and the window syncs through its own
// runner. The tests run in order on one server and one window, each
// building on what the last one left.
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <mutex>

#include "AccountController.h"
#include "AccountList.h"
#include "AccountSyncRunner.h"
#include "AppTestSupport.h"
#include "FeedDocument.h"
#include "FeedUpdate.h"
#include "FreshRss.h"
#include "GReaderClient.h"
#include "ItemBase.h"
#include "LoopbackServer.h"
#include "PaneProtocol.h"
#include "ReadStateController.h"
#include "StarController.h"
#include "TempFolder.h"
#include "FeedPropertiesController.h"
#include "fFeedProperties.h"
#include "fMain.h"

namespace {

using apptest::WaitUntil;
constexpr const char* kAccount = "alice@freshrss";

std::string Rss(const std::string& name, int items) {
    std::string text = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + name +
                       "</title><link>http://127.0.0.1/" + name + "</link><description>d</description>";
    for (int i = 1; i <= items; ++i)
        text += "<item><title>" + name + " " + std::to_string(i) + "</title><link>http://127.0.0.1/" + name + "/" +
                std::to_string(i) + "</link><guid>" + name + "-" + std::to_string(i) + "</guid><description>Body " +
                std::to_string(i) + "</description></item>";
    return text + "</channel></rss>";
}

class AccountFreshRss : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string why;
        if (!synctest::FreshRss::Available(why)) {
            Skip = why + ": the FreshRSS account tests are skipped";
            return;
        }
        Folder = new testsupport::TempFolder("quillet-acct-freshrss");
        Feeds = new testsupport::LoopbackServer;
        for (const char* name : {"tech", "news", "extra", "found", "moved"})
            Feeds->AddHandler(std::string("/") + name + ".xml", [name](const testsupport::Request&) {
                std::lock_guard lock(Mutex);
                testsupport::Response response;
                response.body = Rss(name, ItemCount[name]);
                response.headers = {{"Content-Type", "application/rss+xml"}};
                return response;
            });
        // A site's page that names its feed: subscribed to by the page's
        // address, the server keeps the feed's.
        Feeds->AddHandler("/site/", [](const testsupport::Request&) {
            testsupport::Response response;
            response.body =
                "<!DOCTYPE html><html><head><title>Site</title><link rel=\"alternate\" "
                "type=\"application/rss+xml\" href=\"/found.xml\"></head><body>Site</body></html>";
            response.headers = {{"Content-Type", "text/html"}};
            return response;
        });
        const std::string opml = Folder->File("feeds.opml");
        synctest::WriteTechNewsOpml(opml, Feeds->Url("/tech.xml"), Feeds->Url("/news.xml"));
        Server = new synctest::FreshRss(Folder->File("server"), opml);
        Home = new apptest::TStagedHome;
        Form = new TFormMain;
        // The password comes with accountReady here; nothing is asked.
        Form->Accounts().SetPasswordPrompt([](const QString&) { return std::optional<QString>(); });
        Form->Updates().Stop();
        // Start-up reads the passwords of the accounts listed then (none):
        // let it pass before the test adds its own.
        WaitUntil([] { return false; }, 20);
        Form->Accounts().SetChangeDelay(std::chrono::milliseconds(0));
        Form->Accounts().SetRequestDeadline(std::chrono::milliseconds(10000));
        WaitUntil([] { return Form->Items().Base() && Form->Items().Base()->Opened(); });
        accountlist::AddAccount(Form->FeedList(), {kAccount, "FreshRSS", Server->ApiUrl(), synctest::FreshRss::kUser});
        Form->Feeds().Reload();
        Form->Accounts().OnSynced = [](const std::string&, const TAccountSyncEnded& ended) {
            Results.push_back(ended);
        };
    }
    static void TearDownTestSuite() {
        delete Form;
        delete Home;
        delete Server;
        delete Feeds;
        delete Folder;
    }
    void SetUp() override {
        if (!Skip.empty()) GTEST_SKIP() << Skip;
    }

    // One whole sync of the account, started as Update Feed on it starts one.
    static bool Idle() { return Form->Accounts().Idle(kAccount); }
    static const TAccountSyncEnded& Sync() {
        // A sync a change asked for ends first, so the result is this one's.
        WaitUntil(Idle, 30000);
        WaitUntil([] { return false; }, 50);
        WaitUntil(Idle, 30000);
        const std::size_t before = Results.size();
        if (!Form->Accounts().Running(kAccount))
            emit Form->Accounts().accountReady(kAccount, synctest::FreshRss::kPassword);
        else
            Form->Accounts().Sync(kAccount);
        EXPECT_TRUE(WaitUntil([&] { return Results.size() > before; }, 30000));
        WaitUntil(Idle, 30000);
        static const TAccountSyncEnded none;
        return Results.size() > before ? Results.back() : none;
    }
    static QTreeWidgetItem* Feed(const std::string& caption) {
        for (QTreeWidgetItem* node : Form->Tree().FeedNodesUnder(apptest::AccountRow(*Form, kAccount)))
            if (TFeedTree::FeedOf(node)->Caption == caption) return node;
        return nullptr;
    }
    static int Unread(const std::string& caption) {
        QTreeWidgetItem* node = Feed(caption);
        return node ? std::stoi(std::to_string(TFeedTree::FeedOf(node)->Unread)) : -1;
    }
    static std::string Label(const std::string& caption) {
        QTreeWidgetItem* node = Feed(caption);
        return node ? apptest::AccountLabel(node->parent()) : "(none)";
    }
    static greader::TGReaderClient Elsewhere() {
        greader::TGReaderClient client(Server->ApiUrl());
        client.ClientLogin(synctest::FreshRss::kUser, synctest::FreshRss::kPassword);
        return client;
    }
    static std::vector<greader::TItemId> UnreadOnServer() {
        greader::TIdQuery query;
        query.Exclude = greader::kReadState;
        return Elsewhere().AllItemIds(query);
    }
    static const greader::TSubscription* OnServer(const std::string& url) {
        static std::vector<greader::TSubscription> list;
        list = Elsewhere().SubscriptionList();
        for (const auto& s : list)
            if (s.Url == url) return &s;
        return nullptr;
    }

    static inline std::string Skip;
    static inline testsupport::TempFolder* Folder = nullptr;
    static inline testsupport::LoopbackServer* Feeds = nullptr;
    static inline synctest::FreshRss* Server = nullptr;
    static inline apptest::TStagedHome* Home = nullptr;
    static inline TFormMain* Form = nullptr;
    static inline std::vector<TAccountSyncEnded> Results;
    static inline std::mutex Mutex;
    static inline std::map<std::string, int> ItemCount{
        {"tech", 2}, {"news", 1}, {"extra", 1}, {"found", 2}, {"moved", 1}};
};

TEST_F(AccountFreshRss, FirstSyncFillsTheAccountsFolders) {
    const auto& ended = Sync();
    ASSERT_TRUE(ended.Ok) << ended.Error;
    EXPECT_EQ(Label("tech"), "Tech");
    EXPECT_EQ(Label("news"), "News");
    EXPECT_EQ(Unread("tech"), 2);
    EXPECT_EQ(Unread("news"), 1);
    EXPECT_EQ(Form->Tree().UnreadUnder(apptest::AccountRow(*Form, kAccount)), 3);
}

TEST_F(AccountFreshRss, NewItemAfterTheServerRefreshes) {
    {
        std::lock_guard lock(Mutex);
        ItemCount["tech"] = 3;
    }
    Server->Refresh();
    const auto& ended = Sync();
    ASSERT_TRUE(ended.Ok) << ended.Error;
    EXPECT_EQ(ended.NewItems, 1);
    EXPECT_EQ(Unread("tech"), 3);
    // The stored copy: the new item first, then what the copy held, once each.
    feed::TFeedDocument copy;
    copy.LoadFromFile(StoredCopyPath(apptest::FeedId(Feed("tech"))));
    ASSERT_EQ(copy.Items().Count(), 3);
    EXPECT_EQ(copy.Items()[0].Title(), "tech 3");
}

TEST_F(AccountFreshRss, ReadingHereAndReadingOnTheServer) {
    const std::size_t unreadBefore = UnreadOnServer().size();
    // Viewing the feed here: its three items are read there too.
    ASSERT_TRUE(apptest::ShowFeedOnScreen(*Form, Feed("tech")));
    EXPECT_EQ(Unread("tech"), 0);
    ASSERT_TRUE(Sync().Ok);
    EXPECT_EQ(UnreadOnServer().size(), unreadBefore - 3);

    // Read on another device: the count here drops.
    const auto readThere = UnreadOnServer();
    Elsewhere().EditTag(readThere, greader::kReadState, "");
    ASSERT_TRUE(Sync().Ok);
    EXPECT_EQ(Unread("news"), 0);

    // Unread again there, syncs after this side last saw it unread: it
    // comes back here too.
    ASSERT_TRUE(Sync().Ok);
    Elsewhere().EditTag(readThere, "", greader::kReadState);
    ASSERT_TRUE(Sync().Ok);
    EXPECT_EQ(Unread("news"), 1);
    Elsewhere().EditTag(readThere, greader::kReadState, "");
    ASSERT_TRUE(Sync().Ok);
    EXPECT_EQ(Unread("news"), 0);
}

TEST_F(AccountFreshRss, OfflineChangesWaitForTheServer) {
    Server->Stop();
    // Mark as Unread brings back tech's items, here and, later, there.
    Form->Items().MarkFeedsUnread(Form->Tree().FeedIdsUnder({Feed("tech")}));
    EXPECT_EQ(Unread("tech"), 3);
    const auto& offline = Sync();
    EXPECT_FALSE(offline.Ok);
    EXPECT_EQ(offline.ErrorKind, greader::TSyncErrorKind::Unreachable);
    EXPECT_TRUE(offline.NextAttempt.has_value());
    auto* account = static_cast<TFolderNode*>(apptest::AccountRow(*Form, kAccount));
    EXPECT_FALSE(account->ToolTip().isEmpty());
    EXPECT_EQ(Form->Items().Store()->Pending(kAccount).size(), 1u);

    Server->Start();
    ASSERT_TRUE(Sync().Ok);
    EXPECT_TRUE(account->ToolTip().isEmpty());
    EXPECT_TRUE(Form->Items().Store()->Pending(kAccount).empty());
    EXPECT_EQ(UnreadOnServer().size(), 3u);
}

TEST_F(AccountFreshRss, StarsGoToTheServerAndComeFromIt) {
    auto* stars = Form->findChild<TStarController*>();
    ASSERT_NE(stars, nullptr);
    const auto starredThere = [] {
        greader::TIdQuery query;
        query.Stream = greader::kStarredState;
        return Elsewhere().AllItemIds(query);
    };
    const auto itemOf = [](const std::string& feed) {
        const auto hits = Form->Items().Store()->Search(feed, 10);
        return hits.empty() ? items::TSearchHit{} : hits.front();
    };
    const auto idOf = [](const items::TSearchHit& hit) { return *greader::ParseItemId(hit.Key.substr(2)); };
    ASSERT_TRUE(starredThere().empty());

    // Starred here by the page's link: sent with the next sync.
    const items::TSearchHit tech = itemOf("tech");
    ASSERT_FALSE(tech.Key.empty());
    ASSERT_TRUE(stars->TakePageRequest(
        pane::StarRequestAddress(QString::fromStdString(tech.FeedId), QString::fromStdString(tech.Key), true)));
    ASSERT_TRUE(Sync().Ok);
    EXPECT_EQ(starredThere(), std::vector<greader::TItemId>{idOf(tech)});

    // Starred and unstarred on another device: here at the next sync, the
    // Starred row counting along.
    const items::TSearchHit news = itemOf("news");
    ASSERT_FALSE(news.Key.empty());
    Elsewhere().EditTag({idOf(news)}, greader::kStarredState, "");
    const auto& starred = Sync();
    ASSERT_TRUE(starred.Ok) << starred.Error;
    EXPECT_EQ(starred.StarChangedFeeds, std::set<std::string>{news.FeedId});
    EXPECT_EQ(Form->Items().Store()->StarredKeys(news.FeedId), std::vector<std::string>{news.Key});
    EXPECT_TRUE(WaitUntil([&] { return stars->Count() == 2; }));
    Elsewhere().EditTag({idOf(news)}, "", greader::kStarredState);
    ASSERT_TRUE(Sync().Ok);
    EXPECT_TRUE(Form->Items().Store()->StarredKeys(news.FeedId).empty());
    EXPECT_TRUE(WaitUntil([&] { return stars->Count() == 1; }));
}

TEST_F(AccountFreshRss, SubscribeRenameMoveUnsubscribeFromHere) {
    const std::string url = Feeds->Url("/extra.xml");
    QTreeWidgetItem* added =
        Form->Tree().RowOf(Form->Feeds().AddFeed(url, TFeedTree::EntryOf(apptest::AccountRow(*Form, kAccount)), ""));
    ASSERT_NE(added, nullptr);
    ASSERT_TRUE(Sync().Ok);
    ASSERT_NE(OnServer(url), nullptr);
    // The node became the server's feed.
    EXPECT_FALSE(TFeedTree::FeedOf(added)->Stream.empty());

    Form->Feeds().Rename(TFeedTree::EntryOf(added), "Extra renamed");
    QTreeWidgetItem* news = Feed("news")->parent();
    ASSERT_TRUE(Form->Feeds().MoveNode(TFeedTree::EntryOf(added), TFeedTree::EntryOf(news)));
    ASSERT_TRUE(Sync().Ok);
    ASSERT_NE(OnServer(url), nullptr);
    EXPECT_EQ(OnServer(url)->Title, "Extra renamed");
    ASSERT_EQ(OnServer(url)->Categories.size(), 1u);
    EXPECT_EQ(OnServer(url)->Categories[0].Label, "News");

    Form->Accounts().EntryDeleting(TFeedTree::EntryOf(added), false);
    Form->Feeds().DeleteFeed(TFeedTree::EntryOf(added));
    ASSERT_TRUE(Sync().Ok);
    EXPECT_EQ(OnServer(url), nullptr);
    EXPECT_EQ(Feed("Extra renamed"), nullptr);
}

// Renamed and moved on another device: one Update of the account shows it.
TEST_F(AccountFreshRss, RenameAndMoveElsewhereShowWithOneUpdate) {
    ASSERT_TRUE(Sync().Ok);  // a timed sync's list turn would hide what Update brings
    const greader::TSubscription* tech = OnServer(Feeds->Url("/tech.xml"));
    ASSERT_NE(tech, nullptr);
    const std::string stream = tech->Id;
    using TAction = greader::TSubscriptionEdit::TAction;
    Elsewhere().EditSubscription({TAction::Edit, stream, "Tech there", {"user/-/label/There"}, {"user/-/label/Tech"}});
    ASSERT_TRUE(Sync().Ok);
    EXPECT_EQ(Feed("tech"), nullptr);
    EXPECT_EQ(Label("Tech there"), "There");
    Elsewhere().EditSubscription({TAction::Edit, stream, "tech", {"user/-/label/Tech"}, {"user/-/label/There"}});
    ASSERT_TRUE(Sync().Ok);
    EXPECT_EQ(Label("tech"), "Tech");
}

TEST_F(AccountFreshRss, MoveToAccountSubscribesALocalFeed) {
    const std::string url = Feeds->Url("/extra.xml");
    QTreeWidgetItem* local = apptest::AddConfiguredFeed(*Form, "900", url, "Extra here");
    Form->Tree().setCurrentItem(local);
    emit Form->MenuMoveToAccount->aboutToShow();
    ASSERT_EQ(Form->MenuMoveToAccount->actions().size(), 1);
    Form->MenuMoveToAccount->actions()[0]->trigger();
    EXPECT_EQ(TAccountController::AccountIdOf(TFeedTree::EntryOf(local)), kAccount);
    ASSERT_TRUE(Sync().Ok);
    ASSERT_NE(OnServer(url), nullptr);
    EXPECT_FALSE(TFeedTree::FeedOf(local)->Stream.empty());
    // Nothing leaves an account by a move: its feeds are the server's.
    EXPECT_FALSE(Form->Feeds().MoveNode(TFeedTree::EntryOf(local), TFeedTree::EntryOf(Form->Tree().RootNode())));
}

TEST_F(AccountFreshRss, ImportAndFeedPropertiesGoToTheServerWithoutDuplicates) {
    const std::string opml = Folder->File("import.opml");
    std::ofstream(opml) << "<opml version=\"2.0\"><body><outline text=\"Found\"><outline text=\"Site\" xmlUrl=\""
                        << Feeds->Url("/site/") << "\"/></outline><outline text=\"Missing\" xmlUrl=\""
                        << Feeds->Url("/missing.xml") << "\"/></body></opml>";
    EXPECT_EQ(Form->Feeds().ImportOPML(opml, TFeedTree::EntryOf(apptest::AccountRow(*Form, kAccount))).added, 2);
    QTreeWidgetItem* site = Feed("Site");
    ASSERT_TRUE(site && Feed("Missing"));
    const std::size_t feeds = Form->Tree().FeedNodesUnder(apptest::AccountRow(*Form, kAccount)).size();
    ASSERT_TRUE(Sync().Ok);
    // The server keeps the feed its page names: the node waiting for the
    // page's address became it, in the OPML folder's label, once.
    const greader::TSubscription* found = OnServer(Feeds->Url("/found.xml"));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(TFeedTree::FeedOf(site)->Stream, found->Id);
    EXPECT_EQ(Label("Site"), "Found");
    EXPECT_EQ(Unread("Site"), 2);
    EXPECT_EQ(Form->Tree().FeedNodesUnder(apptest::AccountRow(*Form, kAccount)).size(), feeds);
    EXPECT_FALSE(Form->Updates().RowState(apptest::FeedId(Feed("Missing"))).Failure.isEmpty());

    // Feed Properties: a new name and address, on the server.
    TFeedProperties values;
    values.Caption = "Moved site";
    values.Url = QString::fromStdString(Feeds->Url("/moved.xml"));
    apptest::FeedProperties(*Form).Apply(apptest::FeedId(*Form, site), values, TFeedTree::EntryOf(site->parent()));
    ASSERT_TRUE(Sync().Ok);
    EXPECT_EQ(OnServer(Feeds->Url("/found.xml")), nullptr);
    const greader::TSubscription* moved = OnServer(Feeds->Url("/moved.xml"));
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(moved->Title, "Moved site");
    EXPECT_EQ(TFeedTree::FeedOf(site)->Stream, moved->Id);
    EXPECT_EQ(Label("Moved site"), "Found");
    EXPECT_EQ(Unread("Moved site"), 1);
    EXPECT_EQ(Form->Tree().FeedNodesUnder(apptest::AccountRow(*Form, kAccount)).size(), feeds);
}

TEST_F(AccountFreshRss, WrongPasswordIsAskedForOnce) {
    QSignalSpy refused(&Form->Accounts(), &TAccountController::accountPasswordRefused);
    Form->Accounts().StopSync(kAccount);
    const std::size_t before = Results.size();
    emit Form->Accounts().accountReady(kAccount, "not-the-password");
    ASSERT_TRUE(WaitUntil([&] { return Results.size() > before; }, 30000));
    EXPECT_EQ(Results.back().ErrorKind, greader::TSyncErrorKind::WrongPassword);
    ASSERT_TRUE(WaitUntil([] { return !Form->Accounts().Running(kAccount); }, 2000));
    Form->Accounts().Sync(kAccount);
    WaitUntil([] { return false; }, 500);
    EXPECT_EQ(refused.count(), 1);
    // The password typed again: syncing goes on.
    ASSERT_TRUE(Sync().Ok);
}

// Move To on the shown feed: the feed that takes its row is neither shown
// nor read, here or on the server.
TEST_F(AccountFreshRss, MoveToChangesNoOtherFeedsReadState) {
    QTreeWidgetItem* pair =
        Form->Tree().RowOf(Form->Accounts().LabelFolder(*Form->Accounts().AccountFolder(kAccount), "Pair"));
    QTreeWidgetItem* first =
        Form->Tree().RowOf(Form->Feeds().AddFeed(Feeds->Url("/extra.xml"), TFeedTree::EntryOf(pair), "Pair one"));
    Form->Feeds().AddFeed(Feeds->Url("/found.xml"), TFeedTree::EntryOf(pair), "Pair two");
    ASSERT_TRUE(Sync().Ok);
    ASSERT_TRUE(Sync().Ok);  // the server has fetched both
    ASSERT_EQ(Unread("Pair two"), 2);
    Form->show();
    Form->Tree().setCurrentItem(first);
    WaitUntil([] { return false; }, 1000);
    ASSERT_TRUE(Sync().Ok);
    const std::size_t unreadThere = UnreadOnServer().size();

    ASSERT_TRUE(apptest::MoveSelectedTo(*Form, "Tech"));
    ASSERT_TRUE(Sync().Ok);
    EXPECT_EQ(Label("Pair one"), "Tech");
    EXPECT_EQ(Form->Tree().currentItem(), first);
    EXPECT_EQ(Unread("Pair two"), 2);
    EXPECT_EQ(UnreadOnServer().size(), unreadThere);
}

}  // namespace

// A feed-server account against a miniature Google Reader
// server: the account's folder filled by a sync, viewing a feed sending
// exactly its shown items as read, the account node's failure state with
// its retry, and a refused password asked for once.
#include <QApplication>
#include <QElapsedTimer>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <iostream>
#include <set>

#include "../../sync/FakeReader.h"
#include "AccountController.h"
#include "AccountList.h"
#include "AccountRig.h"
#include "AccountSyncRunner.h"
#include "AppTestSupport.h"
#include "FeedDocument.h"
#include "FeedUpdate.h"
#include "FixtureFile.h"
#include "ItemBase.h"
#include "PasswordVault.h"
#include "ReadStateController.h"
#include "TimeBound.h"
#include "FeedPropertiesController.h"
#include "fFeedProperties.h"

namespace {

using apptest::TStagedHome;
using apptest::WaitUntil;
using testsupport::Request;
using testsupport::Response;

std::string Fixture(const std::string& name) {
    return testsupport::ReadFixtureFile(std::string(QUILLET_TEST_DATA_DIR) + "/accountsync/" + name);
}

class AccountSyncWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        synctest::AddSignIn(server);
        server.AddEndpoint(synctest::ApiPath("subscription/list"), 200, {}, Fixture("subscriptions.json"));
        server.AddEndpoint(synctest::ApiPath("tag/list"), 200, {}, Fixture("tags.json"));
        // `later` brings two more items to the account.
        server.AddHandler(synctest::ApiPath("stream/items/ids"), [this](const Request& request) {
            Response response;
            if (request.FormValue("s") == greader::kStarredState) {
                response.body = R"({"itemRefs":[]})";
                return response;
            }
            response.body = Fixture(std::string(request.FormValue("xt").empty() ? "ids" : "unread") +
                                    (later ? "_later.json" : ".json"));
            return response;
        });
        server.AddHandler(synctest::ApiPath("stream/items/contents"), [this](const Request&) {
            Response response;
            response.body = Fixture(later ? "contents_later.json" : "contents.json");
            return response;
        });
        server.AddEndpoint(synctest::ApiPath("edit-tag"), 200, {}, "OK");
    }
    void TearDown() override { rig.reset(); }

    void Start(const std::string& address) {
        // The password comes with accountReady here; nothing is asked.
        rig = std::make_unique<apptest::TAccountRig>();
        // Start-up reads the passwords of the accounts listed then (none):
        // let it pass before the test adds its own.
        WaitUntil([] { return false; }, 20);
        rig->Accounts().SetRequestDeadline(std::chrono::milliseconds(3000));
        rig->Accounts().SetChangeDelay(std::chrono::milliseconds(0));
        ASSERT_TRUE(WaitUntil([&] { return rig->Items().Base() && rig->Items().Base()->Opened(); }));
        // One account, new every time: a case before may have saved its own.
        accountlist::RemoveAccount(rig->List(), "alice@fake");
        std::filesystem::remove("sync-alice@fake.json");
        accountlist::AddAccount(rig->List(), {"alice@fake", "Fake Reader", address, "alice"});
        rig->Accounts().OnSynced = [this](const std::string&, const TAccountSyncEnded& ended) {
            results.push_back(ended);
        };
    }
    bool SyncAndWait(const std::string& password = "secret") {
        const std::size_t before = results.size();
        emit rig->Accounts().accountReady("alice@fake", QString::fromStdString(password));
        return WaitUntil([&] { return results.size() > before; });
    }
    TFeedNode* Feed(const std::string& caption) { return rig->AccountFeed("alice@fake", caption); }
    TFolderNode* AccountRow() { return rig->AccountRow("alice@fake"); }
    std::string Unread(QTreeWidgetItem* node) { return std::to_string(TFeedTree::FeedOf(node)->Unread); }
    std::string Stream(QTreeWidgetItem* node) { return TFeedTree::FeedOf(node)->Stream; }
    // The queued changes of subscriptions, each as "kind payload".
    std::vector<std::string> Pending() {
        std::vector<std::string> changes;
        for (const items::TPendingChange& change : rig->Items().Store()->Pending("alice@fake"))
            if (!change.Kind.starts_with("mark-")) changes.push_back(change.Kind + " " + change.Payload);
        return changes;
    }
    TStagedHome home;
    testsupport::LoopbackServer server;
    std::unique_ptr<apptest::TAccountRig> rig;
    std::vector<TAccountSyncEnded> results;
    std::atomic<bool> later{false};
};

TEST_F(AccountSyncWindowTest, FirstSyncFillsTheAccountFolderAndViewingSendsTheShownItemsRead) {
    Start(server.Url(synctest::kApi));
    ASSERT_TRUE(SyncAndWait());
    ASSERT_TRUE(results.back().Ok) << results.back().Error;

    TFeedNode* harbour = Feed("Harbour News");
    TFeedNode* quiet = Feed("Quiet Blog");
    ASSERT_NE(harbour, nullptr);
    ASSERT_NE(quiet, nullptr);
    // The label is a folder of the account; a feed without one sits in the
    // account's own folder.
    EXPECT_EQ(apptest::AccountLabel(harbour->parent()), "Tech");
    EXPECT_EQ(quiet->parent(), AccountRow());
    EXPECT_EQ(TFeedTree::FeedOf(harbour)->Stream, "feed/1");
    // The item read on the server arrived read.
    EXPECT_EQ(Unread(harbour), "1");
    EXPECT_EQ(Unread(quiet), "1");
    const std::string harbourId = apptest::FeedId(harbour);
    feed::TFeedDocument copy;
    copy.LoadFromFile(StoredCopyPath(harbourId));
    ASSERT_EQ(copy.Items().Count(), 2);
    EXPECT_EQ(copy.Items()[0].Title(), "Ferry timetable changes");

    // Viewing the feed: its one unread item, and only it, goes to the server.
    ASSERT_TRUE(rig->ShowOnPage(harbourId));
    EXPECT_EQ(Unread(harbour), "0");
    const std::size_t before = results.size();
    rig->Accounts().Sync("alice@fake");
    ASSERT_TRUE(WaitUntil([&] { return results.size() > before; }));
    std::vector<Request> marks;
    for (const Request& request : server.Requests())
        if (request.target.find("edit-tag") != std::string::npos) marks.push_back(request);
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0].FormValues("i"), std::vector<std::string>{"103"});
    EXPECT_EQ(marks[0].FormValue("a"), greader::kReadState);
    EXPECT_EQ(Unread(quiet), "1");
}

// A later sync's new items are announced by their alert words, matched on
// the sync's thread: with only alert words counting, the one item holding a
// word (in its body) is named and the other is not.
TEST_F(AccountSyncWindowTest, ALaterSyncsNewItemsAreAnnouncedByTheirAlertWords) {
    Start(server.Url(synctest::kApi));
    rig->Options().GetConfigNode("general\\AlertWords").SetText("storm");
    rig->Options().GetConfigNode("general\\OnlyAlertWords").SetText("1");
    ASSERT_TRUE(SyncAndWait());
    EXPECT_TRUE(rig->Notify().Balloon().FeedId.empty()) << "what the account held already is not news";

    later = true;
    const std::size_t before = results.size();
    rig->Accounts().Sync("alice@fake");
    ASSERT_TRUE(WaitUntil([&] { return results.size() > before && !rig->Notify().Balloon().FeedId.empty(); }));
    EXPECT_EQ(rig->Notify().Balloon().Title, "Harbour closed");
    EXPECT_EQ(Unread(Feed("Harbour News")), "3");
}

TEST_F(AccountSyncWindowTest, FailuresShowOnTheAccountNodeAndOnlyPassingOnesAreRetried) {
    struct Case {
        const char* name;
        int status;  // what every API request after sign-in gets; 0: no server at all
        const char* password;
        greader::TSyncErrorKind kind;
        bool retried;  // a next attempt is planned
        bool refused;  // the password is asked for
    };
    const Case cases[] = {
        {"server error", 503, "secret", greader::TSyncErrorKind::Server, true, false},
        {"wrong password", 200, "wrong", greader::TSyncErrorKind::WrongPassword, false, true},
        {"unreachable", 0, "secret", greader::TSyncErrorKind::Unreachable, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::LoopbackServer failing;
        synctest::AddSignIn(failing);
        failing.AddEndpoint(synctest::ApiPath("subscription/list"), c.status, {}, "busy");
        std::string address = failing.Url(synctest::kApi);
        if (c.status == 0) {
            failing.Stop();
        }
        results.clear();
        Start(address);
        QSignalSpy refused(&rig->Accounts(), &TAccountController::accountPasswordRefused);
        ASSERT_TRUE(SyncAndWait(c.password));
        const TAccountSyncEnded& ended = results.back();
        EXPECT_FALSE(ended.Ok);
        EXPECT_EQ(ended.ErrorKind, c.kind);
        EXPECT_EQ(ended.NextAttempt.has_value(), c.retried);

        EXPECT_FALSE(AccountRow()->ToolTip().isEmpty());
        EXPECT_EQ(refused.count(), c.refused ? 1 : 0);
        // A refused password stops the account: asking again does nothing
        // until the password is typed again.
        ASSERT_TRUE(WaitUntil([&] { return rig->Accounts().Running("alice@fake") != c.refused; }, 2000));
        rig->Accounts().Sync("alice@fake");
        WaitUntil([] { return false; }, 300);
        EXPECT_EQ(refused.count(), c.refused ? 1 : 0);
        // Closed without the account: the next case's start-up must not
        // read a password for it while the case runs.
        accountlist::RemoveAccount(rig->List(), "alice@fake");
        rig.reset();
    }
}

// The vault's answer at start-up can come seconds late (a secret store);
// a password given meanwhile is the newer one, and nothing is asked.
TEST_F(AccountSyncWindowTest, AStartUpVaultAnswerAfterAPasswordWasGivenIsIgnored) {
    Start(server.Url(synctest::kApi));
    rig->Save();
    rig.reset();  // config.xml keeps the account
    rig = std::make_unique<apptest::TAccountRig>();
    int asked = 0;
    rig->Accounts().SetPasswordPrompt([&](const QString&) {
        ++asked;
        return std::optional<QString>();
    });
    rig->Accounts().Vault().SetStoreTimeout(std::chrono::milliseconds(300));
    QCoreApplication::sendPostedEvents();  // start-up asks the vault; its answer is queued
    ASSERT_EQ(asked, 0);
    emit rig->Accounts().accountReady("alice@fake", "secret");
    WaitUntil([] { return false; }, 800);
    EXPECT_EQ(asked, 0);
}

TEST_F(AccountSyncWindowTest, AccountFeedsAreNeverPolledAndChangesWaitInTheStore) {
    Start(server.Url(synctest::kApi));
    ASSERT_TRUE(SyncAndWait());
    TFeedNode* quiet = Feed("Quiet Blog");
    ASSERT_NE(quiet, nullptr);
    // Stopped: a rename waits in the store, and a restart sends it.
    rig->Accounts().StopSync("alice@fake");
    rig->Feeds().Rename(TFeedTree::EntryOf(quiet), "Calm Blog");
    items::TItemStore* store = rig->Items().Store();
    ASSERT_NE(store, nullptr);
    const auto pending = store->Pending("alice@fake");
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].Kind, "rename");

    server.AddEndpoint(synctest::ApiPath("subscription/edit"), 200, {}, "OK");
    ASSERT_TRUE(SyncAndWait());
    EXPECT_TRUE(results.back().Ok);
    EXPECT_EQ(server.NumHits(synctest::ApiPath("subscription/edit")), 1);
    EXPECT_TRUE(store->Pending("alice@fake").empty());
    // Update Feed on an account feed syncs the account; it never fetches
    // the feed's own address.
    const std::size_t before = results.size();
    rig->Updates().UpdateEntry(TFeedTree::EntryOf(quiet));
    ASSERT_TRUE(WaitUntil([&] { return results.size() > before; }));
    EXPECT_FALSE(rig->Updates().FeedDownloading(apptest::FeedId(quiet)));
}

TEST_F(AccountSyncWindowTest, ImportedFeedsWaitThenBecomeTheServersFeedsWhateverAddressItKeeps) {
    Start(server.Url(synctest::kApi));
    ASSERT_TRUE(SyncAndWait());
    rig->Accounts().StopSync("alice@fake");
    TFolderNode* account = AccountRow();
    const auto result = rig->Feeds().ImportOPML(std::string(QUILLET_TEST_DATA_DIR) + "/accountsync/import.opml",
                                                TFeedTree::EntryOf(account));
    EXPECT_EQ(result.skipped, 2);  // the account's own feed, and one address twice
    QTreeWidgetItem* site = Feed("Site");
    QTreeWidgetItem* loose = Feed("My Loose");
    auto* gone = static_cast<TFeedNode*>(Feed("Gone"));
    ASSERT_TRUE(site && loose && gone);
    EXPECT_EQ(apptest::AccountLabel(site->parent()), "Tech");  // the nearest OPML folder
    EXPECT_EQ(Pending().size(), 3u);
    EXPECT_FALSE(rig->Updates().FeedDownloading(apptest::FeedId(site)));

    // The server keeps the feed found on the site's page, and answers one
    // address as typed but lists it by number; it refuses the third.
    server.AddEndpoint(synctest::ApiPath("subscription/edit"), 200, {}, "OK");
    server.AddEndpoint(synctest::ApiPath("subscription/list"), 200, {}, Fixture("subscriptions_after_import.json"));
    server.AddHandler(synctest::ApiPath("subscription/quickadd"), [](const Request& request) {
        const std::map<std::string, std::string> answers{
            {"http://example.org/site/", R"({"streamId":"feed/3"})"},
            {"http://www.example.org/loose/", R"({"streamId":"feed/http://www.example.org/loose/"})"}};
        const auto found = answers.find(request.FormValue("quickadd"));
        Response response;
        response.body = found != answers.end() ? found->second : R"({"numResults":0,"error":"HTTP 404"})";
        return response;
    });
    ASSERT_TRUE(SyncAndWait());
    EXPECT_EQ(rig->Tree().FeedNodesUnder(account).size(), 5u);
    EXPECT_EQ(Stream(site), "feed/3");
    EXPECT_EQ(Stream(loose), "feed/5");
    EXPECT_FALSE(rig->Updates().RowState(apptest::FeedId(gone)).Failure.isEmpty());
    EXPECT_NE(gone->data(0, Qt::ToolTipRole).toString().indexOf("404"), -1);

    // Mended by a new address, twice before a sync: only the last is sent.
    ASSERT_TRUE(WaitUntil([&] { return rig->Accounts().Running("alice@fake") && rig->Accounts().Idle("alice@fake"); }));
    rig->Accounts().StopSync("alice@fake");
    TFeedProperties values;
    values.Caption = "Gone";
    for (const char* address : {"http://example.org/back.xml", "http://example.org/back2.xml"}) {
        values.Url = address;
        rig->Properties().Apply(apptest::FeedId(gone), values, TFeedTree::EntryOf(gone->parent()));
    }
    EXPECT_EQ(Pending(), std::vector<std::string>{
                             R"(subscribe {"folder":"","title":"Gone","url":"http://example.org/back2.xml"})"});
    EXPECT_TRUE(rig->Updates().RowState(apptest::FeedId(gone)).Failure.isEmpty());
}

TEST_F(AccountSyncWindowTest, FeedPropertiesOfAnAccountFeedGoToTheServer) {
    Start(server.Url(synctest::kApi));
    ASSERT_TRUE(SyncAndWait());
    rig->Accounts().StopSync("alice@fake");
    const struct {
        const char* name;
        std::function<void(TFormFeedProperties&)> act;
        std::vector<std::string> queued;  // every change queued so far
    } steps[] = {
        {"name and folder",
         [](TFormFeedProperties& d) {
             d.EditCaption->setText("Calm Blog");
             d.ComboFolder->setCurrentIndex(1);
         },
         {R"(rename {"stream":"feed/2","title":"Calm Blog"})", R"(move {"from":"","stream":"feed/2","to":"Tech"})"}},
        {"address",
         [](TFormFeedProperties& d) { d.EditURL->setText("http://example.org/calm.xml"); },
         {R"(rename {"stream":"feed/2","title":"Calm Blog"})", R"(move {"from":"","stream":"feed/2","to":"Tech"})",
          R"(unsubscribe {"stream":"feed/2"})",
          R"(subscribe {"folder":"Tech","title":"Calm Blog","url":"http://example.org/calm.xml"})"}},
    };
    TFeedNode* quiet = Feed("Quiet Blog");
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<TFormFeedProperties*>(QApplication::activeModalWidget());
            if (!dialog) return;
            poll.stop();
            // Only the account and its label; the interval is the server's.
            EXPECT_EQ(dialog->ComboFolder->count(), 2);
            EXPECT_FALSE(dialog->GroupInterval->isEnabled());
            EXPECT_TRUE(dialog->LabelServerFetched->isVisibleTo(dialog));
            step.act(*dialog);
            dialog->OKBtn->click();
        });
        poll.start(10);
        rig->Properties().Open(apptest::FeedId(quiet));
        EXPECT_EQ(Pending(), step.queued);
    }
    // Waiting for the server's list to bring the new feed.
    EXPECT_TRUE(Stream(quiet).empty());
}

// A server's list of 8,000 subscriptions in 50 folders: added, then each
// renamed and moved, then all gone, every step in time that grows with the
// list (it took 16 s when every feed added walked every other).
TEST_F(AccountSyncWindowTest, AServersListOfThousandsAppliesInTimeThatGrowsWithIt) {
    Start(server.Url(synctest::kApi));
    constexpr int kFeeds = 8000;
    greader::TSubscriptionChanges added, changed, removed;
    added.Listed = changed.Listed = removed.Listed = true;
    for (int i = 0; i < 50; ++i) {
        added.Labels.push_back("Label " + std::to_string(i));
        changed.Labels.push_back("Moved " + std::to_string(i));
    }
    for (int i = 0; i < kFeeds; ++i) {
        const std::string n = std::to_string(i);
        added.Added.push_back(
            {"feed/" + n, "Feed " + n, "http://list.example/" + n, "", {"Label " + std::to_string(i % 50)}});
        changed.Changed.push_back(
            {"feed/" + n, "Renamed " + n, "http://list.example/" + n, "", {"Moved " + std::to_string(i % 50)}});
        removed.Removed.push_back(changed.Changed.back());
    }
    struct Step {
        const char* what;
        const greader::TSubscriptionChanges& changes;
        std::size_t feeds;
        const char* sample;  // the caption of feed/7 afterwards
        const char* folder;  // and its folder's
    };
    const Step steps[] = {
        {"added", added, kFeeds, "Feed 7", "Label 7"},
        {"renamed and moved", changed, kFeeds, "Renamed 7", "Moved 7"},
        {"removed", removed, 0, nullptr, nullptr},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        // The window thread's own processor time, which a busy machine
        // does not stretch: the window stands still this long.
        const auto start = apptest::ThreadTime();
        rig->Accounts().ApplySubscriptions("alice@fake", step.changes);
        const auto held = apptest::ThreadTime() - start;
        EXPECT_LT(held, testsupport::TimeBound(std::chrono::milliseconds(250)));
        std::printf("%s: %lld ms\n", step.what,
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(held).count()));
        QTreeWidgetItem* account = AccountRow();
        EXPECT_EQ(rig->Tree().FeedNodesUnder(account).size(), step.feeds);
        if (!step.sample) continue;
        QTreeWidgetItem* sample = rig->Tree().FindFeedNodeById(rig->Accounts().FeedIds("alice@fake").at("feed/7"));
        ASSERT_NE(sample, nullptr);
        EXPECT_EQ(TFeedTree::FeedOf(sample)->Caption, step.sample);
        EXPECT_EQ(apptest::AccountLabel(sample->parent()), step.folder);
    }
    EXPECT_EQ(AccountRow()->childCount(), 0) << "emptied folders go";
}

}  // namespace

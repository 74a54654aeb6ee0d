// The star controller on its own: a feed list, a real items.db in a staged
// home, a tree for the Starred row and a host that records what the window
// would be asked (the pane's links, the view's navigations, accounts).
#include <QElapsedTimer>
#include <QFont>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "AppTestSupport.h"
#include "FeedDocument.h"
#include "FeedListModel.h"
#include "FeedPageFunctions.h"
#include "ItemStore.h"
#include "LightPane.h"
#include "PaneProtocol.h"
#include "StarController.h"
#include "XmlDom.h"
#include "fFindInFeeds.h"

namespace {

using apptest::TStagedHome;
using apptest::WaitUntil;

QString Star(const std::string& feedId, const std::string& key, bool star) {
    return pane::StarRequestAddress(QString::fromStdString(feedId), QString::fromStdString(key), star);
}

class StarControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& [id, caption] : {std::pair{1, "Harbour"}, std::pair{2, "Quay"}})
            list.AddFeed(list.Root(), apptest::FeedEntry(id, {}, caption));
        store = items::TItemStore::Open("items.db").Store;
        ASSERT_TRUE(store);
        Record("1", {"a", "b", "c"});
        Record("2", {"d"});
        TStarHost host;
        host.Store = [this] { return store.get(); };
        host.FeedList = &list;
        host.StarChanged = [this](const std::string& id, const std::string& key, bool on) {
            sent.emplace_back(id, key, on);
        };
        host.SetStarLink = [this](const QString& from, const QString& to, const QString& text, const QString&, bool) {
            links.push_back({from, to, text});
        };
        host.StarLinkInView = [this](std::function<void(const QString&)> reply) { reply(inView); };
        host.Navigate = [this](const QString& file, const QJsonObject& marks) {
            shownFile = file;
            shownMarks = marks;
            ++navigations;
            if (pane) pane->Navigate(file, quillet::TPageMarks::FromJson(marks));
        };
        host.ShownLocation = [this] { return shownFile; };
        host.ShowStatus = [this](const QString& text) { status = text; };
        host.ChooseExportFile = [this] { return exportFile; };
        host.ShowError = [this](const QString& text) { error = text; };
        controller = std::make_unique<TStarController>(std::move(host));
        controller->ShowRowIn(tree);
    }

    void Record(const std::string& id, const std::vector<std::string>& guids, const std::string& body = "Story") {
        std::vector<items::TStoredItem> stored;
        for (const std::string& guid : guids) stored.push_back({guid, "", "Story " + guid, "", std::nullopt, "", body});
        store->RecordDownload(id, stored, 1'700'000'000);
    }
    QTreeWidgetItem* Row() { return tree.topLevelItem(0); }
    // The view's document: each item's feed, key and source.
    std::vector<std::tuple<std::string, std::string, std::string>> ViewItems() {
        xml::Document document;
        document.LoadFromFile(shownFile.toStdString());
        std::vector<std::tuple<std::string, std::string, std::string>> listed;
        xml::Node channel = document.DocumentElement().FindChild("channel");
        for (xml::Node item = channel.FirstChild(); item; item = item.NextSibling())
            if (item.Name() == "item")
                listed.emplace_back(item.GetAttribute("feed"), item.GetAttribute("key"),
                                    item.FindChild("source").Text());
        return listed;
    }

    TStagedHome home;
    feedlist::TFeedList list;
    std::unique_ptr<items::TItemStore> store;
    QTreeWidget tree;
    std::vector<std::tuple<std::string, std::string, bool>> sent;
    struct TLink {
        QString From, To, Text;
    };
    std::vector<TLink> links;
    QString inView, shownFile, status, error, exportFile;
    QJsonObject shownMarks;
    int navigations = 0;
    TLightPane* pane = nullptr;
    std::unique_ptr<TStarController> controller;
};

TEST_F(StarControllerTest, LinksAndTheActionStarThroughTheStoreAndThePageFollows) {
    EXPECT_EQ(Row()->text(0), "Starred");
    EXPECT_TRUE(TStarController::IsStarredRow(Row()));
    EXPECT_EQ(Row()->flags() & (Qt::ItemIsEditable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled), 0);

    const struct {
        QString address;  // what the page or the action asked
        bool taken;
        std::vector<std::string> starredOf1;
        const char* row;
        std::size_t sent;
    } steps[] = {
        {Star("1", "g:a", true), true, {"g:a"}, "Starred (1)", 1},
        {Star("1", "g:a", true), true, {"g:a"}, "Starred (1)", 1},    // a stale link: nothing more to send
        {Star("1", "g:zzz", true), true, {"g:a"}, "Starred (1)", 1},  // no such item
        {Star("1", "g:c", true), true, {"g:a", "g:c"}, "Starred (2)", 2},
        {Star("1", "g:a", false), true, {"g:c"}, "Starred (1)", 3},
        {"http://example.invalid/?on=1&key=g:a", false, {"g:c"}, "Starred (1)", 3},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(controller->TakePageRequest(step.address), step.taken) << step.address.toStdString();
        auto keys = store->StarredKeys("1");
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, step.starredOf1) << step.address.toStdString();
        EXPECT_EQ(Row()->text(0), step.row);
        EXPECT_EQ(sent.size(), step.sent);
    }
    EXPECT_TRUE(Row()->font(0).bold());
    EXPECT_EQ(sent.back(), std::make_tuple(std::string("1"), std::string("g:a"), false));
    // The link that asked now asks the other way and says so.
    ASSERT_FALSE(links.empty());
    EXPECT_EQ(links.back().From, Star("1", "g:a", false));
    EXPECT_EQ(links.back().To, Star("1", "g:a", true));
    EXPECT_EQ(links.back().Text, QStringLiteral("\u2606\u00A0Star"));

    // Star Item acts on the item the pane is at, and says when there is none.
    inView = Star("2", "g:d", true);
    controller->ToggleStarInView();
    EXPECT_EQ(store->StarredKeys("2"), std::vector<std::string>{"g:d"});
    EXPECT_EQ(controller->Count(), 2);
    inView.clear();
    controller->ToggleStarInView();
    EXPECT_EQ(status, "The page shows no item to star.");

    // A feed's page gets its starred keys and the links' words.
    QJsonObject marks;
    controller->AddPageStars("1", marks);
    const quillet::TPageMarks read = quillet::TPageMarks::FromJson(marks);
    EXPECT_EQ(read.Starred, (std::unordered_set<std::string>{"g:c"}));
    EXPECT_EQ(read.FeedId, "1");
    EXPECT_EQ(read.StarredLabel, "Starred");
}

TEST_F(StarControllerTest, TheViewListsNewestStarFirstKeepsADeletedFeedsNameAndUnstars) {
    store->SetItemStarred("1", "g:a", true, "Harbour", 100);
    store->SetItemStarred("2", "g:d", true, "Quay", 300);
    store->SetItemStarred("1", "g:b", true, "Harbour", 200);
    // Feed 2 is deleted under a newer name: its star stays, with that name.
    list.Remove(*list.FindFeed("2"));
    store->ForgetFeed("2", "Quay Renamed");

    controller->ShowView();
    ASSERT_FALSE(shownFile.isEmpty()) << error.toStdString();
    EXPECT_TRUE(controller->ViewShown());
    EXPECT_TRUE(shownMarks.value("starredView").toBool());
    using Item = std::tuple<std::string, std::string, std::string>;
    EXPECT_EQ(ViewItems(),
              (std::vector<Item>{{"2", "g:d", "Quay Renamed"}, {"1", "g:b", "Harbour"}, {"1", "g:a", "Harbour"}}));
    EXPECT_EQ(Row()->text(0), "Starred (3)");

    // Through the same page build as a feed's: each item's link unstars it.
    quillet::TPageBuild build(shownFile, "light", quillet::TPageMarks::FromJson(shownMarks),
                              quillet::TPageTarget::Light);
    build.Run();
    ASSERT_TRUE(build.HasPage() && !build.Failed()) << build.Html().left(400).toStdString();
    const QString html = QString::fromUtf8(build.Html());
    for (const auto& [feed, key, name] : ViewItems()) {
        EXPECT_TRUE(html.contains(Star(feed, key, false).toHtmlEscaped())) << key;
        EXPECT_TRUE(html.contains(QString::fromStdString(name)));
    }
    EXPECT_FALSE(html.contains("?on=1&amp;"));

    // Unstarred from the view: the count follows, the view lists it until
    // it is shown again (a star taken away by mistake can be set again).
    EXPECT_TRUE(controller->TakePageRequest(Star("2", "g:d", false)));
    EXPECT_EQ(Row()->text(0), "Starred (2)");
    EXPECT_EQ(navigations, 1);
    controller->Refresh();  // stars changed elsewhere: the view on show is built again
    EXPECT_EQ(navigations, 2);
    EXPECT_EQ(ViewItems().size(), 2u);
    shownFile = "/elsewhere.xml";
    controller->Refresh();
    EXPECT_EQ(navigations, 2) << "a view no longer on show is left alone";
}

TEST_F(StarControllerTest, FindInFeedsCanLimitToStarredItems) {
    store->SetItemStarred("1", "g:b", true);
    TFormFindInFeeds find(nullptr);
    find.Search = [this](const std::string& text, bool starredOnly) {
        return store->Search(text, TFormFindInFeeds::kMaxResults, starredOnly);
    };
    find.FeedCaption = [](const std::string& id) { return QString::fromStdString(id); };
    find.SearchText->setText("Story");
    find.SearchNow();
    EXPECT_EQ(find.SearchResults->topLevelItemCount(), 4);
    find.StarredOnly->setChecked(true);  // searches again at once
    ASSERT_EQ(find.SearchResults->topLevelItemCount(), 1);
    EXPECT_EQ(find.SearchResults->topLevelItem(0)->text(1), "Story b");

    // Its feed deleted, the starred item is found under the feed's last name.
    store->ForgetFeeds({"1"}, {"Gone Daily"});
    find.FeedCaption = [](const std::string& id) { return id == "1" ? QString() : QString::fromStdString(id); };
    find.SearchNow();
    ASSERT_EQ(find.SearchResults->topLevelItemCount(), 1);
    EXPECT_EQ(find.SearchResults->topLevelItem(0)->text(0), "Gone Daily");
}

TEST_F(StarControllerTest, ExportWritesAFileThatReadsBackOrSaysWhyNot) {
    store->SetItemStarred("1", "g:a", true);
    store->SetItemStarred("2", "g:d", true);
    exportFile = QString::fromStdString((home.Dir() / "starred-out.xml").string());
    controller->ExportWithDialog();
    EXPECT_EQ(status, "2 starred items exported to " + exportFile);
    feed::TFeedDocument document;
    document.LoadFromFile(exportFile.toStdString());
    EXPECT_EQ(document.Items().Count(), 2);

    status.clear();
    exportFile = QString::fromStdString((home.Dir() / "no-such-folder" / "x.xml").string());
    controller->ExportWithDialog();
    EXPECT_TRUE(error.startsWith("The starred items could not be exported: ")) << error.toStdString();
    EXPECT_TRUE(status.isEmpty());

    error.clear();
    exportFile.clear();  // cancelled
    controller->ExportWithDialog();
    EXPECT_TRUE(error.isEmpty() && status.isEmpty());
}

TEST_F(StarControllerTest, FiveThousandStarredItemsOpenInTheLightPaneQuickly) {
    std::vector<std::string> guids;
    for (int i = 0; i < 5000; ++i) guids.push_back("many-" + std::to_string(i));
    Record("1", guids, "<p>" + std::string(40, 'w') + " <b>bold</b> words of the item.</p>");
    for (int i = 0; i < 5000; ++i) store->SetItemStarred("1", "g:" + guids[i], true, "Harbour", 1000 + i);
    TLightPane light;
    light.resize(600, 400);
    light.show();
    light.OnBeforeNavigate = [](const QString&, bool&) {};
    pane = &light;
    QSignalSpy done(&light, &TLightPane::NavigateComplete);
    QElapsedTimer clock;
    clock.start();
    controller->ShowView();
    ASSERT_TRUE(done.wait(20000));
    const qint64 ms = clock.elapsed();
    std::printf("5000 starred items: view shown in %lld ms\n", static_cast<long long>(ms));
    EXPECT_LT(ms, 100);
    // The newest page, linked to the older ones; the last page links back.
    EXPECT_TRUE(light.toPlainText().contains("many-4999"));
    EXPECT_EQ(shownMarks.value("olderPage").toString(), pane::StarredPageAddress(1));
    EXPECT_TRUE(light.toPlainText().contains("Older starred items (4900 more)"));
    done.clear();
    ASSERT_TRUE(controller->TakePageRequest(pane::StarredPageAddress(99)));  // past the end: the last page
    ASSERT_TRUE(done.wait(20000));
    EXPECT_EQ(controller->ViewPage(), 49);
    EXPECT_TRUE(light.toPlainText().contains("Story many-0 "));
    EXPECT_EQ(shownMarks.value("newerPage").toString(), pane::StarredPageAddress(48));
    EXPECT_FALSE(shownMarks.contains("olderPage"));
}

}  // namespace

// Full articles in the window: what a feed's update fetches, what the store
// keeps, what "Read the full article" does, and the page they make, against
// the loopback server and a real item store.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <libxml/parser.h>

#include <map>
#include <string>
#include <vector>

#include "ArticleController.h"
#include "FeedPageFunctions.h"
#include "FixtureFile.h"
#include "ItemIdentity.h"
#include "ItemStore.h"
#include "LoopbackServer.h"
#include "PageStylesheet.h"
#include "PaneProtocol.h"
#include "TempFolder.h"

using items::TArticleReason;
using items::TArticleState;

namespace {

const testsupport::HeaderList kHtml = {{"Content-Type", "text/html; charset=utf-8"}};
constexpr std::int64_t kNow = 1'800'000'000;

class ArticleControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.AddEndpoint("/post", 200, kHtml,
                           testsupport::ReadFixtureFile(QUILLET_TEST_DATA_DIR "/extract/wordpress_blog.html"));
        server.AddEndpoint("/missing", 404, kHtml, "<p>No such page</p>");
        store = std::move(items::TItemStore::Open(folder.File("items.db")).Store);
        ASSERT_TRUE(store);

        TArticleController::THost host;
        host.Store = [this] { return store.get(); };
        host.ShowsFullArticle = [](const std::string& id) { return id == "1"; };  // feed 2 has the option off
        host.ShownFeedId = [this] { return shown; };
        host.ShowPage = [this](const std::string& id, const std::string& key) { pagesShown.push_back(id + "|" + key); };
        host.ShowStatus = [](const QString&) {};
        host.Now = [this] { return now; };
        articles::TFetcherOptions options;
        options.Fetch = {};  // the loopback server speaks plain http
        controller = std::make_unique<TArticleController>(std::move(host), options);
    }

    // Stores one download of a feed: an item per path of the server.
    std::vector<std::string> Record(const std::string& feedId, const std::vector<std::string>& paths) {
        std::vector<items::TStoredItem> list;
        std::vector<std::string> keys;
        for (const std::string& path : paths) {
            items::TStoredItem item;
            item.Guid = "urn:item:" + feedId + path;
            item.Link = server.Url(path);
            item.Title = "Item " + path;
            item.Body = "<p>Summary of " + path + "</p>";
            list.push_back(item);
            keys.push_back(items::ItemKey(item));
        }
        store->RecordDownload(feedId, list, now);
        return keys;
    }

    void WaitIdle() {
        QElapsedTimer clock;
        clock.start();
        while (controller->Busy() && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        ASSERT_FALSE(controller->Busy());
    }

    testsupport::LoopbackServer server;
    testsupport::TempFolder folder;
    std::unique_ptr<items::TItemStore> store;
    std::string shown;
    std::vector<std::string> pagesShown;
    std::int64_t now = kNow;
    std::unique_ptr<TArticleController> controller;
};

}  // namespace

TEST_F(ArticleControllerTest, AnUpdateFetchesEachNewItemOnceAndAFailureOnlyADayLater) {
    const std::vector<std::string> keys = Record("1", {"/post", "/missing"});
    Record("2", {"/post"});
    shown = "1";

    controller->FeedUpdated("2");  // its option is off
    EXPECT_FALSE(controller->Busy());
    controller->FeedUpdated("1");
    WaitIdle();
    EXPECT_EQ(server.NumHits("/post"), 1);
    EXPECT_EQ(server.NumHits("/missing"), 1);
    const items::TStoredArticle fetched = store->Article("1", keys[0]);
    EXPECT_EQ(fetched.State, TArticleState::Fetched);
    EXPECT_NE(fetched.Html.find("<p>"), std::string::npos);
    const items::TStoredArticle failed = store->Article("1", keys[1]);
    EXPECT_EQ(failed.State, TArticleState::Failed);
    EXPECT_EQ(failed.Reason, TArticleReason::HttpStatus);
    EXPECT_NE(failed.Detail.find("404"), std::string::npos) << failed.Detail;
    EXPECT_EQ(pagesShown, std::vector<std::string>{"1|"}) << "the page on show follows its new article";

    // The next poll the same day fetches nothing; a day later the failure
    // is tried again, the article never.
    controller->FeedUpdated("1");
    WaitIdle();
    EXPECT_EQ(server.NumRequests(), 2);
    now += items::TItemStore::kArticleRetrySeconds;
    controller->FeedUpdated("1");
    WaitIdle();
    EXPECT_EQ(server.NumHits("/post"), 1);
    EXPECT_EQ(server.NumHits("/missing"), 2);
}

TEST_F(ArticleControllerTest, ReadTheFullArticleFetchesOneItemAtOnceWhateverTheOption) {
    const std::vector<std::string> keys = Record("2", {"/post", "/missing"});
    shown = "2";
    EXPECT_FALSE(controller->TakePageRequest("https://example.org/a"));

    ASSERT_TRUE(controller->TakePageRequest(pane::ArticleRequestAddress("2", QString::fromStdString(keys[0]))));
    WaitIdle();
    EXPECT_EQ(store->Article("2", keys[0]).State, TArticleState::Fetched);
    EXPECT_EQ(server.NumHits("/missing"), 0) << "only the item asked for";
    EXPECT_EQ(pagesShown, std::vector<std::string>{"2|" + keys[0]}) << "with the item in view";

    // A reader's ask passes the once-a-day rule of a failure.
    controller->ReadArticle("2", keys[1]);
    WaitIdle();
    controller->ReadArticle("2", keys[1]);
    WaitIdle();
    EXPECT_EQ(server.NumHits("/missing"), 2);
}

TEST_F(ArticleControllerTest, ThePageShowsTheArticleOrSaysWhyItShowsTheSummary) {
    const std::vector<std::string> keys = Record("1", {"/post", "/missing", "/wall"});
    auto article = [&](std::size_t n, TArticleState state, TArticleReason reason, std::string detail,
                       std::string html = {}) {
        return items::TItemArticle{"1", keys[n], {state, std::move(html), "", "", reason, std::move(detail), now}};
    };
    store->StoreArticles({
        article(0, TArticleState::Fetched, TArticleReason::None, "",
                "<p>The whole story, told at length.</p><script>alert('x')</script>"),
        article(1, TArticleState::Failed, TArticleReason::HttpStatus, "HTTP/1.1 404 Not Found"),
        article(2, TArticleState::KeptSummary, TArticleReason::NoArticle,
                "The page asks to sign in before it shows the article."),
    });

    QJsonObject json;
    controller->AddPageArticles("1", json);
    const quillet::TPageMarks marks = quillet::TPageMarks::FromJson(json);
    std::string copy = "<rss version=\"2.0\"><channel><title>Blog</title><link>http://blog.example/</link>";
    for (const std::string path : {"/post", "/missing", "/wall"})
        copy += "<item><title>Item " + path + "</title><link>" + server.Url(path) + "</link><guid>urn:item:1" + path +
                "</guid><description>&lt;p&gt;Summary of " + path + "&lt;/p&gt;</description></item>";
    copy += "</channel></rss>";
    xmlDocPtr doc = xmlReadMemory(copy.data(), static_cast<int>(copy.size()), "copy.xml", nullptr, XML_PARSE_NONET);
    std::string html;
    {
        const quillet::TPageMarksScope scope(&marks);
        html = quillet::ApplyPageStylesheet(doc, "copy.xml", QUILLET_DATA_DIR "/rss.xsl").toStdString();
    }
    xmlFreeDoc(doc);

    struct Shown {
        const char* text;
        bool present;
    } const expected[] = {
        {"The whole story, told at length.", true},
        {"Summary of /post", false},  // the article replaces the summary
        {"alert(", false},            // cleaned again by the page, whoever sent it
        {"Original page</a>", true},
        {"could not be fetched: the server refused the page (HTTP/1.1 404 Not Found)", true},
        {"Summary of /missing", true},
        {"the page holds no article (The page asks to sign in before it shows the article)", true},
        {"Summary of /wall", true},
        {"<a href=\"quillet-article:1?key=", true},  // "Read the full article" of the others
    };
    for (const Shown& e : expected) EXPECT_EQ(html.find(e.text) != std::string::npos, e.present) << e.text << html;
    EXPECT_NE(html.find("href=\"" + server.Url("/post") + "\">Original page"), std::string::npos) << html;
}

// A burst is stored a few articles per drain, so the window is held only
// briefly, and every one of them arrives, each fetched once.
TEST_F(ArticleControllerTest, ABurstOfArticlesIsStoredAFewAtATimeAndWhole) {
    std::vector<std::string> paths;
    for (int i = 0; i < 40; ++i) paths.push_back("/post?n=" + std::to_string(i));
    const std::vector<std::string> keys = Record("1", paths);
    controller->FeedUpdated("1");
    WaitIdle();
    EXPECT_EQ(server.NumHits("/post"), 40);
    for (const std::string& key : keys) EXPECT_EQ(store->Article("1", key).State, TArticleState::Fetched) << key;
}

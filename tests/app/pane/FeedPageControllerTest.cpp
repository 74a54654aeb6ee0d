// The feed page's controller without a window: which feed's page reaches the
// pane, and where the pane's links go.
#include <QDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <map>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "FeedListModel.h"
#include "FeedPageController.h"
#include "XmlDom.h"

namespace {

class FeedPageControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        config.LoadFromString("<config><general/></config>");
        TFeedPageController::THost host;
        host.ConfigNode = [this](const std::string& path) {
            xml::Node node = config.DocumentElement();
            for (std::size_t start = 0; start <= path.size();) {
                const std::size_t end = std::min(path.find('\\', start), path.size());
                node = node.ChildByNameOrCreate(path.substr(start, end - start));
                start = end + 1;
            }
            return node;
        };
        host.Feed = [this](const std::string& id) -> const feedlist::TFeedEntry* {
            const auto found = feeds.find(id);
            return found == feeds.end() ? nullptr : &found->second;
        };
        host.SelectFeed = [this](const std::string& id) {
            selected.push_back(id);
            return selectionShows;
        };
        host.ShowPage = [](const feedlist::TFeedEntry&, const std::function<qint64(const QJsonObject&)>& navigate) {
            navigate(QJsonObject());
        };
        host.Navigate = [this](const QString& file, const QJsonObject&) { navigated.push_back(file); };
        host.PageSerial = [] { return qint64(1); };
        host.SetShowWebImages = [](bool) {};
        host.SetStatusText = [this](int panel, const QString& text) { status[panel] = text; };
        page = std::make_unique<TFeedPageController>(std::move(host));
        page->SetOpenExternally([this](const QUrl& url) { opened.push_back(url.toString()); });
    }

    xml::Document config;
    // A feed, and one whose id a hand-edited list spelled as a path.
    std::map<std::string, feedlist::TFeedEntry> feeds{{"7", apptest::FeedEntry(7)}, {"x/../1", PathSpelled()}};
    static feedlist::TFeedEntry PathSpelled() {
        feedlist::TFeedEntry feed = apptest::FeedEntry(1);
        feed.IdSpelling = "x/../1";
        return feed;
    }
    std::unique_ptr<TFeedPageController> page;
    bool selectionShows = false;
    std::vector<std::string> selected;
    std::vector<QString> navigated;
    std::vector<QString> opened;
    QString status[2];
};

TEST_F(FeedPageControllerTest, OnlyAKnownFeedWithAFileNameIdReachesThePane) {
    const struct {
        const char* id;
        bool selectionShows;
        std::vector<std::string> selected;
        std::vector<QString> navigated;
    } cases[] = {
        {"7", false, {"7"}, {QDir::current().absoluteFilePath("feeds/7.xml")}},
        // Selecting it ran the selection's own Show.
        {"7", true, {"7"}, {}},
        {"", false, {}, {}},
        {"8", false, {}, {}},
        // A hand-edited id is never a path.
        {"x/../1", false, {"x/../1"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        selected.clear();
        navigated.clear();
        selectionShows = c.selectionShows;
        page->Show(c.id);
        EXPECT_EQ(selected, c.selected);
        EXPECT_EQ(navigated, c.navigated);
    }
}

TEST_F(FeedPageControllerTest, ExternalBrowserTakesWebAddressesOnly) {
    const struct {
        const char* external;
        QString address;
        bool cancelled;
    } cases[] = {
        {"True", "http://example.invalid/story", true},   {"True", "https://example.invalid/", true},
        {"True", "/home/user/feeds/1.xml", false},        {"True", "file:///home/user/feeds/1.xml", false},
        {"True", "C:\\Quillet\\feeds\\1.xml", false},     {"True", "about:blank", false},
        {"False", "http://example.invalid/story", false}, {"", "http://example.invalid/story", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address.toStdString());
        config.DocumentElement().ChildByName("general").ChildByNameOrCreate("ExternalBrowser").SetText(c.external);
        opened.clear();
        bool cancel = false;
        page->BeforePaneNavigates(c.address, cancel);
        EXPECT_EQ(cancel, c.cancelled);
        EXPECT_EQ(opened, c.cancelled ? std::vector<QString>{c.address} : std::vector<QString>{});
    }
    page->ActionHelpExecute();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QDir::current().absoluteFilePath("help/Quillet.html")).toString());

    page->PaneStatusTextChanged("http://example.invalid/x");
    EXPECT_EQ(status[1], "http://example.invalid/x");
    page->PaneFailed("the helper crashed");
    EXPECT_NE(status[0].indexOf("the helper crashed"), -1) << status[0].toStdString();
}

}  // namespace

// What a screen reader hears of the feed tree's rows: the data the rows
// give for Qt::AccessibleTextRole (read by Qt's accessible tree cells), over
// the nested folders of a config.xml, in both shipped languages.
#include <gtest/gtest.h>

#include <QTreeWidget>

#include <memory>
#include <string>

#include "AppTestSupport.h"
#include "FeedList.h"
#include "FeedListXml.h"
#include "FeedTree.h"
#include "StarredRow.h"
#include "XmlDom.h"
#include "uvxLanguage.h"

namespace {

class RowSpeechTest : public ::testing::Test {
protected:
    void SetUp() override {
        GlobalLanguage().Scan((apptest::DataDir() / "languages").string());
        GlobalLanguage().SetLCID(1033);
        Config.LoadFromFile(std::string(QUILLET_TEST_DATA_DIR) + "/config/folders_nested.xml");
        xml::Node items = Config.DocumentElement().ChildByName("internal").ChildByName("feedlist").ChildByName("items");
        Stored = std::make_unique<feedlist::TStoredFeedList>(
            List, items, items.Parent().ChildByName("autoincrement").ChildByName("id"));
        Stored->Load();
        Tree.Follow(&List);
    }
    void TearDown() override { GlobalLanguage().SetLCID(1033); }

    QTreeWidgetItem* Row(const std::string& which) {
        if (which == "root") return Tree.RootNode();
        if (which == "starred") return TStarredRow::In(Tree);
        if (which.rfind("folder:", 0) == 0) {
            QTreeWidgetItem* found = nullptr;
            TFeedTree::Walk(Tree.RootNode(), [&](QTreeWidgetItem* node) {
                if (TFeedTree::IsFolderNode(node) && TFeedTree::EntryOf(node)->Caption() == which.substr(7))
                    found = node;
            });
            return found;
        }
        return Tree.FindFeedNodeById(which);
    }
    static std::string Spoken(const QTreeWidgetItem* row) {
        return row->data(0, Qt::AccessibleTextRole).toString().toStdString();
    }

    apptest::TStagedHome Home;
    xml::Document Config;
    feedlist::TFeedList List;
    std::unique_ptr<feedlist::TStoredFeedList> Stored;
    TFeedTree Tree;
};

TEST_F(RowSpeechTest, EveryKindOfRowSaysItsStateInEitherLanguage) {
    const struct {
        const char* row;
        // What the row's state is made (feeds only): failure, attention.
        const char* failure;
        const char* attention;
        int starred;  // the Starred row's count
        const char* english;
        const char* german;
    } cases[] = {
        {"2", "", "", 0, "Ferry Times, 3 unread", "Ferry Times, 3 ungelesen"},
        {"4", "", "", 0, "Field Notes", "Field Notes"},
        // A feed without a caption is named by its address, as shown.
        {"5", "", "", 0, "127.0.0.1:1/last.xml, 1 unread", "127.0.0.1:1/last.xml, 1 ungelesen"},
        {"4", "the server does not answer", "", 0, "Field Notes, failing: the server does not answer",
         "Field Notes, gestört: the server does not answer"},
        // The tooltip's lines are read as one; a failure outweighs attention.
        {"2", "Could not connect\n2026-12-01 10:00:00", "No new items for 40 days", 0,
         "Ferry Times, 3 unread, failing: Could not connect 2026-12-01 10:00:00",
         "Ferry Times, 3 ungelesen, gestört: Could not connect 2026-12-01 10:00:00"},
        {"4", "", "No new items for 40 days", 0, "Field Notes, needs attention: No new items for 40 days",
         "Field Notes, braucht Aufmerksamkeit: No new items for 40 days"},
        // Folders count their feeds and unread items all levels down.
        {"folder:News", "", "", 0, "News, folder, 2 feeds, 5 unread", "News, Ordner, 2 Feeds, 5 ungelesen"},
        {"folder:Local", "", "", 0, "Local, folder, 1 feed, 2 unread", "Local, Ordner, 1 Feed, 2 ungelesen"},
        {"folder:Empty", "", "", 0, "Empty, folder, 0 feeds", "Empty, Ordner, 0 Feeds"},
        {"root", "", "", 0, "Quillet, 5 feeds, 6 unread", "Quillet, 5 Feeds, 6 ungelesen"},
        {"starred", "", "", 5, "Starred, 5 items", "Mit Stern, 5 Einträge"},
        {"starred", "", "", 1, "Starred, 1 item", "Mit Stern, 1 Eintrag"},
        {"starred", "", "", 0, "Starred, 0 items", "Mit Stern, 0 Einträge"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.english);
        QTreeWidgetItem* row = Row(c.row);
        ASSERT_NE(row, nullptr);
        if (TFeedTree::IsFeedNode(row))
            static_cast<TFeedNode*>(row)->ShowState({}, QString::fromUtf8(c.failure), QString::fromUtf8(c.failure),
                                                    QString::fromUtf8(c.attention));
        if (TStarredRow::Is(row)) static_cast<TStarredRow*>(row)->ShowCount(c.starred);
        GlobalLanguage().SetLCID(1033);
        EXPECT_EQ(Spoken(row), c.english);
        // Asked for each time: a language switch is heard at once.
        GlobalLanguage().SetLCID(1031);
        EXPECT_EQ(Spoken(row), c.german);
    }
}

TEST_F(RowSpeechTest, TheDescriptionCarriesTheTooltipAndACountChangeIsHeard) {
    auto* feed = static_cast<TFeedNode*>(Row("4"));
    EXPECT_FALSE(feed->data(0, Qt::AccessibleDescriptionRole).isValid());
    feed->ShowState({}, QStringLiteral("Could not connect\n2026-12-01 10:00:00"), QStringLiteral("Could not connect"));
    EXPECT_EQ(feed->data(0, Qt::AccessibleDescriptionRole).toString(), "Could not connect\n2026-12-01 10:00:00");
    // The failure mended: the words go with the icon.
    feed->ShowState({}, {});
    List.UpdateFeed(*List.FindFeed(4), [](feedlist::TFeedEntry& entry) { entry.Unread = 7; });
    EXPECT_EQ(Spoken(feed), "Field Notes, 7 unread");
    EXPECT_EQ(Spoken(Row("folder:Blogs")), "Blogs, folder, 1 feed, 7 unread");
}

}  // namespace

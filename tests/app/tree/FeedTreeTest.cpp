// The feed tree and the feed list's controller, built without a window over
// the typed list of a config.xml of nested folders: rows, captions and sums
// following the list, lookups, the filter, and the controller's changes
// reaching the rows and config.xml alike.
#include <gtest/gtest.h>

#include <QAction>
#include <QFontMetrics>
#include <QMenu>

#include <memory>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "CountDelegate.h"
#include "FeedList.h"
#include "FeedListXml.h"
#include "FeedListController.h"
#include "FeedTree.h"
#include "XmlDom.h"

namespace {

class FeedTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        Config.LoadFromFile(std::string(QUILLET_TEST_DATA_DIR) + "/config/folders_nested.xml");
        Stored = std::make_unique<feedlist::TStoredFeedList>(
            List, Items(), Items().Parent().ChildByName("autoincrement").ChildByName("id"));
        Stored->Load();
        Tree.Follow(&List);
    }
    xml::Node Items() {
        return Config.DocumentElement().ChildByName("internal").ChildByName("feedlist").ChildByName("items");
    }
    // Every row under the root as "text" with "/" for each level, "*" when bold.
    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        TFeedTree::Walk(Tree.RootNode(), [&](QTreeWidgetItem* node) {
            if (node == Tree.RootNode() || node->isHidden()) return;
            std::string depth;
            for (QTreeWidgetItem* up = node->parent(); up != Tree.RootNode(); up = up->parent()) depth += '/';
            rows.push_back(depth + node->text(0).toStdString() + (node->font(0).bold() ? "*" : ""));
        });
        return rows;
    }
    // Node of a feed by its id.
    QTreeWidgetItem* Feed(const char* id) { return Tree.FindFeedNodeById(id); }
    // The row of a feed ("feed:<id>"), a folder ("folder:<caption>") or the root.
    QTreeWidgetItem* Row(const std::string& which) {
        if (which.rfind("feed:", 0) == 0) return Tree.FindFeedNodeById(which.substr(5));
        QTreeWidgetItem* found = which == "root" ? Tree.RootNode() : nullptr;
        TFeedTree::Walk(Tree.RootNode(), [&](QTreeWidgetItem* node) {
            if (TFeedTree::IsFolderNode(node) && "folder:" + TFeedTree::EntryOf(node)->Caption() == which) found = node;
        });
        return found;
    }

    // Deleting a feed removes its stored copy: the working folder is a home of its own.
    apptest::TStagedHome Home;
    xml::Document Config;
    feedlist::TFeedList List;
    std::unique_ptr<feedlist::TStoredFeedList> Stored;
    TFeedTree Tree;
};

TEST_F(FeedTreeTest, RowsShowCaptionsCountsAndFolderSums) {
    EXPECT_EQ(Rows(),
              (std::vector<std::string>{"Top", "News (5)*", "/Ferry Times (3)*", "/Local (2)*", "//Harbour Notes (2)*",
                                        "Blogs", "/Field Notes", "Empty", "127.0.0.1:1/last.xml (1)*"}));
    EXPECT_FALSE(Tree.FindFeedNodeById("3")->parent()->isExpanded());  // "Local" was kept closed
    EXPECT_EQ(TFeedTree::UnreadUnder(Tree.RootNode()), 6);
    EXPECT_EQ(Tree.FeedIdsUnder({Feed("2")->parent(), Feed("3"), Tree.RootNode()}),
              (std::vector<std::string>{"2", "3", "1", "4", "5"}));

    // A count changed in the list changes the row and every folder above it.
    List.UpdateFeed(*List.FindFeed(3), [](feedlist::TFeedEntry& feed) { feed.Unread = 0; });
    EXPECT_EQ(Rows()[1], "News (3)*");
    EXPECT_EQ(Rows()[3], "/Local");
}

TEST_F(FeedTreeTest, TheFilterShowsMatchingFeedsWithTheirFolders) {
    const struct {
        const char* text;
        std::vector<std::string> rows;
    } cases[] = {
        {"harbour", {"News (5)*", "/Local (2)*", "//Harbour Notes (2)*"}},
        {"FIELD.XML", {"Blogs", "/Field Notes"}},  // the address counts, any case
        {"last.xml", {"127.0.0.1:1/last.xml (1)*"}},
        {"nothing like it", {}},
        // A number is sought in names, never in counts or addresses: only
        // the feed named by its address has it.
        {"2", {"127.0.0.1:1/last.xml (1)*"}},
        {"127.0.0.1",
         {"Top", "News (5)*", "/Ferry Times (3)*", "/Local (2)*", "//Harbour Notes (2)*", "Blogs", "/Field Notes",
          "127.0.0.1:1/last.xml (1)*"}},
        {"ferry.x", {"News (5)*", "/Ferry Times (3)*"}},
        {"notes", {"News (5)*", "/Local (2)*", "//Harbour Notes (2)*", "Blogs", "/Field Notes"}},
        {"  ",
         {"Top", "News (5)*", "/Ferry Times (3)*", "/Local (2)*", "//Harbour Notes (2)*", "Blogs", "/Field Notes",
          "Empty", "127.0.0.1:1/last.xml (1)*"}},
    };
    for (const auto& c : cases) {
        Tree.SetFeedFilter(c.text);
        EXPECT_EQ(Rows(), c.rows) << c.text;
    }
    // A row added while filtering is filtered too.
    Tree.SetFeedFilter("harbour");
    feedlist::TFeedEntry unrelated;
    unrelated.Id = 9;
    unrelated.Caption = "Unrelated";
    List.AddFeed(List.Root(), unrelated);
    EXPECT_TRUE(Feed("9")->isHidden());
}

// A narrow tree cuts the name and keeps the count whole; the row's text
// stays "Name (4)".
TEST_F(FeedTreeTest, ANarrowRowCutsTheNameAndKeepsTheCount) {
    const QFontMetrics metrics(Tree.font());
    const QString text = "Local Feed 00 of the harbour (1234)";
    const int countWidth = metrics.horizontalAdvance("(1234)");
    const struct {
        QString text;
        long long count;
        int width;
        QString name, shownCount;
    } cases[] = {
        {text, 1234, 1000, "Local Feed 00 of the harbour", "(1234)"},
        {text, 1234, countWidth + metrics.horizontalAdvance("Local Feed") + 6,
         metrics.elidedText("Local Feed 00 of the harbour", Qt::ElideRight, metrics.horizontalAdvance("Local Feed")),
         "(1234)"},
        {text, 1234, countWidth / 2, "", "(1234)"},
        // A name that only looks like a count is drawn as it is.
        {"Top 40 (40)", 0, 1000, "Top 40 (40)", ""},
    };
    for (const auto& c : cases) {
        const TCountDelegate::TShown shown = TCountDelegate::Fit(metrics, c.text, c.count, c.width);
        EXPECT_EQ(shown.Count, c.shownCount) << c.width;
        EXPECT_EQ(shown.Name, c.name) << c.width;
    }
    EXPECT_EQ(Feed("2")->text(0), "Ferry Times (3)");
}

TEST_F(FeedTreeTest, TheControllerChangesTheListAndTheRowsTogether) {
    std::vector<std::string> deleted, forgotten, updated;
    int saves = 0;
    TFeedListController::THost host;
    host.Save = [&] { ++saves; };
    host.ScheduleSave = [&] { ++saves; };
    host.AccountIdOf = [](const feedlist::TListEntry*) { return std::string(); };
    host.MayMove = [](const feedlist::TListEntry*, const feedlist::TListEntry*) { return true; };
    host.ApplyingSync = [] { return false; };
    host.Update = [&](const std::string& id) { updated.push_back(id); };
    host.FeedDeleting = [&](const std::string& id) { deleted.push_back(id); };
    host.ForgetItems = [&](std::vector<std::string> ids) { forgotten.insert(forgotten.end(), ids.begin(), ids.end()); };
    host.Guarded = [](const std::function<void()>& handler) { handler(); };
    TFeedListController feeds(Tree, host);

    // A new feed in a folder takes the next id and is fetched once.
    QTreeWidgetItem* blogs = Feed("4")->parent();
    QTreeWidgetItem* added = Tree.RowOf(feeds.AddFeed("http://127.0.0.1:1/new.xml", TFeedTree::EntryOf(blogs), "New"));
    EXPECT_EQ(TFeedTree::FeedIdOf(added), "6");
    EXPECT_EQ(updated, std::vector<std::string>{"6"});
    EXPECT_EQ(TFeedTree::EntryOf(added)->Parent(), TFeedTree::EntryOf(Feed("4"))->Parent());
    EXPECT_EQ(Items().ChildElements()[2].ChildElements()[1].Attribute("id"), "6") << "config.xml follows";

    // Moves: never into itself; the element follows the row's new place.
    QTreeWidgetItem* news = Feed("2")->parent();
    EXPECT_FALSE(feeds.MoveNode(TFeedTree::EntryOf(news), TFeedTree::EntryOf(Feed("3")->parent())));
    ASSERT_TRUE(feeds.MoveNode(TFeedTree::EntryOf(Feed("1")), TFeedTree::EntryOf(news), 0));
    EXPECT_EQ(Items().ChildElements().front().Attribute("caption"), "News");
    EXPECT_EQ(news->child(0), Feed("1"));

    // A folder deleted keeping its contents leaves them in its place.
    feeds.DeleteFolder(TFeedTree::EntryOf(news), false);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Top", "Ferry Times (3)*", "Local (2)*", "/Harbour Notes (2)*", "Blogs",
                                                "/Field Notes", "/New", "Empty", "127.0.0.1:1/last.xml (1)*"}));
    // One deleted with its contents takes their stored items with it.
    feeds.DeleteFolder(TFeedTree::EntryOf(Feed("3")->parent()), true);
    EXPECT_EQ(deleted, std::vector<std::string>{"3"});
    EXPECT_EQ(forgotten, std::vector<std::string>{"3"});
    EXPECT_EQ(Tree.FindFeedNodeById("3"), nullptr);
    EXPECT_EQ(List.FeedCount(), 5u);
    EXPECT_GT(saves, 0);

    // The "Move to" menu offers every folder but the row's own.
    Tree.setCurrentItem(Feed("4"));
    QMenu menu;
    feeds.FillMoveToMenu(menu);
    std::vector<std::string> offered;
    for (QAction* action : menu.actions())
        offered.push_back(action->text().trimmed().toStdString() + (action->isEnabled() ? "" : " (here)"));
    EXPECT_EQ(offered, (std::vector<std::string>{"Quillet", "Blogs (here)", "Empty"}));
}

// Entries stand for places: none for the root, a feed for its own folder;
// what cannot be is refused without a change.
TEST_F(FeedTreeTest, TheControllersEntriesNameWhereChangesGo) {
    TFeedListController::THost host;
    host.Save = host.ScheduleSave = [] {};
    host.AccountIdOf = [](const feedlist::TListEntry*) { return std::string(); };
    host.MayMove = [](const feedlist::TListEntry*, const feedlist::TListEntry*) { return true; };
    host.ApplyingSync = [] { return false; };
    host.Update = [](const std::string&) {};
    TFeedListController feeds(Tree, host);
    const feedlist::TListEntry* root = &List.Root();
    const auto entry = [&](const std::string& which) { return TFeedTree::EntryOf(Row(which)); };
    const auto parentOf = [](const feedlist::TListEntry* added) { return added ? added->Parent() : nullptr; };

    const struct {
        const char* name;
        const feedlist::TListEntry* given;
        const feedlist::TListEntry* expected;
    } places[] = {
        {"none: the root", nullptr, root},
        {"the root", root, root},
        {"a folder", entry("folder:Blogs"), entry("folder:Blogs")},
        {"a feed: its folder", entry("feed:3"), entry("folder:Local")},
        {"a feed at the top: the root", entry("feed:1"), root},
    };
    for (const auto& c : places) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parentOf(feeds.AddFeed("http://127.0.0.1:1/" + std::string(c.name) + ".xml", c.given)), c.expected);
        EXPECT_EQ(parentOf(feeds.AddFolder(c.name, c.given)), c.expected);
    }

    const std::string before = Config.SaveToString();
    const struct {
        const char* name;
        const feedlist::TListEntry *moving, *into;
    } refused[] = {
        {"nothing", nullptr, root},
        {"the root", root, entry("folder:Blogs")},
        {"into nothing", entry("feed:1"), nullptr},
        {"into a feed", entry("feed:1"), entry("feed:2")},
        {"into itself", entry("folder:News"), entry("folder:News")},
        {"into its own folder", entry("folder:News"), entry("folder:Local")},
    };
    for (const auto& c : refused) EXPECT_FALSE(feeds.MoveNode(c.moving, c.into)) << c.name;
    // Neither the root nor a feed is deleted as a folder.
    feeds.DeleteFolder(root, true);
    feeds.DeleteFolder(entry("feed:2"), true);
    feeds.DeleteFolder(nullptr, false);
    feeds.DeleteFeed(entry("folder:Empty"));
    EXPECT_EQ(Config.SaveToString(), before);
}

TEST_F(FeedTreeTest, RenamingFollowsTheRulesOfEachKindOfRow) {
    std::vector<std::string> renamed;
    int saves = 0;
    TFeedListController::THost host;
    host.Save = [&] { ++saves; };
    host.Renamed = [&](const feedlist::TListEntry*, const std::string& old) { renamed.push_back(old); };
    TFeedListController feeds(Tree, host);
    const struct {
        const char* row;
        QString text;
        std::string caption;  // the entry's afterwards
        QString shown;        // the row's text
        bool changes;         // the host hears of it and the list is saved
    } cases[] = {
        {"feed:1", "Morning news", "Morning news", "Morning news", true},
        // A count suffix left in the edit box becomes part of the name.
        {"feed:2", "Ferry Times (3)", "Ferry Times (3)", "Ferry Times (3)", true},
        // The name as typed, until the editor closes and the count returns.
        {"feed:5", "Named", "Named", "Named", true},
        // Emptied: the address stands in, with the count.
        {"feed:3", "", "", "127.0.0.1:1/harbour.xml (2)", true},
        {"folder:Blogs", "  Reading  ", "Reading", "Reading", true},
        // A folder keeps a name.
        {"folder:Empty", "   ", "Empty", "Empty", true},
        {"root", "Renamed root", "", Tree.RootNode()->text(0), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        QTreeWidgetItem* row = Row(c.row);
        ASSERT_NE(row, nullptr);
        const feedlist::TListEntry* entry = TFeedTree::EntryOf(row);
        const std::string old = entry->Caption();
        const std::size_t heard = renamed.size();
        const int saved = saves;
        feeds.Rename(entry, c.text);
        EXPECT_EQ(row->text(0), c.shown);
        EXPECT_EQ(renamed.size(), heard + (c.changes ? 1 : 0));
        EXPECT_EQ(saves, saved + (c.changes ? 1 : 0));
        if (!c.changes) continue;
        EXPECT_EQ(entry->Caption(), c.caption);
        EXPECT_EQ(renamed.back(), old);
    }
    feeds.Rename(nullptr, "nothing");
    EXPECT_EQ(renamed.size(), 6u);
    // config.xml follows the list.
    EXPECT_EQ(Items().ChildElements()[0].Attribute("caption"), "Morning news");
    EXPECT_EQ(Items().ChildElements()[2].Attribute("caption"), "Reading");
}

}  // namespace

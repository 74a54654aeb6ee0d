// Folders in the feed list: the tree and config.xml hold the same nesting
// through every operation, counts add up, and the polling order, Update
// Feed on a folder, OPML and the filter follow the folders.
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "LoopbackServer.h"
#include "Opml.h"
#include "ReadStateController.h"
#include "XmlDom.h"
#include "fMain.h"

namespace {

using apptest::TStagedHome;

const char* const kItemsPath = "internal\\feedlist\\items";

std::string Fixture(const std::string& relative) {
    std::ifstream in(std::string(QUILLET_TEST_DATA_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string CaptionOf(const xml::Node& element) { return element.Attribute("caption").value_or(""); }

// "Top,News{Ferry Times,Local{Harbour Notes}}": the nesting as config.xml
// holds it ...
std::string ShapeOf(const xml::Node& container) {
    std::string shape;
    for (const xml::Node& child : container.ChildElements()) {
        if (!shape.empty()) shape += ',';
        shape += CaptionOf(child);
        if (child.Name() == "folder") shape += '{' + ShapeOf(child) + '}';
    }
    return shape;
}

// ... and as the tree shows it, read through the list entry behind each node.
std::string ShapeOf(TFormMain& form, QTreeWidgetItem* node) {
    std::string shape;
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem* child = node->child(i);
        if (!shape.empty()) shape += ',';
        shape += TFeedTree::EntryOf(child)->Caption();
        if (TFeedTree::IsFolderNode(child)) shape += '{' + ShapeOf(form, child) + '}';
    }
    return shape;
}

class FolderTest : public ::testing::Test {
protected:
    void Start(const std::string& config = {}) {
        if (!config.empty()) home.WriteFile("config.xml", config);
        form = std::make_unique<TFormMain>();
        form->Updates().Stop();
    }
    void TearDown() override { form.reset(); }

    xml::Node Items() { return form->Options().GetConfigNode(kItemsPath); }
    // The tree must always mirror config.xml; returns the shape both share.
    std::string Shape() {
        const std::string stored = ShapeOf(Items());
        EXPECT_EQ(ShapeOf(*form, form->Tree().RootNode()), stored) << "the tree and config.xml disagree";
        return stored;
    }
    QTreeWidgetItem* Node(const std::string& path) {
        // "News/Local/Harbour Notes"
        QTreeWidgetItem* node = form->Tree().RootNode();
        std::stringstream parts(path);
        for (std::string part; std::getline(parts, part, '/');) {
            QTreeWidgetItem* found = nullptr;
            for (int i = 0; i < node->childCount() && !found; ++i) {
                QTreeWidgetItem* child = node->child(i);
                if (TFeedTree::EntryOf(child)->Caption() == part) found = child;
            }
            if (!found) ADD_FAILURE() << "no node " << path;
            node = found;
            if (!node) break;
        }
        return node;
    }
    std::vector<std::string> PollingIds() {
        std::vector<std::string> ids;
        for (QTreeWidgetItem* node : form->Tree().FeedNodesUnder(form->Tree().RootNode()))
            ids.push_back(apptest::FeedId(node));
        return ids;
    }

    TStagedHome home;
    std::unique_ptr<TFormMain> form;
};

TEST_F(FolderTest, NestedListLoadsWithSumsBoldAndKeptOpenState) {
    Start(Fixture("config/folders_nested.xml"));
    EXPECT_EQ(Shape(), "Top,News{Ferry Times,Local{Harbour Notes}},Blogs{Field Notes},Empty{},");
    struct Row {
        const char* path;
        const char* text;
        bool bold;
    } rows[] = {
        {"News", "News (5)", true}, {"News/Local", "Local (2)", true},
        {"Blogs", "Blogs", false},  {"Empty", "Empty", false},
        {"Top", "Top", false},
    };
    for (const Row& row : rows) {
        QTreeWidgetItem* node = Node(row.path);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->text(0).toStdString(), row.text) << row.path;
        EXPECT_EQ(node->font(0).bold(), row.bold) << row.path;
    }
    EXPECT_TRUE(Node("News")->isExpanded());
    EXPECT_FALSE(Node("News/Local")->isExpanded()) << "a closed folder stays closed";
    EXPECT_EQ(PollingIds(), (std::vector<std::string>{"1", "2", "3", "4", "5"})) << "polling follows the tree";

    // Reading a feed in a folder takes its count off every folder above.
    form->Items().MarkFeedsRead(form->Tree().FeedIdsUnder({Node("News/Local/Harbour Notes")}));
    apptest::ShowFeed(*form, Node("News/Local/Harbour Notes"));
    EXPECT_EQ(Node("News/Local")->text(0).toStdString(), "Local");
    EXPECT_EQ(Node("News")->text(0).toStdString(), "News (3)");
    EXPECT_TRUE(Node("News/Local")->isExpanded()) << "showing a feed opens its folders";

    // A new feed id never repeats one inside a folder.
    QTreeWidgetItem* added =
        form->Tree().RowOf(form->Feeds().AddFeed("http://127.0.0.1:1/new.xml", TFeedTree::EntryOf(Node("Blogs"))));
    EXPECT_EQ(apptest::FeedId(added), "6");
    EXPECT_EQ(added->parent(), Node("Blogs"));
}

TEST_F(FolderTest, OperationsKeepTreeAndFileTogetherAcrossARestart) {
    Start(Fixture("config/folders_nested.xml"));
    QTreeWidgetItem* work =
        form->Tree().RowOf(form->Feeds().AddFolder("Work", TFeedTree::EntryOf(form->Tree().RootNode())));
    ASSERT_NE(work, nullptr);
    EXPECT_TRUE(form->Feeds().MoveNode(TFeedTree::EntryOf(Node("Top")), TFeedTree::EntryOf(work)));
    EXPECT_TRUE(form->Feeds().MoveNode(TFeedTree::EntryOf(Node("Blogs")), TFeedTree::EntryOf(Node("News/Local")), 0))
        << "folders nest as deep as wanted";
    EXPECT_FALSE(form->Feeds().MoveNode(TFeedTree::EntryOf(Node("News")), TFeedTree::EntryOf(Node("News/Local/Blogs"))))
        << "a folder cannot go into itself";
    EXPECT_FALSE(form->Feeds().MoveNode(TFeedTree::EntryOf(form->Tree().RootNode()), TFeedTree::EntryOf(work)));
    // Moving down within one folder counts positions as they will stand.
    EXPECT_TRUE(form->Feeds().MoveNode(TFeedTree::EntryOf(Node("Empty")), TFeedTree::EntryOf(form->Tree().RootNode()),
                                       form->Tree().RootNode()->childCount()));
    form->Feeds().Rename(TFeedTree::EntryOf(Node("Work")), "Day Job");
    form->Feeds().Rename(TFeedTree::EntryOf(Node("Day Job")), "  ");  // a folder keeps a name
    EXPECT_EQ(Shape(), "News{Ferry Times,Local{Blogs{Field Notes},Harbour Notes}},,Day Job{Top},Empty{}");
    EXPECT_EQ(PollingIds(), (std::vector<std::string>{"2", "4", "3", "5", "1"}));

    // Deleting a folder and keeping its contents puts them in its place.
    form->Feeds().DeleteFolder(TFeedTree::EntryOf(Node("News/Local")), false);
    EXPECT_EQ(Shape(), "News{Ferry Times,Blogs{Field Notes},Harbour Notes},,Day Job{Top},Empty{}");
    EXPECT_EQ(Node("News")->text(0).toStdString(), "News (5)");
    // Deleting with its feeds removes them and their stored copies.
    home.WriteFile("feeds/4.xml", "<rss/>");
    form->Feeds().DeleteFolder(TFeedTree::EntryOf(Node("News/Blogs")), true);
    EXPECT_FALSE(std::filesystem::exists(home.Dir() / "feeds/4.xml"));
    EXPECT_EQ(form->Tree().FindFeedNodeById("4"), nullptr);
    const std::string shape = Shape();

    form->Tree().collapseItem(Node("News"));
    form->Options().Save();
    form.reset();
    Start();
    EXPECT_EQ(Shape(), shape) << "the folders come back as they were saved";
    EXPECT_FALSE(Node("News")->isExpanded());
}

TEST_F(FolderTest, FolderDeleteAndUpdateActionsAskAndUseTheUpdateAllPath) {
    testsupport::LoopbackServer server;
    Start();
    QTreeWidgetItem* folder = form->Tree().RowOf(form->Feeds().AddFolder("Polled", nullptr));
    std::vector<std::string> ids;
    for (const char* name : {"a", "b"}) {
        testsupport::Response response;
        response.body = std::string("<rss version=\"2.0\"><channel><title>") + name +
                        "</title><link>http://x/</link><description>d</description></channel></rss>";
        server.AddEndpoint(std::string("/") + name, response);
        ids.push_back(std::to_string(ids.size() + 10));
        apptest::AddStoredFeed(
            *form, {{"url", server.Url(std::string("/") + name)}, {"id", ids.back()}, {"caption", ""}}, folder);
    }
    apptest::AddConfiguredFeed(*form, "20", server.Url("/outside"), "Outside");
    form->Tree().setCurrentItem(folder);
    ASSERT_TRUE(form->Actions().UpdateFeed->isEnabled());
    EXPECT_FALSE(form->Actions().CopyURL->isEnabled());
    form->Actions().UpdateFeed->trigger();
    ASSERT_TRUE(apptest::WaitUntil([&] { return form->Actions().UpdateAll->isEnabled(); }));
    EXPECT_EQ(server.NumHits("/a"), 1);
    EXPECT_EQ(server.NumHits("/b"), 1);
    EXPECT_EQ(server.NumHits("/outside"), 0) << "only the folder's feeds";
    EXPECT_EQ(TFeedTree::FeedOf(folder->child(0))->Caption, "a");

    int asked = 0;
    form->Feeds().AskDeleteFolder = [&](const feedlist::TListEntry&) { return ++asked == 1 ? 0 : 1; };
    form->Actions().DeleteFeed->trigger();
    EXPECT_EQ(Shape(), "Polled{a,b},Outside") << "cancelled";
    form->Actions().DeleteFeed->trigger();
    EXPECT_EQ(Shape(), "a,b,Outside");
}

TEST_F(FolderTest, OpmlFoldersMergeOnImportAndRoundTrip) {
    Start(Fixture("config/folders_nested.xml"));
    const std::string opml = (home.Dir() / "in.opml").string();
    home.WriteFile("in.opml", Fixture("opml/nested_from_reader.opml"));
    const TImportResult result = form->Feeds().ImportOPML(opml);
    EXPECT_EQ(result.added, 4);
    EXPECT_EQ(result.skipped, 1) << "the feed already in the list";
    EXPECT_EQ(Shape(),
              "Top,News{Ferry Times,Local{Harbour Notes},Island Radio},Blogs{Field Notes},Empty{},,"
              "Tech{Kernel Weekly,Languages{Compiler Log}},Loose Feed");

    const std::string exported = (home.Dir() / "out.opml").string();
    form->Feeds().ExportOPML(exported);
    std::vector<std::string> paths;
    for (const opml::Outline& outline : opml::ReadFile(exported)) {
        std::string path;
        for (const std::string& folder : outline.folders) path += folder + "/";
        paths.push_back(path + outline.caption);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"Top", "News/Ferry Times", "News/Local/Harbour Notes",
                                               "News/Island Radio", "Blogs/Field Notes", "", "Tech/Kernel Weekly",
                                               "Tech/Languages/Compiler Log", "Loose Feed"}))
        << "a feed without a caption or stored copy is exported without a name";
}

TEST_F(FolderTest, FilterShowsMatchesWithTheirFoldersAndEscapeClears) {
    Start(Fixture("config/folders_nested.xml"));
    struct Row {
        const char* text;
        std::vector<const char*> shown;
    } rows[] = {
        {"harbour", {"News", "News/Local", "News/Local/Harbour Notes"}},
        {"FIELD", {"Blogs", "Blogs/Field Notes"}},
        {"last.xml", {}},  // an address matches too (the feed without a caption)
        {"nothing like it", {}},
    };
    const std::vector<const char*> all = {
        "Top",  "News", "News/Ferry Times", "News/Local", "News/Local/Harbour Notes", "Blogs", "Blogs/Field Notes",
        "Empty"};
    for (const Row& row : rows) {
        form->FeedFilter->setText(row.text);
        for (const char* path : all) {
            const bool expected = std::find_if(row.shown.begin(), row.shown.end(), [&](const char* shown) {
                                      return std::string(shown) == path;
                                  }) != row.shown.end();
            EXPECT_EQ(!Node(path)->isHidden(), expected) << row.text << ": " << path;
        }
    }
    form->FeedFilter->setText("harbour");
    QTest::keyClick(form->FeedFilter, Qt::Key_Escape);
    EXPECT_TRUE(form->FeedFilter->text().isEmpty());
    for (const char* path : all) EXPECT_FALSE(Node(path)->isHidden()) << path;
    EXPECT_FALSE(Node("News/Local")->isExpanded()) << "the filter's opening is not remembered";
    EXPECT_FALSE(static_cast<TFolderNode*>(Node("News/Local"))->Folder().Expanded);
    EXPECT_EQ(Items().ChildElements()[1].ChildElements()[1].Attribute("expanded"), "False");

    form->FeedFilter->setText("harbour");
    form->Tree().setCurrentItem(Node("News/Local/Harbour Notes"));
    EXPECT_TRUE(form->Actions().EditFeed->isEnabled()) << "selection works while filtering";
    form->FeedFilter->clear();
    EXPECT_TRUE(Node("News/Local")->isExpanded()) << "showing a feed opens its folders, and that is kept";
}

TEST_F(FolderTest, TwoThousandFeedsInAHundredFoldersStartAndFilterQuickly) {
    std::string items;
    int id = 1;
    for (int folder = 0; folder < 100; ++folder) {
        items += "<folder caption=\"Folder " + std::to_string(folder) + "\">";
        for (int feed = 0; feed < 20; ++feed, ++id)
            items += "<item url=\"http://127.0.0.1:1/" + std::to_string(id) + ".xml\" id=\"" + std::to_string(id) +
                     "\" caption=\"Feed " + std::to_string(id) + "\" unread=\"" + std::to_string(id % 3) + "\"/>";
        items += "</folder>";
    }
    std::string config = Fixture("config/folders_nested.xml");
    const std::size_t open = config.find("<items>") + 7;
    config.replace(open, config.find("</items>") - open, items);
    QElapsedTimer clock;
    clock.start();
    Start(config);
    const qint64 startMs = clock.restart();
    form->FeedFilter->setText("Feed 1999");
    const qint64 filterMs = clock.restart();
    form->FeedFilter->clear();
    const qint64 clearMs = clock.elapsed();
    std::cout << "2,000 feeds in 100 folders: window " << startMs << " ms, filter " << filterMs << " ms, clear "
              << clearMs << " ms\n";
    EXPECT_EQ(form->Tree().FeedNodesUnder(form->Tree().RootNode()).size(), 2000u);
    // Generous bounds for a loaded test machine; bench/app_soak has the figures.
    EXPECT_LT(filterMs, 500);
    EXPECT_LT(clearMs, 500);
}

}  // namespace

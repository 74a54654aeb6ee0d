// Moving subscriptions in and out as OPML, through the main window.
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>

#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

#include "AppTestSupport.h"
#include "FeedList.h"
#include "TimeBound.h"
#include "XmlDom.h"
#include "fMain.h"

namespace {

using apptest::TStagedHome;

const char* const kItemsPath = "internal\\feedlist\\items";

// Counts the times a file in the working directory is replaced by a save
// (the XML layer writes a temporary file and renames it over the target).
class TReplaceCounter {
public:
    explicit TReplaceCounter(const std::string& name) : FName(name) {
        FFd = inotify_init1(IN_NONBLOCK);
        if (FFd >= 0) inotify_add_watch(FFd, ".", IN_MOVED_TO);
    }
    ~TReplaceCounter() {
        if (FFd >= 0) ::close(FFd);
    }
    int Count() {
        alignas(inotify_event) char buffer[64 * 1024];
        for (ssize_t n; (n = ::read(FFd, buffer, sizeof buffer)) > 0;) {
            for (char* p = buffer; p < buffer + n;) {
                auto* event = reinterpret_cast<inotify_event*>(p);
                if (event->len > 0 && FName == event->name) ++FCount;
                p += sizeof(inotify_event) + event->len;
            }
        }
        return FCount;
    }

private:
    std::string FName;
    int FFd = -1;
    int FCount = 0;
};

std::vector<std::pair<std::string, std::string>> FeedList(TFormMain& form) {
    std::vector<std::pair<std::string, std::string>> feeds;
    for (const feedlist::TListEntry* feed : form.FeedList().Feeds())
        feeds.emplace_back(feed->Feed().Url, feed->Feed().Caption);
    return feeds;
}

void AddStored(TFormMain& form, const std::string& id, const std::string& url, const std::string& caption) {
    apptest::AddStoredFeed(form, {{"url", url}, {"id", id}, {"caption", caption}, {"unread", "0"}, {"lastupdate", ""}});
}

}  // namespace

TEST(OpmlImport, ExportThenImportIntoAnEmptyListGivesTheSameFeedsInOrder) {
    const std::string exported =
        (std::filesystem::temp_directory_path() / ("quillet-export-" + std::to_string(::getpid()) + ".opml")).string();
    std::vector<std::pair<std::string, std::string>> expected;
    {
        TStagedHome home;
        TFormMain form;
        AddStored(form, "1", "http://127.0.0.1:1/one.xml", "First & foremost");
        AddStored(form, "2", "http://127.0.0.1:1/two.xml", "");
        AddStored(form, "3", "http://127.0.0.1:1/three.xml?a=1&b=2", "Third");
        // A feed without a caption is exported under its channel title.
        home.WriteFile("feeds/2.xml",
                       "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Second channel</title>"
                       "<link>l</link><description>d</description><item><title>x</title></item>"
                       "</channel></rss>");
        form.Feeds().ExportOPML(exported);
        expected = {{"http://127.0.0.1:1/one.xml", "First & foremost"},
                    {"http://127.0.0.1:1/two.xml", "Second channel"},
                    {"http://127.0.0.1:1/three.xml?a=1&b=2", "Third"}};
    }
    TStagedHome home;
    TFormMain form;
    const auto result = form.Feeds().ImportOPML(exported);
    std::filesystem::remove(exported);
    EXPECT_EQ(result.added, 3);
    EXPECT_EQ(result.skipped, 0);
    EXPECT_EQ(FeedList(form), expected);
}

TEST(OpmlImport, AMalformedFileLeavesConfigXmlByteForByte) {
    TStagedHome home;
    TFormMain form;
    AddStored(form, "1", "http://127.0.0.1:1/one.xml", "One");
    form.Options().Save();
    const std::string before = home.ReadFile("config.xml");
    for (const char* text : {"<opml><body><outline xmlUrl='http://x/'>", "<html><body/></html>", "not xml at all"}) {
        home.WriteFile("bad.opml", text);
        EXPECT_THROW(form.Feeds().ImportOPML("bad.opml"), std::exception) << text;
    }
    EXPECT_EQ(FeedList(form).size(), 1u);
    EXPECT_FALSE(form.Options().ConfigDocument().Modified());
    EXPECT_EQ(home.ReadFile("config.xml"), before);
}

TEST(OpmlImport, AThousandFeedsImportWellUnderASecondWithOneSave) {
    TStagedHome home;
    TFormMain form;
    std::string text = "<?xml version=\"1.0\"?><opml version=\"1.0\"><head/><body><outline text=\"All\">";
    for (int i = 0; i < 1000; ++i)
        text += "<outline type=\"rss\" text=\"Feed " + std::to_string(i) + "\" xmlUrl=\"http://127.0.0.1:1/" +
                std::to_string(i) + ".xml\"/>";
    text += "</outline></body></opml>";
    home.WriteFile("many.opml", text);

    TReplaceCounter saves("config.xml");
    const auto start = std::chrono::steady_clock::now();
    const auto result = form.Feeds().ImportOPML("many.opml");
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(result.added, 1000);
    ASSERT_EQ(form.Tree().RootNode()->childCount(), 1) << "the outline folder";
    EXPECT_EQ(form.Tree().RootNode()->child(0)->childCount(), 1000);
    EXPECT_LT(elapsed, std::chrono::milliseconds(500));
    EXPECT_EQ(saves.Count(), 1);
    const auto feeds = FeedList(form);
    EXPECT_EQ(feeds.front().second, "Feed 0");
    EXPECT_EQ(feeds.back().first, "http://127.0.0.1:1/999.xml");
}

// Twenty thousand outlines, in folders met again and again and at the top:
// each feed once took a walk over every feed for its id (82 s), so a bound
// of a second catches any work that grows with the square of the list; and
// the window never stands still for long, as a ticking timer shows.
TEST(OpmlImport, TwentyThousandFeedsImportInWellUnderASecondWithIdsInTurn) {
    TStagedHome home;
    TFormMain form;
    form.Updates().Stop();
    AddStored(form, "3", "http://127.0.0.1:1/three.xml", "Three");
    AddStored(form, "9", "http://127.0.0.1:1/nine.xml", "Nine");
    form.Options().GetConfigNode(feedlist::kCounterPath).SetText("5");
    form.Feeds().Reload();
    std::string text = "<opml version=\"2.0\"><body>";
    for (int i = 0; i < 20000; ++i) {
        const std::string feed = "<outline text=\"F" + std::to_string(i) + "\" xmlUrl=\"http://127.0.0.1:1/" +
                                 std::to_string(i) + ".xml\"/>";
        text += i % 2 ? feed : "<outline text=\"Folder " + std::to_string(i % 20) + "\">" + feed + "</outline>";
    }
    home.WriteFile("many.opml", text + "</body></opml>");

    const auto threadTime = apptest::ThreadTime;
    const auto start = threadTime();
    auto lastTick = start;
    std::chrono::nanoseconds longest{0};
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const auto now = threadTime();
        longest = std::max(longest, now - lastTick);
        lastTick = now;
    });
    ticks.start(1);
    const auto result = form.Feeds().ImportOPML("many.opml");
    const auto elapsed = threadTime() - start;
    longest = std::max(longest, threadTime() - lastTick);
    const auto ms = [](auto d) {
        return static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
    };
    EXPECT_LT(elapsed, testsupport::TimeBound(std::chrono::milliseconds(1000)));
    EXPECT_LT(longest, testsupport::TimeBound(std::chrono::milliseconds(100)));
    std::printf("20,000 outlines: %lld ms of the window thread, %lld ms at most in one stretch\n", ms(elapsed),
                ms(longest));

    EXPECT_EQ(result.added, 20000);
    EXPECT_EQ(form.Tree().RootNode()->childCount(), 2 + 10 + 10000) << "two feeds, ten folders, the loose feeds";
    const auto items = form.FeedList().Feeds();
    std::set<std::string> ids;
    for (const feedlist::TListEntry* item : items) ids.insert(feedlist::IdText(item->Feed()));
    EXPECT_EQ(ids.size(), items.size()) << "every id once";
    EXPECT_TRUE(ids.count("10") && ids.count("20009") && !ids.count("20010"));
    EXPECT_EQ(form.Options().GetConfigNode(feedlist::kCounterPath).Text(), "20010");
    EXPECT_EQ(form.Tree().FeedNodesUnder(form.Tree().RootNode()).size(), items.size()) << "a node for every feed";
}

// Saved, folders nested deeper than libxml2 reads would lock the user out
// of the home: an import merges what lies deeper than the bound into the
// deepest folder allowed, no folder is made or moved deeper, and the list
// loads again.
TEST(OpmlImport, DeeplyNestedFoldersAreFlattenedAndTheListLoadsBack) {
    TStagedHome home;
    const int depth = 253;  // the OPML file itself is as deep as libxml2 reads
    std::string text = "<opml version=\"2.0\"><body>";
    for (int i = 1; i <= depth; ++i) text += "<outline text=\"L" + std::to_string(i) + "\">";
    text += "<outline text=\"Deep\" xmlUrl=\"http://127.0.0.1:1/deep.xml\"/>";
    for (int i = 1; i <= depth; ++i) text += "</outline>";
    home.WriteFile("deep.opml", text + "<outline text=\"Top\" xmlUrl=\"http://127.0.0.1:1/top.xml\"/></body></opml>");
    {
        TFormMain form;
        form.Updates().Stop();
        const auto result = form.Feeds().ImportOPML("deep.opml");
        EXPECT_EQ(result.added, 2);
        EXPECT_EQ(result.flattened, 1);
        QTreeWidgetItem* deepest = form.Tree().FindFeedNodeById("1")->parent();
        EXPECT_EQ(TFeedTree::EntryOf(form.Tree().FindFeedNodeById("1"))->Depth(), feedlist::kMaxFolderDepth);
        EXPECT_THROW(form.Feeds().AddFolder("Deeper", TFeedTree::EntryOf(deepest)), std::runtime_error);

        // A folder of two levels fits where it ends at the bound, not lower.
        QTreeWidgetItem* outer = form.Tree().RowOf(form.Feeds().AddFolder("Outer"));
        form.Feeds().AddFolder("Inner", TFeedTree::EntryOf(outer));
        EXPECT_THROW(form.Feeds().MoveNode(TFeedTree::EntryOf(outer), TFeedTree::EntryOf(deepest->parent())),
                     std::runtime_error);
        EXPECT_EQ(outer->parent(), form.Tree().RootNode());
        EXPECT_TRUE(form.Feeds().MoveNode(TFeedTree::EntryOf(outer), TFeedTree::EntryOf(deepest->parent()->parent())));
        EXPECT_TRUE(
            form.Feeds().MoveNode(TFeedTree::EntryOf(form.Tree().FindFeedNodeById("2")), TFeedTree::EntryOf(deepest)))
            << "a feed goes anywhere";
        form.Options().Save();
    }
    xml::Document saved;
    EXPECT_NO_THROW(saved.LoadFromFile("config.xml"));
    TFormMain again;
    again.Updates().Stop();
    EXPECT_EQ(again.Tree().FeedNodesUnder(again.Tree().RootNode()).size(), 2u);
}

// The typed feed list: its stored form read and written back unchanged,
// damaged lists mended on loading, and the rules of moves and removals
// with what the observers are told.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "FeedListModel.h"
#include "FeedListXml.h"
#include "FixtureFile.h"
#include "TimeBound.h"
#include "XmlDom.h"

namespace {

using feedlist::TFeedEntry;
using feedlist::TFeedList;
using feedlist::TFolderEntry;
using feedlist::TListEntry;

constexpr const char* kItems = "internal\\feedlist\\items";
constexpr const char* kCounter = "internal\\feedlist\\autoincrement\\id";

xml::Node Path(xml::Document& doc, const std::string& path) {
    xml::Node node = doc.DocumentElement();
    std::size_t start = 0;
    while (node && start <= path.size()) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        node = node.FindChild(path.substr(start, end - start));
        start = end + 1;
    }
    return node;
}

struct TLoaded {
    xml::Document doc;
    TFeedList list;
    feedlist::TLoadNotes notes;
    explicit TLoaded(const std::string& text) {
        doc.LoadFromString(text);
        notes = feedlist::LoadFeedList(list, Path(doc, kItems), Path(doc, kCounter));
    }
};

std::string Fixture(const std::string& name) {
    return testsupport::ReadFixtureFile(std::string(QUILLET_DATA_DIR) + "/../tests/data/config/" + name);
}

TFeedEntry Feed(std::string caption, int id = 0) {
    TFeedEntry feed;
    feed.Id = id;
    feed.Caption = std::move(caption);
    return feed;
}

TFolderEntry Folder(std::string caption) {
    TFolderEntry folder;
    folder.Caption = std::move(caption);
    return folder;
}

// A compact picture of the list: captions with folders in brackets.
std::string Shape(const TListEntry& entry) {
    std::string out;
    for (const auto& child : entry.Children()) {
        if (!out.empty()) out += ' ';
        out += child->IsFeed() ? std::to_string(child->Feed().Id) : "[" + Shape(*child) + "]";
    }
    return out;
}

TEST(FeedListModel, ListsOfEveryEarlierShapeAreWrittenBackAsTheyWere) {
    const std::vector<std::string> files = {
        std::string(QUILLET_DATA_DIR) + "/config.xml",
        std::string(QUILLET_DATA_DIR) + "/../tests/data/config/folders_nested.xml",
        std::string(QUILLET_DATA_DIR) + "/../tests/data/config/feed_properties.xml",
        std::string(QUILLET_DATA_DIR) + "/../tests/data/config/feed_list_every_shape.xml",
    };
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        TLoaded loaded(testsupport::ReadFixtureFile(file));
        const std::string before = loaded.doc.SaveToString();
        feedlist::SaveFeedList(loaded.list, Path(loaded.doc, kItems), Path(loaded.doc, kCounter));
        EXPECT_EQ(loaded.doc.SaveToString(), before);
        EXPECT_TRUE(loaded.notes.Renumbered.empty());
    }
}

TEST(FeedListModel, TypedFieldsCarryWhatTheAttributesSay) {
    TLoaded loaded(Fixture("feed_list_every_shape.xml"));
    const TFeedList& list = loaded.list;
    const TFeedEntry& quiet = list.FindFeed(8)->Feed();
    EXPECT_FALSE(quiet.Notify);
    EXPECT_EQ(quiet.ETag, "\"v1\"");
    EXPECT_EQ(quiet.Stopped, "gone");
    EXPECT_FALSE(quiet.IntervalSeconds);  // "oops" is no interval; kept as written
    EXPECT_EQ(list.FindFeed(9)->Feed().IntervalSeconds, 7200);
    const TListEntry* account = list.FindAccount("alice@127.0.0.1");
    ASSERT_TRUE(account);
    EXPECT_EQ(account->Folder().Account->User, "alice");
    EXPECT_EQ(list.FindFeed(10)->AccountFolder(), account);
    EXPECT_EQ(list.FindFeed(10)->Feed().Stream, "feed/3");
    EXPECT_EQ(list.FindFeed(9)->AccountFolder(), nullptr);
    EXPECT_EQ(list.Root().Child(4)->IsAccount(), false);  // address and user without an id
    EXPECT_EQ(list.Root().UnreadUnder(), 7);
    EXPECT_EQ(list.NextId(), 12);

    // A change of typed fields is written in place; new settings follow
    // the attributes already there.
    TFeedList& editable = loaded.list;
    editable.UpdateFeed(*list.FindFeed(7), [](TFeedEntry& feed) {
        feed.Unread = 0;
        feed.Notify = false;
        feed.IntervalSeconds = 90;
    });
    feedlist::SaveFeedList(list, Path(loaded.doc, kItems), Path(loaded.doc, kCounter));
    const auto attributes = Path(loaded.doc, kItems).ChildElements()[0].Attributes();
    std::string names;
    for (const auto& [name, value] : attributes) names += name + "=" + value + " ";
    EXPECT_EQ(names,
              "caption=Order As Written url=http://127.0.0.1:1/a.xml unread=0 id=7 lastupdate= "
              "notify=False future=kept interval=90 ");
}

TEST(FeedListModel, DamagedListsLoadWithEveryFeedAndUniqueIds) {
    TLoaded loaded(Fixture("feed_list_damaged_ids.xml"));
    const TFeedList& list = loaded.list;
    EXPECT_EQ(Shape(list.Root()), "3 21 22 [23] 20");
    EXPECT_EQ(loaded.notes.Renumbered, (std::vector<std::string>{"Second Three", "No Id", "Bad Id"}));
    EXPECT_EQ(list.FindFeed(22)->Feed().Unread, 0);  // "x"
    EXPECT_EQ(list.FindFeed(23)->Feed().Unread, 0);  // "-4"
    EXPECT_EQ(list.NextId(), 24);                    // never below the ids in use

    // Folders deeper than the list keeps hand their feeds to the deepest one kept.
    std::string deep = "<config><internal><feedlist><items>";
    for (int level = 0; level < 100; ++level) deep += "<folder caption=\"L" + std::to_string(level) + "\">";
    deep += "<item url=\"http://127.0.0.1:1/deep.xml\" id=\"1\" caption=\"Deep\" unread=\"0\"/>";
    for (int level = 0; level < 100; ++level) deep += "</folder>";
    deep += "</items></feedlist></internal></config>";
    TLoaded nested(deep);
    EXPECT_EQ(nested.notes.FlattenedFolders, 100 - feedlist::kMaxFolderDepth);
    ASSERT_TRUE(nested.list.FindFeed(1));
    EXPECT_EQ(nested.list.FindFeed(1)->Depth(), feedlist::kMaxFolderDepth);
}

struct TRecorder : feedlist::TFeedListObserver {
    std::vector<std::string> Events;
    void EntryInserted(const TListEntry& e) override { Events.push_back("+" + e.Caption()); }
    void EntryRemoving(const TListEntry& e) override { Events.push_back("-" + e.Caption()); }
    void EntryMoved(const TListEntry& e, const TListEntry& from, std::size_t index) override {
        Events.push_back(">" + e.Caption() + "@" + from.Caption() + std::to_string(index));
    }
    void EntryChanged(const TListEntry& e) override { Events.push_back("~" + e.Caption()); }
    void ListReset() override { Events.push_back("reset"); }
};

TEST(FeedListModel, MovesFollowTheRulesAndObserversHearEachChange) {
    TFeedList list;
    TRecorder recorder;
    list.AddObserver(&recorder);
    const TListEntry* a = list.AddFolder(list.Root(), Folder("A"));
    const TListEntry* b = list.AddFolder(*a, Folder("B"));
    const TListEntry* one = list.AddFeed(*b, Feed("one"));
    const TListEntry* two = list.AddFeed(list.Root(), Feed("two"), 0);
    EXPECT_EQ(Shape(list.Root()), "2 [[1]]");
    EXPECT_EQ(list.AddFeed(list.Root(), Feed("dup", 1)), nullptr);
    EXPECT_EQ(list.AddFeed(*one, Feed("into a feed")), nullptr);

    struct TMove {
        const TListEntry* entry;
        const TListEntry* parent;
        std::size_t index;
        bool allowed;
        const char* shape;
    };
    const TMove moves[] = {
        {&list.Root(), a, 0, false, "2 [[1]]"},  // the root stays
        {a, b, 0, false, "2 [[1]]"},             // into its own folder
        {a, a, 0, false, "2 [[1]]"},             // into itself
        {two, one, 0, false, "2 [[1]]"},         // into a feed
        {two, b, 0, true, "[[2 1]]"},
        {one, b, 0, true, "[[1 2]]"},  // within its folder
        {b, &list.Root(), 0, true, "[1 2] []"},
        {one, &list.Root(), 99, true, "[2] [] 1"},
    };
    for (const TMove& move : moves) {
        EXPECT_EQ(list.Move(*move.entry, *move.parent, move.index), move.allowed) << move.shape;
        EXPECT_EQ(Shape(list.Root()), move.shape);
    }
    list.UpdateFeed(*one, [](TFeedEntry& feed) {
        feed.Id = 40;
        feed.Caption = "uno";
    });
    EXPECT_EQ(one->Feed().Id, 1);  // ids never change
    list.Dissolve(*b);
    EXPECT_EQ(Shape(list.Root()), "2 [] 1");
    list.Remove(*a);
    EXPECT_EQ(list.FindFeed(2)->Caption(), "two");
    EXPECT_EQ(recorder.Events, (std::vector<std::string>{"+A", "+B", "+one", "+two", ">two@0", ">one@B1", ">B@A0",
                                                         ">one@B0", "~uno", ">two@B0", "-B", "-A"}));
    list.Remove(*list.FindFeed(2));
    EXPECT_EQ(list.FindFeed(2), nullptr);
    EXPECT_EQ(list.Feeds().size(), 1u);

    // Many at once: a row under another removed one, and one named twice,
    // go once; each is told before any goes.
    const TListEntry* c = list.AddFolder(list.Root(), Folder("C"));
    const TListEntry* three = list.AddFeed(*c, Feed("three"));
    const TListEntry* four = list.AddFeed(list.Root(), Feed("four"));
    recorder.Events.clear();
    list.RemoveAll({three, c, four, c, nullptr});
    EXPECT_EQ(Shape(list.Root()), "1");
    EXPECT_EQ(list.FeedCount(), 1u);
    EXPECT_EQ(recorder.Events, (std::vector<std::string>{"-C", "-four"}));
}

TEST(FeedListModel, FolderDepthIsBoundedWhereverFoldersAreMade) {
    TFeedList list;
    const TListEntry* deepest = &list.Root();
    while (const TListEntry* next = list.AddFolder(*deepest, Folder("f"))) deepest = next;
    EXPECT_EQ(deepest->Depth() + 1, feedlist::kMaxFolderDepth);
    const TListEntry* other = list.AddFolder(list.Root(), Folder("other"));
    list.AddFolder(*other, Folder("inner"));
    EXPECT_FALSE(list.Move(*other, *deepest->Parent()));  // two levels into room for one
    EXPECT_TRUE(list.Move(*other->Child(0), *deepest->Parent()));
    EXPECT_FALSE(list.Move(*other, *deepest));

    // A list of 20,000 feeds is built in linear time.
    TFeedList large;
    const auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < 20'000; ++n) large.AddFeed(large.Root(), Feed(std::to_string(n)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, testsupport::TimeBound(std::chrono::seconds(2)));
    EXPECT_EQ(large.NextId(), 20'001);
}

}  // namespace

// An update reads one feed's element into a record and writes it back: what
// it did not change keeps its place and its very text, even where the
// loader reads a number or a flag out of it.
TEST(FeedListModel, OneFeedWrittenBackChangesOnlyWhatChanged) {
    const std::string odd =
        R"(<item url="u" id="007" caption="" unread="-3" notify="1" interval="0060" etag="a" lastmodified="m" future="kept"/>)";
    struct TCase {
        const char* name;
        std::string element;
        std::function<void(TFeedEntry&)> change;
        std::string expected;  // the attributes after the write
    };
    const TCase cases[] = {
        {"unchanged", odd, [](TFeedEntry&) {},
         "url=u id=007 caption= unread=-3 notify=1 interval=0060 etag=a lastmodified=m future=kept "},
        {"an update's result", odd,
         [](TFeedEntry& feed) {
             feed.Caption = "Channel";
             feed.Unread = 4;
             feed.LastUpdate = "2026-12-09T19:00:00";
             feed.ETag.clear();
             std::erase(feed.Order, "etag");
             feed.LastModified = "n";
         },
         "url=u id=007 caption=Channel unread=4 notify=1 interval=0060 lastmodified=n future=kept "
         "lastupdate=2026-12-09T19:00:00 "},
        {"validators first given", R"(<item url="u" id="3" caption="C" unread="0"/>)",
         [](TFeedEntry& feed) {
             feed.LastModified = "m";
             feed.ETag = "e";
             feed.LastUpdate = "t";
         },
         "url=u id=3 caption=C unread=0 lastupdate=t etag=e lastmodified=m "},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        xml::Document doc;
        doc.LoadFromString("<items>" + c.element + "</items>");
        xml::Node element = doc.DocumentElement().ChildElements()[0];
        TFeedEntry feed = feedlist::ReadFeedEntry(element);
        c.change(feed);
        feedlist::WriteFeedEntry(feed, element);
        std::string attributes;
        for (const auto& [name, value] : element.Attributes()) attributes += name + "=" + value + " ";
        EXPECT_EQ(attributes, c.expected);
    }
    // Every feed of a list of every earlier shape reads and writes back as it was.
    TLoaded loaded(Fixture("feed_list_every_shape.xml"));
    const std::string before = loaded.doc.SaveToString();
    std::vector<xml::Node> pending{Path(loaded.doc, kItems)};
    while (!pending.empty()) {
        const xml::Node container = pending.back();
        pending.pop_back();
        for (const xml::Node& child : container.ChildElements()) {
            if (child.Name() == "folder") pending.push_back(child);
            if (child.Name() == "item") feedlist::WriteFeedEntry(feedlist::ReadFeedEntry(child), child);
        }
    }
    EXPECT_EQ(loaded.doc.SaveToString(), before);
}

namespace {

// config.xml as a full rewrite of the list would hold it.
std::string Rewritten(const xml::Document& doc, const TFeedList& list) {
    xml::Document copy;
    copy.LoadFromString(doc.SaveToString());
    feedlist::SaveFeedList(list, Path(copy, kItems), Path(copy, kCounter));
    return copy.SaveToString();
}

TEST(FeedListModel, TheStoredElementsFollowEveryChangeAsARewriteWouldWriteThem) {
    xml::Document doc;
    doc.LoadFromString(Fixture("feed_list_every_shape.xml"));
    // A spelling of an id that is not the plain number names its stored
    // copy: it stays as written.
    Path(doc, kItems).ChildElements()[1].SetAttribute("id", "008");
    const std::string asWritten = doc.SaveToString();
    TFeedList list;
    feedlist::TStoredFeedList stored(list, Path(doc, kItems), Path(doc, kCounter));
    stored.Load();
    EXPECT_EQ(doc.SaveToString(), asWritten) << "a list loaded as written keeps its elements";
    ASSERT_TRUE(list.FindFeed("008"));
    EXPECT_EQ(list.FindFeed("8"), nullptr);

    const TListEntry& work = *list.Root().Child(2);
    const std::pair<const char*, std::function<void()>> steps[] = {
        {"a feed first in a folder", [&] { list.AddFeed(work, Feed("New"), 0); }},
        {"a folder at the end", [&] { list.AddFolder(list.Root(), Folder("Later")); }},
        {"a folder into another", [&] { list.Move(*work.Child(2), *list.Root().Child(list.Root().ChildCount() - 1)); }},
        {"a feed down within its folder", [&] { list.Move(*list.Root().Child(0), list.Root(), 3); }},
        {"a feed's fields",
         [&] {
             list.UpdateFeed(*list.FindFeed("008"), [](TFeedEntry& feed) {
                 feed.Caption = "Renamed";
                 feed.FullArticle = true;
                 feedlist::ForgetValidators(feed);
                 feed.Stopped.clear();
             });
         }},
        {"a folder renamed and opened",
         [&] {
             list.UpdateFolder(work, [](TFolderEntry& folder) {
                 folder.Caption = "Day job";
                 folder.Expanded = true;
             });
         }},
        {"an account's feed and a local one at once",
         [&] {
             list.RemoveAll({list.FindFeed(10), list.FindFeed(7)});
         }},
        {"a folder dissolved", [&] { list.Dissolve(work); }},
        {"a folder with what it holds", [&] { list.Remove(*list.Root().Child(list.Root().ChildCount() - 1)); }},
    };
    for (const auto& [name, step] : steps) {
        SCOPED_TRACE(name);
        step();
        EXPECT_EQ(doc.SaveToString(), Rewritten(doc, list));
    }
    const xml::Node renamed = Path(doc, kItems).ChildElements()[0];
    EXPECT_EQ(renamed.Attribute("id"), "008");
    EXPECT_EQ(renamed.Attribute("fullarticle"), "True");
    EXPECT_FALSE(renamed.HasAttribute("etag") || renamed.HasAttribute("stopped"));
}

}  // namespace

// A server's subscription list merged into its account: each shape the
// window meets (names and labels from the server, new feeds, subscriptions
// sent from here adopted by stream or by address, refusals, duplicates,
// removals) as a row with the account before and after, and the changes
// reported; other accounts and local feeds never change. A list of
// 100,000 merges in time that grows with it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <type_traits>
#include <vector>

#include "FeedListXml.h"
#include "FixtureFile.h"
#include "SubscriptionMerge.h"
#include "TimeBound.h"
#include "XmlDom.h"

namespace {

using accounts::TMergeResult;
using accounts::TServerChange;
using feedlist::TListEntry;
using greader::TAccountFeed;
using greader::TSubscriptionChanges;

const plat::TDateTime kNow = plat::EncodeDateTime(2024, 5, 6, 7, 8, 9);

// "Caption#id:stream(unread)![refusal]" for a feed, "Caption{…}" for a folder.
std::string Dump(const TListEntry& entry) {
    std::string out;
    for (const auto& child : entry.Children()) {
        if (!out.empty()) out += ' ';
        if (child->IsFolder()) {
            out += child->Caption() + '{' + Dump(*child) + '}';
            continue;
        }
        const feedlist::TFeedEntry& feed = child->Feed();
        out += feed.Caption + '#' + std::to_string(feed.Id);
        if (!feed.Stream.empty()) out += ':' + feed.Stream;
        if (feed.Unread) out += '(' + std::to_string(feed.Unread) + ')';
        if (const std::string why = accounts::RefusalOf(feed); !why.empty()) out += "![" + why + ']';
    }
    return out;
}

// Everything but the account's own folder.
std::string DumpOutside(const feedlist::TFeedList& list, const std::string& accountId) {
    std::string out;
    for (const auto& child : list.Root().Children())
        if (child.get() != list.FindAccount(accountId))
            out += child->IsFolder() ? child->Caption() + '{' + Dump(*child) + "} " : child->Caption() + ' ';
    return out;
}

struct TLoadedList {
    xml::Document doc;
    feedlist::TFeedList list;
    TLoadedList() {
        doc.LoadFromString(
            testsupport::ReadFixtureFile(std::string(QUILLET_TEST_DATA_DIR) + "/accounts/merge_list.xml"));
        const xml::Node feedList = doc.DocumentElement().FindChild("internal").FindChild("feedlist");
        feedlist::LoadFeedList(list, feedList.FindChild("items"), feedList.FindChild("autoincrement").FindChild("id"));
    }
};

// The changes reported, "what ids" by kind, the empty kinds left out.
std::string Summary(const TMergeResult& result) {
    std::string out;
    const auto add = [&out](const char* what, const auto& values) {
        if (values.empty()) return;
        out += out.empty() ? what : std::string(" | ") + what;
        for (const auto& value : values) {
            if constexpr (std::is_same_v<std::decay_t<decltype(value)>, int>)
                out += ' ' + std::to_string(value);
            else
                out += ' ' + value;
        }
    };
    std::vector<std::string> sent;
    for (const TServerChange& change : result.ToSend)
        sent.push_back(change.Kind == TServerChange::TKind::Rename
                           ? "rename " + change.Stream + " '" + change.Title + "'"
                           : "move " + change.Stream + " '" + change.From + "'>'" + change.To + "'");
    add("added", result.Added);
    add("adopted", result.Adopted);
    add("renamed", result.Renamed);
    add("moved", result.Moved);
    add("readdressed", result.Readdressed);
    add("removed", result.Removed);
    add("refused", result.Refused);
    add("folders+", result.FoldersAdded);
    add("folders-", result.FoldersRemoved);
    add("send", sent);
    return out;
}

TEST(SubscriptionMerge, EachShapeOfServerListChangesOnlyItsAccount) {
    const std::string before = "Tech{Blog#2:feed/1(4) My Site#3(5)} Quiet#4:feed/2 #5(1) Gone#6![HTTP 404] Old{}";
    using TFeeds = std::vector<TAccountFeed>;
    struct TRow {
        const char* name;
        TFeeds added, changed, removed;
        std::vector<std::string> labels;  // the full list was read when given
        std::vector<greader::TSubscribeOutcome> subscribed;
        std::string after;
        std::string reported;
    };
    // clang-format off
    const TRow rows[] = {
        {"a sync without the list changes nothing and shows the kept refusal", {}, {}, {}, {}, {}, before, "refused 6"},
        {"the server's names, addresses and labels win; empty folders of gone labels go", {},
         {{"feed/1", "Blog Renamed", "http://blog.example/feed2", "", {"News"}},
          {"feed/2", "Quiet", "http://quiet.example/rss", "", {"Tech"}}}, {},
         {"Tech", "News"}, {},
         "Tech{My Site#3(5) Quiet#4:feed/2} #5(1) Gone#6![HTTP 404] News{Blog Renamed#2:feed/1(4)}",
         "renamed 2 | moved 2 4 | readdressed 2 | refused 6 | folders+ News | folders- Old"},
        {"new feeds take the list's next ids, in their label's folder",
         {{"feed/9", "Nine", "http://nine.example/", "", {"Tech"}}, {"feed/10", "Ten", "http://ten.example/", "", {}}}, {}, {}, {}, {},
         "Tech{Blog#2:feed/1(4) My Site#3(5) Nine#20:feed/9} Quiet#4:feed/2 #5(1) Gone#6![HTTP 404] Old{} "
         "Ten#21:feed/10",
         "added 20 21 | refused 6"},
        {"a subscription sent from here is adopted by the stream answered; its name and label go to the server",
         {{"feed/3", "Site Feed", "http://example.org/site/feed.xml", "", {}}}, {}, {}, {},
         {{"http://example.org/site/", "feed/3", ""}},
         "Tech{Blog#2:feed/1(4) My Site#3:feed/3} Quiet#4:feed/2 #5(1) Gone#6![HTTP 404] Old{}",
         "adopted 3 | readdressed 3 | refused 6 | send rename feed/3 'My Site' move feed/3 ''>'Tech'"},
        {"a stream the list does not name: matched loosely by the feed's address or its site's",
         {{"feed/5", "Loose Feed", "https://example.org/loose", "", {"Tech"}},
          {"feed/6", "Site", "http://feeds.example/site.xml", "http://example.org/site", {}}}, {}, {}, {},
         {{"http://www.example.org/loose/", "feed/http://www.example.org/loose/", ""}},
         "Tech{Blog#2:feed/1(4) My Site#3:feed/6} Quiet#4:feed/2 Loose Feed#5:feed/5 Gone#6![HTTP 404] Old{}",
         "adopted 5 3 | renamed 5 | readdressed 5 3 | refused 6 | send move feed/5 'Tech'>'' rename feed/6 'My Site' "
         "move feed/6 ''>'Tech'"},
        {"a refused subscription stays with the server's words; a second one of a followed feed goes", {}, {}, {}, {},
         {{"http://www.example.org/loose/", "", "HTTP 410"}, {"http://example.org/site/", "feed/1", ""}},
         "Tech{Blog#2:feed/1(4)} Quiet#4:feed/2 #5(1)![HTTP 410] Gone#6![HTTP 404] Old{}",
         "removed 3 | refused 5 6"},
        {"feeds the server dropped go, and only this account's", {}, {},
         {{"feed/1", "", "", "", {}}, {"feed/2", "", "", "", {}}, {"feed/1", "", "", "", {}}}, {}, {},
         "Tech{My Site#3(5)} #5(1) Gone#6![HTTP 404] Old{}",
         "removed 2 4 | refused 6"},
    };
    // clang-format on
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        TSubscriptionChanges changes;
        changes.Listed = !row.labels.empty();
        changes.Added = row.added;
        changes.Changed = row.changed;
        changes.Removed = row.removed;
        changes.Labels = row.labels;
        changes.Subscribed = row.subscribed;
        TLoadedList loaded;
        const std::string outside = DumpOutside(loaded.list, "alice");
        ASSERT_EQ(Dump(*loaded.list.FindAccount("alice")), before);
        const TMergeResult result = accounts::ApplySubscriptionList(loaded.list, "alice", changes, kNow);
        EXPECT_EQ(Dump(*loaded.list.FindAccount("alice")), row.after);
        EXPECT_EQ(DumpOutside(loaded.list, "alice"), outside);
        EXPECT_EQ(Summary(result), row.reported);
        for (const int id : result.Added)
            EXPECT_EQ(loaded.list.FindFeed(id)->Feed().LastUpdate, plat::FormatISO8601(kNow));
        if (!row.labels.empty()) {
            EXPECT_FALSE(accounts::ApplySubscriptionList(loaded.list, "nobody", changes, kNow).ListChanged());
        }
    }
}

// 100,000 subscriptions in 1,000 labels: added, then each renamed and moved
// to another label, then 8,000 removed, every step well under a second.
TEST(SubscriptionMerge, AHundredThousandSubscriptionsMergeInTimeThatGrowsWithThem) {
    constexpr int kFeeds = 100000;
    constexpr int kLabels = 1000;
    feedlist::TFeedList list;
    feedlist::TFolderEntry account;
    account.Caption = "Big";
    account.Account = feedlist::TAccountEntry{"big", "http://rss.example/api", "me"};
    list.AddFolder(list.Root(), account);
    TSubscriptionChanges added, changed, removed;
    added.Listed = changed.Listed = true;
    for (int i = 0; i < kLabels; ++i) {
        added.Labels.push_back("Label " + std::to_string(i));
        changed.Labels.push_back("Label " + std::to_string(i));
    }
    for (int i = 0; i < kFeeds; ++i) {
        const std::string n = std::to_string(i);
        added.Added.push_back({"feed/" + n, "Feed " + n, "http://list.example/" + n, "", {added.Labels[i % kLabels]}});
        changed.Changed.push_back(
            {"feed/" + n, "Renamed " + n, "http://list.example/" + n, "", {changed.Labels[(i + 1) % kLabels]}});
        if (i % 12 == 0 && removed.Removed.size() < 8000) removed.Removed.push_back(changed.Changed.back());
    }
    const struct {
        const char* what;
        const TSubscriptionChanges& changes;
        std::size_t feeds;
    } steps[] = {{"added", added, kFeeds}, {"renamed and moved", changed, kFeeds}, {"8,000 removed", removed, 92000}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        const auto start = std::chrono::steady_clock::now();
        const TMergeResult result = accounts::ApplySubscriptionList(list, "big", step.changes, kNow);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, testsupport::TimeBound(std::chrono::milliseconds(1000)));
        EXPECT_EQ(list.FeedCount(), step.feeds);
        EXPECT_TRUE(result.ListChanged());
    }
    // Without labels every feed sits in the account's own folder: removing
    // many from it is no slower.
    TSubscriptionChanges flat = added;
    flat.Listed = false;
    for (TAccountFeed& feed : flat.Added) feed = {feed.Id + "/flat", feed.Title, feed.Url + "/flat", "", {}};
    ASSERT_EQ(accounts::ApplySubscriptionList(list, "big", flat, kNow).Added.size(), flat.Added.size());
    for (TAccountFeed& feed : flat.Added) feed = {feed.Id, "", "", "", {}};
    flat.Removed = flat.Added;
    flat.Removed.resize(8000);
    flat.Added.clear();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(accounts::ApplySubscriptionList(list, "big", flat, kNow).Removed.size(), 8000u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, testsupport::TimeBound(std::chrono::milliseconds(1000)));
    const TListEntry* sample = list.FindFeed(8);  // feed/7
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(sample->Feed().Caption, "Renamed 7");
    EXPECT_EQ(sample->Parent()->Caption(), "Label 8");
    EXPECT_EQ(list.FindAccount("big")->ChildCount(), static_cast<std::size_t>(kLabels + kFeeds - 8000));
}

}  // namespace

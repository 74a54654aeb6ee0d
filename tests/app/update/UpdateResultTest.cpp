// An update's result applied to its feed: the unread count by each way of
// counting, validators kept, refreshed or dropped, the caption taken from
// the channel, failures with the server's words and its Retry-After, a
// stored copy that cannot be replaced, and results for a feed deleted or
// readdressed meanwhile.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "UpdateResult.h"

namespace {

using feedupdate::TUpdateDecision;
using feedupdate::TUpdateResult;
using TAction = TUpdateDecision::TAction;
using TKind = TUpdateResult::TKind;
using TCounting = TUpdateResult::TCounting;

const plat::TDateTime kNow = plat::EncodeDateTime(2024, 5, 6, 7, 8, 9);
const feedupdate::TTimePoint kLater = std::chrono::system_clock::time_point(std::chrono::hours(500000));

feedlist::TFeedEntry Before(std::string caption = "Blog", long long unread = 3) {
    feedlist::TFeedEntry feed;
    feed.Id = 7;
    feed.Url = "http://blog.example/feed";
    feed.Caption = std::move(caption);
    feed.Unread = unread;
    feed.LastUpdate = "2020-01-01T00:00:00";
    feed.ETag = "\"old\"";
    feed.LastModified = "Mon, 01 Jan 2024 00:00:00 GMT";
    feed.Order = {"url", "id", "caption", "unread", "lastupdate", "etag", "lastmodified"};
    return feed;
}

TUpdateResult Downloaded(TCounting counting, bool first, int fresh, bool replaces = false) {
    TUpdateResult result;
    result.Kind = TKind::Downloaded;
    result.Url = "http://blog.example/feed";
    result.DisplayText = "Blog";
    result.ChannelTitle = "Channel";
    result.ItemCount = 10;
    result.Counting = counting;
    result.FirstDownload = first;
    result.NewCount = fresh;
    result.ReplacesUnread = replaces;
    result.ETag = "\"new\"";
    return result;
}

TEST(UpdateResult, EachOutcomeSetsTheFeedAndSaysWhatFollows) {
    TUpdateResult notModified;
    notModified.Kind = TKind::NotModified;
    notModified.DisplayText = "Blog";
    notModified.LastModified = "Tue, 02 Jan 2024 00:00:00 GMT";
    TUpdateResult failed;
    failed.DisplayText = "Blog";
    failed.Error = "HTTP/1.1 503 Service Unavailable";
    failed.FailureWords = "The server is busy.";
    failed.RetryAfter = kLater;
    TUpdateResult failedPlain = failed;
    failedPlain.FailureWords.clear();
    failedPlain.RetryAfter.reset();
    const std::string now = plat::FormatISO8601(kNow);
    const std::string kept = "2020-01-01T00:00:00";
    struct TRow {
        const char* name;
        feedlist::TFeedEntry before;
        TUpdateResult result;
        // After: unread, caption, etag, lastmodified, lastupdate.
        long long unread;
        std::string caption, etag, lastModified, lastUpdate;
        TAction action;
        int announce;
        std::string status, argument, failure;
    };
    const TRow rows[] = {
        {"store counts the new items onto the unread", Before(), Downloaded(TCounting::ByStore, false, 4), 7, "Blog",
         "\"new\"", "", now, TAction::Updated, 4, "UpdatedFeed", "Blog", ""},
        {"store: never more unread than the feed holds", Before("Blog", 9), Downloaded(TCounting::ByStore, false, 4),
         10, "Blog", "\"new\"", "", now, TAction::Updated, 4, "UpdatedFeed", "Blog", ""},
        {"store's first download: unread, not news, and the channel names the feed", Before("", 0),
         Downloaded(TCounting::ByStore, true, 6), 6, "Channel", "\"new\"", "", now, TAction::Updated, 0, "UpdatedFeed",
         "Blog", ""},
        {"titles add the new items", Before(), Downloaded(TCounting::ByTitles, false, 2), 5, "Blog", "\"new\"", "", now,
         TAction::Updated, 2, "UpdatedFeed", "Blog", ""},
        {"titles: a lost first title replaces the count", Before(), Downloaded(TCounting::ByTitles, false, 2, true), 2,
         "Blog", "\"new\"", "", now, TAction::Updated, 2, "UpdatedFeed", "Blog", ""},
        {"titles without a stored copy: every item unread", Before(), Downloaded(TCounting::ByTitles, true, 0), 10,
         "Blog", "\"new\"", "", now, TAction::Updated, 0, "UpdatedFeed", "Blog", ""},
        {"not modified keeps the count and refreshes only the validators it carries", Before(), notModified, 3, "Blog",
         "\"old\"", "Tue, 02 Jan 2024 00:00:00 GMT", now, TAction::NotModified, 0, "NotModifiedFeed", "Blog", ""},
        {"a failure with words keeps the feed and the server's pause", Before(), failed, 3, "Blog", "\"old\"",
         "Mon, 01 Jan 2024 00:00:00 GMT", kept, TAction::Failed, 0, "FailedFeed",
         "Blog - The server is busy. (HTTP/1.1 503 Service Unavailable)",
         "The server is busy.\nHTTP/1.1 503 Service Unavailable"},
        {"a failure without words shows the message alone", Before(), failedPlain, 3, "Blog", "\"old\"",
         "Mon, 01 Jan 2024 00:00:00 GMT", kept, TAction::Failed, 0, "FailedFeed",
         "Blog - HTTP/1.1 503 Service Unavailable", "HTTP/1.1 503 Service Unavailable"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        feedlist::TFeedEntry feed = row.before;
        bool replaced = false;
        const TUpdateDecision decision =
            feedupdate::ApplyUpdateResult(feed, row.result, kNow, [&] { replaced = true; });
        EXPECT_EQ(feed.Unread, row.unread);
        EXPECT_EQ(feed.Caption, row.caption);
        EXPECT_EQ(feed.ETag, row.etag);
        EXPECT_EQ(feed.LastModified, row.lastModified);
        EXPECT_EQ(feed.LastUpdate, row.lastUpdate);
        EXPECT_EQ(decision.Action, row.action);
        EXPECT_EQ(replaced, row.action == TAction::Updated);
        EXPECT_EQ(decision.Announce, row.announce);
        EXPECT_EQ(decision.StatusMessage, row.status);
        EXPECT_EQ(decision.StatusArgument, row.argument);
        EXPECT_EQ(decision.Failure, row.failure);
        EXPECT_EQ(decision.RetryAfter, row.result.RetryAfter);
        EXPECT_TRUE(decision.Applied());
        // A validator the answer lacked is gone, attribute and all.
        EXPECT_EQ(std::count(feed.Order.begin(), feed.Order.end(), "lastmodified"), row.lastModified.empty() ? 0 : 1);
    }
}

TEST(UpdateResult, AStoredCopyThatCannotBeReplacedFailsTheUpdateAndKeepsItsValidators) {
    feedlist::TFeedEntry feed = Before();
    const TUpdateDecision decision =
        feedupdate::ApplyUpdateResult(feed, Downloaded(TCounting::ByStore, false, 2), kNow,
                                      [] { throw std::runtime_error("No space left on device"); });
    EXPECT_EQ(decision.Action, TAction::Failed);
    EXPECT_EQ(decision.Failure, "No space left on device");
    EXPECT_EQ(decision.Announce, 0);
    EXPECT_EQ(feed.ETag, "\"old\"");
    EXPECT_EQ(feed.LastUpdate, "2020-01-01T00:00:00");
    EXPECT_EQ(feed.Unread, 5);  // the store has the items now: they stay counted
}

TEST(UpdateResult, AFeedDeletedOrReaddressedMeanwhileIsLeftAlone) {
    feedlist::TFeedList list;
    const feedlist::TListEntry* entry = list.AddFeed(list.Root(), Before());
    const TUpdateResult byStore = Downloaded(TCounting::ByStore, false, 2);

    TUpdateResult elsewhere = byStore;
    elsewhere.Url = "http://blog.example/old";
    const TUpdateDecision stale = feedupdate::ApplyUpdateResult(list, 7, elsewhere, kNow);
    EXPECT_EQ(stale.Action, TAction::Stale);
    EXPECT_FALSE(stale.Applied());
    EXPECT_EQ(entry->Feed().Unread, 3);

    const TUpdateDecision applied = feedupdate::ApplyUpdateResult(list, 7, byStore, kNow);
    EXPECT_EQ(applied.Action, TAction::Updated);
    EXPECT_EQ(entry->Feed().Unread, 5);

    list.Remove(*entry);
    EXPECT_TRUE(feedupdate::ApplyUpdateResult(list, 7, byStore, kNow).ForgetItems);
    EXPECT_FALSE(feedupdate::ApplyUpdateResult(list, 7, Downloaded(TCounting::ByTitles, false, 2), kNow).ForgetItems);
}

}  // namespace

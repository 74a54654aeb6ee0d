#include "UpdateResult.h"

#include <algorithm>
#include <exception>

namespace feedupdate {

using feedlist::TFeedEntry;

namespace {

// A validator the answer lacked is dropped from the feed, attribute and
// all, so that it is never sent for a copy it does not describe.
void KeepValidator(TFeedEntry& feed, std::string TFeedEntry::*field, const char* name, const std::string& value) {
    feed.*field = value;
    if (value.empty()) std::erase(feed.Order, name);
}

// The unread count and how many items to announce, from how the new items
// were counted.
int CountNewItems(TFeedEntry& feed, const TUpdateResult& result) {
    if (result.FirstDownload) {
        feed.Unread = result.Counting == TUpdateResult::TCounting::ByStore ? result.NewCount : result.ItemCount;
        return 0;
    }
    const long long before = std::max(0LL, feed.Unread);
    if (result.Counting == TUpdateResult::TCounting::ByStore) {
        // Never more unread than the feed holds: items that left it unread
        // cannot be read on its page any more.
        feed.Unread = std::min<long long>(before + result.NewCount, result.ItemCount);
    } else {
        feed.Unread = result.ReplacesUnread ? result.NewCount : before + result.NewCount;
    }
    return result.NewCount;
}

void Fail(TUpdateDecision& decision, const TUpdateResult& result, const std::string& error, const std::string& words) {
    decision.Action = TUpdateDecision::TAction::Failed;
    decision.Announce = 0;
    // What happened and what to do, with the server's own words after it.
    const std::string reason = words.empty() ? error : words + " (" + error + ")";
    decision.StatusMessage = "FailedFeed";
    decision.StatusArgument = result.DisplayText + " - " + reason;
    decision.Failure = words.empty() ? error : words + "\n" + error;
    decision.RetryAfter = result.RetryAfter;
}

}  // namespace

TUpdateDecision ApplyUpdateResult(TFeedEntry& feed, const TUpdateResult& result, plat::TDateTime now,
                                  const std::function<void()>& replaceStoredCopy) {
    TUpdateDecision decision;
    switch (result.Kind) {
        case TUpdateResult::TKind::Failed:
            Fail(decision, result, result.Error, result.FailureWords);
            return decision;
        case TUpdateResult::TKind::NotModified:
            // Nothing is new and the stored copy stays; the update still
            // succeeded, so its time is kept. A 304 may carry fresher
            // validators; it need not repeat them.
            decision.Action = TUpdateDecision::TAction::NotModified;
            decision.CaptionFromStoredCopy = feed.Caption.empty();
            if (!result.ETag.empty()) feed.ETag = result.ETag;
            if (!result.LastModified.empty()) feed.LastModified = result.LastModified;
            feed.LastUpdate = plat::FormatISO8601(now);
            decision.StatusMessage = "NotModifiedFeed";
            decision.StatusArgument = result.DisplayText;
            return decision;
        case TUpdateResult::TKind::Downloaded:
            break;
    }
    // A feed the user has not named takes the channel's own title.
    if (feed.Caption.empty()) feed.Caption = result.ChannelTitle;
    decision.Announce = CountNewItems(feed, result);
    try {
        if (replaceStoredCopy) replaceStoredCopy();
    } catch (const std::exception& error) {
        Fail(decision, result, error.what(), {});
        return decision;
    }
    feed.LastUpdate = plat::FormatISO8601(now);
    KeepValidator(feed, &TFeedEntry::ETag, "etag", result.ETag);
    KeepValidator(feed, &TFeedEntry::LastModified, "lastmodified", result.LastModified);
    decision.Action = TUpdateDecision::TAction::Updated;
    decision.StatusMessage = "UpdatedFeed";
    decision.StatusArgument = result.DisplayText;
    return decision;
}

TUpdateDecision ApplyUpdateResult(feedlist::TFeedList& list, int id, const TUpdateResult& result, plat::TDateTime now,
                                  const std::function<void()>& replaceStoredCopy) {
    TUpdateDecision decision;
    const feedlist::TListEntry* entry = list.FindFeed(id);
    if (!entry) {
        decision.ForgetItems =
            result.Kind == TUpdateResult::TKind::Downloaded && result.Counting == TUpdateResult::TCounting::ByStore;
        return decision;
    }
    // The address changed while the old one downloaded: its answer says
    // nothing about the feed as it is now.
    if (entry->Feed().Url != result.Url) {
        decision.Action = TUpdateDecision::TAction::Stale;
        return decision;
    }
    list.UpdateFeed(*entry,
                    [&](TFeedEntry& feed) { decision = ApplyUpdateResult(feed, result, now, replaceStoredCopy); });
    return decision;
}

}  // namespace feedupdate

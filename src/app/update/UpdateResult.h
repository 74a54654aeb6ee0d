// What one feed update's result does to the feed in the list: its unread
// count, its caption, the validators and last update kept with it, and what
// the window must do next (replace the stored copy, announce, show the
// state, keep the server's Retry-After). Plain values in and out, so the
// rules are tested without a download or a window; the window fills
// TUpdateResult from its TFeedUpdate.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "DateTime.h"
#include "FeedListModel.h"

namespace feedupdate {

using TTimePoint = std::chrono::system_clock::time_point;

struct TUpdateResult {
    enum class TKind { Failed, NotModified, Downloaded };
    TKind Kind = TKind::Failed;
    std::string Url;          // the address the update fetched
    std::string DisplayText;  // the feed's text when it started, for the status line
    // Failed: the failure's message, and the window's words for what the
    // user can do about it ("" when it has none).
    std::string Error;
    std::string FailureWords;
    std::optional<TTimePoint> RetryAfter;  // a 429 or 503 said when to come back
    // The validators of the answer ("" where it had none).
    std::string ETag;
    std::string LastModified;

    // Downloaded: the channel's title and how many items the download holds.
    std::string ChannelTitle;
    int ItemCount = 0;
    // How the new items were counted: by the item store (which then holds
    // the download's items), or against the stored copy's titles.
    enum class TCounting { ByStore, ByTitles };
    TCounting Counting = TCounting::ByTitles;
    // The store knew nothing of the feed, or there was no stored copy: the
    // items are unread but not news.
    bool FirstDownload = false;
    int NewCount = 0;
    // By titles: the stored copy's first title was not found, and the count
    // replaces the unread count instead of adding to it.
    bool ReplacesUnread = false;
};

struct TUpdateDecision {
    enum class TAction {
        Dropped,      // the feed was deleted meanwhile: nothing is written for it
        Stale,        // its address changed meanwhile: only the busy state ends
        NotModified,  // the stored copy is current
        Updated,
        Failed,
    };
    TAction Action = TAction::Dropped;
    // Dropped: what the download recorded in the item store goes with the feed.
    bool ForgetItems = false;
    // NotModified with an empty caption: the stored copy's channel names it.
    bool CaptionFromStoredCopy = false;
    // New items to announce; when the feed is on show its page reloads.
    int Announce = 0;
    // The status line: a language message name with one argument; none for
    // Dropped and Stale.
    std::string StatusMessage;
    std::string StatusArgument;
    // Failed: what the feed shows as its failure.
    std::string Failure;
    // Failed: no poll of the feed before this time.
    std::optional<TTimePoint> RetryAfter;
    // Every outcome but Dropped and Stale is noted in the feed's health,
    // clears or sets its failure, and changes the list (saved).
    bool Applied() const { return Action != TAction::Dropped && Action != TAction::Stale; }
};

// Applies the result to the feed. `replaceStoredCopy` puts the downloaded
// copy in place; it runs after the counting, and a failure it throws makes
// the update a failed one: the validators and last update are then kept as
// they were, since they describe the copy still stored.
TUpdateDecision ApplyUpdateResult(feedlist::TFeedEntry& feed, const TUpdateResult& result, plat::TDateTime now,
                                  const std::function<void()>& replaceStoredCopy = {});

// The same on the list's feed `id`, telling the list's observers; a feed
// that is gone or was given another address is left alone.
TUpdateDecision ApplyUpdateResult(feedlist::TFeedList& list, int id, const TUpdateResult& result, plat::TDateTime now,
                                  const std::function<void()>& replaceStoredCopy = {});

}  // namespace feedupdate

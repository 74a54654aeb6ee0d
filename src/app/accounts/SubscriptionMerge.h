// A feed server's subscription list merged into its account's part of the
// feed list, in three steps: the label folders, the feeds, and which feed
// sits in which folder. Nothing here touches the item store, the stored
// copies or a window: the result says what changed, so that the caller
// forgets the items of every removed feed in one batch, refreshes the
// health once and repaints what moved.
//
// The account's rules: a subscription sent from here waits as a feed
// without a stream until the server lists it; it is matched by the stream
// the server answered, else loosely by address (servers keep the feed they
// found, https for http). A refusal leaves the feed in place, failing, with
// the server's words. Labels are one level deep. Local feeds and the feeds
// of other accounts are never touched, and every existing feed keeps its id.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "AccountSync.h"
#include "DateTime.h"
#include "FeedListModel.h"

namespace accounts {

// On a feed subscribed from here that the server refused: its words, kept
// in config.xml so that the refusal shows again after a restart.
inline constexpr char kRefusedAttribute[] = "refused";

// The server's words for a feed's refused subscription; "" when none.
std::string RefusalOf(const feedlist::TFeedEntry& feed);

// A change the merge gives back to the server: a name or label given here
// while the subscription waited wins over the server's.
struct TServerChange {
    enum class TKind { Rename, Move };
    TKind Kind = TKind::Rename;
    std::string Stream;
    std::string Title;  // Rename
    std::string From;   // Move: the label it had on the server ("" for none)
    std::string To;     // Move: the label it has here
    bool operator==(const TServerChange&) const = default;
};

struct TMergeResult {
    std::vector<int> Added;  // the server's feeds new to the list
    // Subscribed from here and now the server's: the stored copy and the
    // items go, what they held comes again from the server.
    std::vector<int> Adopted;
    std::vector<int> Renamed;
    std::vector<int> Moved;
    std::vector<int> Readdressed;
    // Gone from the server, or a second subscription of a feed it follows.
    std::vector<int> Removed;
    // Still waiting, refused: shown failing with RefusalOf(feed).
    std::vector<int> Refused;
    std::vector<std::string> FoldersAdded;
    std::vector<std::string> FoldersRemoved;
    std::vector<TServerChange> ToSend;

    // The feeds whose stored copy and items are forgotten: removed and adopted.
    std::vector<int> Forgotten() const;
    // Whether the list changed (and is saved).
    bool ListChanged() const;
};

// The merge of one list into one account; each step is run once, in order.
class TSubscriptionMerge {
public:
    // `now` is the last update of the feeds it adds. An account missing
    // from the list makes every step do nothing.
    TSubscriptionMerge(feedlist::TFeedList& list, const std::string& accountId, plat::TDateTime now);
    ~TSubscriptionMerge();
    TSubscriptionMerge(const TSubscriptionMerge&) = delete;
    TSubscriptionMerge& operator=(const TSubscriptionMerge&) = delete;

    // The account's label folders by name; with a full list, a folder for
    // every label the server has.
    void MergeServerFolders(const greader::TSubscriptionChanges& changes);
    // The answers to subscriptions sent from here, then the server's feeds
    // matched by stream or address, added, renamed, readdressed, removed.
    void MergeServerFeeds(const greader::TSubscriptionChanges& changes);
    // Each of the server's feeds into its label's folder; with a full list,
    // the emptied folders whose label has gone are removed.
    void PlaceFeedsInFolders(const greader::TSubscriptionChanges& changes);

    const TMergeResult& Result() const;

private:
    struct TState;
    std::unique_ptr<TState> F;
};

// The three steps in order.
TMergeResult ApplySubscriptionList(feedlist::TFeedList& list, const std::string& accountId,
                                   const greader::TSubscriptionChanges& changes, plat::TDateTime now);

}  // namespace accounts

// A server's subscription list made the account's folders and feeds: the
// merge of the list (SubscriptionMerge.h) decides; here its result is
// carried out where the list alone cannot: the stored copies and items of
// feeds gone or adopted, the rows' failures, the changes for the server.

#include <filesystem>
#include <map>
#include <set>

#include "AccountController.h"
#include "ChangeQueue.h"
#include "DateTime.h"
#include "FeedListModel.h"
#include "FeedUpdate.h"
#include "ReadStateController.h"
#include "SubscriptionMerge.h"

void TAccountController::ApplySubscriptions(const std::string& accountId,
                                            const greader::TSubscriptionChanges& changes) {
    const feedlist::TListEntry* account = AccountFolder(accountId);
    if (!account) return;
    // The ids as the stored copies and items name them, for feeds the merge
    // removes ("007" stays "007").
    std::map<int, std::string> idTexts;
    for (const feedlist::TListEntry* entry : feedlist::FeedsUnder(*account))
        idTexts.emplace(entry->Feed().Id, feedlist::IdText(entry->Feed()));
    // A list of tens of thousands shows at once: the rows' sums, the filter
    // and the save follow once at the end.
    FApplyingSync = true;
    FHost.BeginBatch();
    accounts::TMergeResult result;
    try {
        result = accounts::ApplySubscriptionList(List(), accountId, changes, plat::Now());
    } catch (...) {
        FHost.EndBatch();
        FApplyingSync = false;
        throw;
    }
    FHost.EndBatch();
    FApplyingSync = false;

    // What a feed held before the server's comes again from the server, and
    // a feed gone takes its stored copy and items with it.
    std::vector<std::string> itemsToForget;
    const std::set<int> removed(result.Removed.begin(), result.Removed.end());
    for (const int number : result.Forgotten()) {
        const auto known = idTexts.find(number);
        const std::string id = known != idTexts.end() ? known->second : std::to_string(number);
        if (removed.count(number)) FHost.FeedGone(id);
        if (!IsValidFeedId(id)) continue;
        FHost.StoredCopyChanged(id);
        std::error_code ignored;
        std::filesystem::remove(StoredCopyPath(id), ignored);
        itemsToForget.push_back(id);
    }
    FHost.Items().ForgetFeeds(std::move(itemsToForget));
    for (const int number : result.Adopted)
        if (const feedlist::TListEntry* feed = List().FindFeed(number))
            FHost.MarkFeedUpdated(feedlist::IdText(feed->Feed()));
    for (const int number : result.Refused) ShowSubscriptionRefused(List().FindFeed(number));
    // A name or label given here while the subscription waited wins.
    for (const accounts::TServerChange& change : result.ToSend)
        QueueChange(accountId, [&change](greader::TChangeQueue& queue) {
            if (change.Kind == accounts::TServerChange::TKind::Rename)
                queue.Rename(change.Stream, change.Title);
            else
                queue.Move(change.Stream, change.From, change.To);
        });
    if (result.ListChanged()) FHost.ScheduleSave();
}

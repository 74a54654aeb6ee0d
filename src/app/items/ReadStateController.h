// The item store in the window: items.db opened beside start-up, the work
// that waits for it, which items a shown page counts as read, marking feeds
// read and unread, the next feed with unread items, and Find in Feeds.
//
// A feed's unread count stays in its element of config.xml, as the tree
// shows it; the store knows which items those are, for the page to mark,
// and remembers what was marked read so that it can be brought back.
// The controller knows feeds by id and reaches their elements and the tree
// only through its host.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "XmlDom.h"

class QTimer;
class QWidget;
class TItemBase;
class TFormFindInFeeds;
namespace items {
class TItemStore;
}
namespace feedlist {
class TFeedList;
class TListEntry;
struct TFeedEntry;
}  // namespace feedlist

// What the controller needs of the window.
struct TReadStateHost {
    // A message for the status line.
    std::function<void(const QString& text)> ShowStatus;
    // The feed list: feeds' counts and captions, set as items are read.
    feedlist::TFeedList* FeedList = nullptr;
    // Every feed of the list, in the tree's order.
    std::function<std::vector<std::string>()> FeedIds;
    // The feeds the user can see, in the tree's order, from the one after
    // the selected row round to the selected row itself.
    std::function<std::vector<std::string>()> VisibleFeedsAfterCurrent;
    // The feed of the selected row; "" for a folder, the root or none.
    std::function<std::string()> CurrentFeedId;
    // Selects a feed, which shows its page; a selected one is shown again.
    std::function<void(const std::string& id)> ShowFeed;
    // Selects the Starred view.
    std::function<void()> ShowStarred;
    // The unread counts of these feeds' elements changed: rows, folder sums
    // and config.xml follow.
    std::function<void(const std::vector<std::string>& ids)> CountsChanged;
    // These items of a feed were marked read, and the last ones marked read
    // unread again: a server account sends that on.
    std::function<void(const std::string& id, const std::vector<std::string>& keys)> FeedItemsRead;
    std::function<void(const std::string& id)> FeedItemsUnread;
    // Optional: one item marked read or unread by the reader.
    std::function<void(const std::string& id, const std::string& key, bool read)> ItemMarked;
    // The caption Find in Feeds lists a feed's items under.
    std::function<QString(const std::string& id)> FeedCaption;
    // The window is closing: a base opening now has nothing left to do.
    std::function<bool()> Closing;
    // Optional: the alert words, which the page names in the headings of
    // the items holding one.
    std::function<std::vector<std::string>()> AlertWords;
};

class TReadStateController : public QObject {
    Q_OBJECT
public:
    // `dialogParent` owns the Find in Feeds window.
    TReadStateController(TReadStateHost host, QWidget* dialogParent);
    ~TReadStateController() override;

    // ---- The base ----
    // Opens items.db in the home off this thread; nothing waits for it.
    void Open();
    // Waits for the opening and closes the base: after the updates and
    // syncs that write to it. Without a base new items are counted by the
    // stored copies.
    void CloseBase();
    // The base, which the polling thread and the syncs use with their own
    // connections; null once closed.
    const std::shared_ptr<TItemBase>& Base() const { return FItemBase; }
    // This thread's connection; null while the base is opening or when it
    // cannot be used.
    items::TItemStore* Store();
    // Runs `work` on this thread's connection now, or once the base is
    // open; a failure of the store is shown in the status line. Work that
    // may wait holds copies, never references to the caller's locals.
    void With(std::function<void(items::TItemStore&)> work);
    // On this thread once the base is open: reports a damaged or unusable
    // base, does the work that waited for it and seeds the feeds it has
    // never seen from their stored copies.
    void BaseOpened();
    // Runs on this thread when a background seeding has finished.
    std::function<void()> OnSeeded;
    // What deleted feeds left in the store goes, except their starred
    // items, which keep the feed's caption while it is still listed (an
    // empty one keeps the name the store was told with the star).
    void ForgetFeed(const std::string& id);
    void ForgetFeeds(std::vector<std::string> ids);

    // ---- The page on show ----
    // A feed's page asked of the reading pane, and the unread items it
    // marks: those, and only once the pane reports the page shown, count
    // as read.
    struct TPageOnShow {
        qint64 Serial = 0;
        std::string FeedId;
        std::vector<std::string> Keys;
        // False when the base was still opening: the feed's unread items
        // when it is shown are what the page held.
        bool KeysKnown = false;
        // Reported shown, and its items marked (or waiting to be).
        bool Marked = false;
        // The name the page shows.
        std::string Caption;
    };
    // Asks for `item`'s page: `navigate` hands the page's marks (its unread
    // items, the item to bring into view, its name) to the pane and returns
    // the pane's serial for it.
    void ShowPage(const feedlist::TFeedEntry& feed, const std::function<qint64(const QJsonObject& marks)>& navigate);
    // The pane showed the page of Navigate `serial`.
    void PageShown(qint64 serial);
    // A deleted feed's page marks nothing when it loads after all; true
    // when it was the page on show, which the pane is to drop.
    bool DropShownPage(const std::string& id);
    // A feed renamed (here, in its properties or by its server) while its
    // page is on show gets the page again, under the new name.
    void FollowShownCaption(const feedlist::TFeedEntry& feed);
    const TPageOnShow& ShownPage() const { return FPageOnShow; }
    // Shown pages whose items wait to be marked (another process held
    // items.db).
    bool MarksWaiting() const { return !FShownUnmarked.empty(); }

    // ---- Read and unread ----
    // Marks these feeds read: counts and config.xml follow. The store's
    // items are remembered per feed for Mark as Unread.
    void MarkFeedsRead(const std::vector<std::string>& ids);
    // Brings back the items last marked read (by viewing or marking) of
    // these feeds.
    void MarkFeedsUnread(const std::vector<std::string>& ids);
    // Marks one item of a feed read or unread: the store, the feed's count
    // (never below zero) and an account follow; a page not yet reported
    // shown leaves it as set here. False when the feed or item is unknown
    // or the store failed.
    bool SetItemRead(const std::string& id, const std::string& key, bool read);
    // Selects and shows the next feed with unread items after the selected
    // row in the tree's order, wrapping around; false (and a status
    // message) when no feed has unread items.
    bool SelectNextUnread();

    // ---- Find in Feeds ----
    void OpenFindInFeeds();
    // The window while it was ever opened, else null.
    TFormFindInFeeds* FindInFeeds() const { return FFindInFeeds; }
    // Shows a feed with one of its items (by store key) in view.
    void ShowFeedItem(const std::string& feedId, const std::string& key);

private:
    // Marks what a shown page marked as new read; false when the base was
    // busy and nothing changed.
    bool MarkShownRead(const TPageOnShow& page);
    QJsonObject PageMarks(const feedlist::TFeedEntry& feed, TPageOnShow& page);
    // The feed's caption while it is listed, else "".
    std::string LastCaption(const std::string& id) const;
    // The feed with this id; null when it is no longer listed.
    const feedlist::TListEntry* Feed(const std::string& id) const;
    void SetUnread(const feedlist::TListEntry& feed, long long count);
    void ShowStoreError(const std::exception& error);

    TReadStateHost FHost;
    QWidget* FDialogParent;
    std::shared_ptr<TItemBase> FItemBase;
    items::TItemStore* FWindowStore = nullptr;
    std::vector<std::function<void(items::TItemStore&)>> FWaitingWork;
    TPageOnShow FPageOnShow;
    std::vector<TPageOnShow> FShownUnmarked;
    QTimer* FShownRetry = nullptr;
    std::unordered_map<std::string, std::vector<std::int64_t>> FReadBefore;
    // The item the next page asked for brings into view.
    std::string FShowItemKey;
    TFormFindInFeeds* FFindInFeeds = nullptr;
};

// The item store: every item seen in every feed, whether it has been read,
// full-text search over them, and the changes waiting for a sync server, in
// one SQLite file in the home (items.db). The rest of the program uses this
// class only; it never writes SQL.
//
// Durability. The base runs in WAL mode with synchronous=NORMAL. A commit
// is appended to the write-ahead log before it returns, so killing the
// process at any moment (kill -9, a crash) loses nothing committed and never
// leaves half a transaction. Only an operating-system crash or power loss
// can drop the last few commits (the log is synced at checkpoints, not at
// every commit), and even then the base stays consistent. That trade is
// right here: FULL would sync on every download, and what could be lost is
// a few recent downloads, which the next poll records again.
//
// Threads. An object is one connection and belongs to one thread: the
// polling thread records downloads, the window reads and marks through its
// own Connect()ed object. WAL lets readers proceed while a download is
// written; a writer waits up to the busy timeout for another writer.
//
// Errors. Open never raises: a damaged base is set aside and a new one
// started (see TOpenResult). Other operations raise std::runtime_error when
// SQLite fails (disk full, I/O error); a failed operation changes nothing.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "StoredArticle.h"
#include "StoredItem.h"

namespace items {

// How long items that have left their feed are remembered.
struct TRetention {
    std::int64_t KeepSeconds = 90 * 24 * 3600;
    // At most this many items per feed; items still in the feed are never
    // pruned, so a feed longer than the cap keeps all of its current items.
    int PerFeedCap = 1000;
};

struct TStoreOptions {
    TRetention Retention;
    // Search with the FTS5 index where SQLite has one; false forces the
    // LIKE fallback (which also serves where FTS5 is missing).
    bool FullText = true;
    // Read every page of the base once when opening it, to find damage
    // before it is met half-way through a download.
    bool CheckOnOpen = true;
    int BusyTimeoutMs = 5000;
};

class TItemStore;

struct TOpenResult {
    // Null only when no base could be opened or created at all (no such
    // folder, no permission, disk full); Message says why.
    std::unique_ptr<TItemStore> Store;
    // For the user: empty when the base opened as it was.
    std::string Message;
    // Where a damaged base was moved, when it was.
    std::string SetAsidePath;
};

struct TDownloadResult {
    // Per item of the download, in its order: never seen in this feed
    // before. A repeat of an item within one download is not new twice.
    std::vector<bool> New;
    int NewCount = 0;
};

struct TSearchHit {
    std::string FeedId;
    std::string Key;
    std::string Title;
    std::string Link;
    std::string DateText;
    std::optional<std::int64_t> DateUTC;
    // A starred item's feed name as last known: the name of a feed deleted
    // since. "" for an item without a star.
    std::string StarredFeedTitle;
};

// A starred item as the Starred view and the export show it.
struct TStarredItem {
    std::string FeedId;  // the feed it came from, which may be gone
    std::string Key;
    std::string Guid;
    std::string Title;
    std::string Link;
    std::string DateText;
    std::optional<std::int64_t> DateUTC;
    std::string Author;
    std::string Body;       // only when asked for
    std::string FeedTitle;  // the feed's caption as last told to the store
    std::int64_t StarredAt = 0;
    bool Unread = false;
};

struct TPendingChange {
    std::int64_t Id = 0;
    std::string Account;
    std::string Kind;
    std::string Payload;
    std::int64_t Created = 0;
};

// A stored item, as handed back by the marking calls so they can be undone.
using TItemId = std::int64_t;

class TItemStore {
public:
    static constexpr const char* kFileName = "items.db";

    // The program's first connection: opens or creates the base, checks it,
    // sets a damaged one aside (renamed to <path>.damaged-<UTC time>) and
    // starts a new one, and upgrades an older schema in place.
    static TOpenResult Open(const std::string& path, const TStoreOptions& options = {});
    // Another connection on the same base, for another thread: no check and
    // no upgrade, statements prepared as they are first used.
    std::unique_ptr<TItemStore> Connect() const;

    ~TItemStore();
    TItemStore(const TItemStore&) = delete;
    TItemStore& operator=(const TItemStore&) = delete;

    const std::string& Path() const;
    bool HasFullText() const;
    void SetRetention(const TRetention& retention);
    // How long this connection waits for another writer before its write
    // fails as busy; 0 fails at once.
    void SetBusyTimeout(int ms);

    // Records one download of a feed in one transaction: new items are
    // stored unread, known ones get their edited text, items no longer in
    // the feed start to age, and the feed's old items are pruned. `now` is
    // seconds since 1970 UTC.
    TDownloadResult RecordDownload(const std::string& feedId, const std::vector<TStoredItem>& items, std::int64_t now);
    // The same for items already known to the user (a stored copy read at
    // the first start): unknown ones are stored as read and none counts as
    // new. Returns how many were added.
    int SeedFromItems(const std::string& feedId, const std::vector<TStoredItem>& items, std::int64_t now);
    // A deleted feed: its items go, except the starred ones, which stay
    // listed under the feed's caption (when given, it replaces the one
    // stored with the stars) and start to age, so that once unstarred the
    // retention takes them.
    void ForgetFeed(const std::string& feedId, const std::string& caption = {});
    // Several at once, in one transaction: a server's list that dropped
    // thousands of feeds costs one commit, not thousands. captions[i], where
    // given, is feedIds[i]'s.
    void ForgetFeeds(const std::vector<std::string>& feedIds, const std::vector<std::string>& captions = {});
    // Applies the retention to every feed (RecordDownload does it for its
    // own); returns how many items went. Starred items never go.
    int Prune(std::int64_t now);

    // Marking returns the items it changed, so that "Mark as unread" can
    // bring back exactly those with MarkItemsUnread.
    std::vector<TItemId> MarkFeedRead(const std::string& feedId);
    std::vector<TItemId> MarkFeedsRead(const std::vector<std::string>& feedIds);
    std::vector<TItemId> MarkAllRead();
    // MarkFeedsRead in one transaction, with what changed kept per feed
    // (feeds where nothing changed are absent).
    std::map<std::string, std::vector<TItemId>> MarkFeedsReadEach(const std::vector<std::string>& feedIds);
    void MarkItemsUnread(const std::vector<TItemId>& ids);
    // The feed's items of these keys (ItemKey) in one transaction: what a
    // page showed. Keys the feed does not hold, or holds read, are passed by.
    std::vector<TItemId> MarkKeysRead(const std::string& feedId, const std::vector<std::string>& keys);
    // One item by the key ItemKey gives; false when the feed has no such item.
    bool SetItemRead(const std::string& feedId, const std::string& key, bool read);

    // Stars one item by its key, at `now` (seconds since 1970 UTC; 0: the
    // clock), or takes its star away. feedCaption, when given, is kept as
    // the feed's name for the Starred view. Returns whether the star changed;
    // false also when the feed has no such item.
    bool SetItemStarred(const std::string& feedId, const std::string& key, bool starred,
                        const std::string& feedCaption = {}, std::int64_t now = 0);
    int StarredCount();
    // The keys of a feed's starred items, for its page to show.
    std::vector<std::string> StarredKeys(const std::string& feedId);
    // Newest star first, at most `limit`; bodies only when asked for (the
    // export wants them, a list does not).
    std::vector<TStarredItem> StarredItems(int limit, bool withBodies = false);

    int UnreadCount(const std::string& feedId);
    // Feeds without unread items are absent.
    std::map<std::string, int> UnreadCounts();
    // The keys (ItemKey) of a feed's unread items, for the page to mark.
    std::vector<std::string> UnreadKeys(const std::string& feedId);
    int ItemCount(const std::string& feedId);
    // When the feed's newest `limit` items were first seen (seconds since
    // 1970 UTC), newest first: the rhythm the automatic schedule learns.
    std::vector<std::int64_t> FirstSeenTimes(const std::string& feedId, int limit);
    int TotalItemCount();

    // Items whose title or body hold every word of `text`, the last word
    // also as a prefix (results as one types), newest first; also those
    // whose fetched article (its title and text) holds every word. Any
    // text is safe: quotes, operators and brackets are taken as plain words.
    // starredOnly: among the starred items only.
    std::vector<TSearchHit> Search(const std::string& text, int limit, bool starredOnly = false);

    // Full articles (StoredArticle.h). Results for items the store no
    // longer holds are passed by; returns how many were kept. One
    // transaction for all, as the fetcher's results come in batches.
    int StoreArticles(const std::vector<TItemArticle>& articles);
    // State None (and nothing else) when the item has no article yet.
    TStoredArticle Article(const std::string& feedId, const std::string& key);
    // The article results of the items still in the feed, by item key:
    // what its page shows, in one read (items that left it are not on the
    // page, and a long-lived feed has many).
    std::map<std::string, TStoredArticle> Articles(const std::string& feedId);
    // What the fetcher needs for one item, whatever its article's state (a
    // reader's explicit ask); nullopt when the feed has no such item.
    std::optional<TArticleWork> ArticleWork(const std::string& feedId, const std::string& key);
    // The items of these feeds that want their article at `now`: still in
    // their feed, with a link, and never tried, or failed a day or more
    // ago (a failure is tried again at most once a day). Newest first, at
    // most `limit`, feeds in the order given.
    std::vector<TArticleWork> ItemsWantingArticle(const std::vector<std::string>& feedIds, std::int64_t now, int limit);
    static constexpr std::int64_t kArticleRetrySeconds = 24 * 3600;

    // Changes waiting for a sync server, kept until sent.
    std::int64_t Enqueue(const std::string& account, const std::string& kind, const std::string& payload,
                         std::int64_t now);
    // Several changes in order, in one transaction (their Id is ignored).
    void EnqueueAll(const std::vector<TPendingChange>& changes);
    std::vector<TPendingChange> Pending(const std::string& account);
    void RemovePending(std::int64_t id);

    // SQLite's integrity check: "ok", else its findings one per line.
    std::string CheckIntegrity();
    // Bytes the base takes on disk (pages in use and free), for diagnostics.
    std::int64_t SizeBytes();

private:
    struct TImpl;
    explicit TItemStore(std::unique_ptr<TImpl> impl);
    std::unique_ptr<TImpl> FImpl;
};

}  // namespace items

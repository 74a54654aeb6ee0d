// Full articles in the window: after a feed with "Show the full article"
// was updated, the articles its items want are fetched in the background
// (TArticleFetcher's workers, never this thread), their results drained on
// a timer, kept in the item store, and the feed's page shown again when it
// is the one on show. "Read the full article" on an item fetches that one
// at once, whatever the feed's option and the store's once-a-day rule say.
//
// The items a feed wants are asked of the store only after its update, so
// nothing is fetched more often than the feed is polled; the store retries
// a failure at most once a day. The page gets the stored results through
// the marks of its navigation (AddPageArticles).
//
// The controller knows feeds by id and reaches the store, the feed list and
// the page through THost.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ArticleFetcher.h"

class QTimer;
namespace items {
class TItemStore;
}

class TArticleController : public QObject {
    Q_OBJECT
public:
    struct THost {
        // The window's connection to the item store; null while it opens
        // or when it cannot be used.
        std::function<items::TItemStore*()> Store;
        // Whether the feed shows full articles; false for an unknown id.
        std::function<bool(const std::string& id)> ShowsFullArticle;
        // The feed whose page is on show; "" for none.
        std::function<std::string()> ShownFeedId;
        // Shows the feed's page again, with the item of `key` in view ("" for
        // none).
        std::function<void(const std::string& id, const std::string& key)> ShowPage;
        // A message for the status line.
        std::function<void(const QString& text)> ShowStatus;
        // Seconds since 1970 UTC; the clock when unset.
        std::function<std::int64_t()> Now;
    };

    // At most this many of a feed's items are queued after one update.
    static constexpr int kItemsPerUpdate = 50;
    // An article larger than this is not sent to the pane (its item shows
    // the feed's body, saying why): the pane's lines are bounded.
    static constexpr std::size_t kMaxShownArticleBytes = 384 * 1024;

    explicit TArticleController(THost host, articles::TFetcherOptions options = {}, QObject* parent = nullptr);
    ~TArticleController() override;

    // A feed's update was applied: queues what its items want, when the
    // feed has the option on.
    void FeedUpdated(const std::string& id);
    // "Read the full article": fetches this item's article now; its page
    // follows with the item in view.
    void ReadArticle(const std::string& feedId, const std::string& key);
    // An address the pane asks to go to: true (and the item's article
    // fetched) when it is an item's "Read the full article" link.
    bool TakePageRequest(const QString& address);
    // Adds the feed's stored articles to the marks of its page ("articles",
    // "feed" and the links' texts).
    void AddPageArticles(const std::string& feedId, QJsonObject& marks);
    // Cancels every fetch and joins the workers; nothing is queued after.
    void Stop();

    // Items queued or in flight, and results not yet kept.
    bool Busy() const;
    // The reader's words for why an item shows its feed's body; "" when it
    // shows its article or was never tried.
    static QString NoteFor(const items::TStoredArticle& article);

private:
    // Takes the fetcher's results into the store and refreshes the page.
    void DrainResults();
    // What became of results just kept: the page of an item asked for, and
    // the feeds whose pages have new articles to show.
    void Stored(const std::vector<items::TItemArticle>& stored);
    void Queue(const std::vector<items::TArticleWork>& work);
    std::int64_t Now() const;

    THost FHost;
    std::unique_ptr<articles::TArticleFetcher> FFetcher;
    QTimer* FDrainTimer = nullptr;
    // Results the store refused (busy): kept until it takes them.
    std::vector<items::TItemArticle> FUnstored;
    // The item a reader asked for, brought into view when it arrives.
    std::string FAskedFeed, FAskedKey;
    // Feeds with articles fetched in the current batch.
    std::set<std::string> FNewArticles;
    bool FStopped = false;
};

#include "ArticleController.h"

#include <QJsonArray>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <exception>
#include <map>

#include "ItemStore.h"
#include "PaneProtocol.h"
#include "uvxLanguage.h"
#include "QtText.h"

using items::TArticleReason;
using items::TArticleState;

namespace {

// Results are usually few; a quarter second keeps the window idle and the
// page prompt. Each drain stores at most kStorePerDrain of them, which
// holds the window a few milliseconds whatever arrived: a backlog is
// stored on the next drains, sooner, and bounds what is fetched (below),
// so that polling, which waits for the window to apply each update, keeps
// its pace.
constexpr int kDrainIntervalMs = 250;
constexpr int kBacklogIntervalMs = 100;
constexpr std::size_t kStorePerDrain = 4;
// Items fetched or waiting for the store beyond which an update queues no
// more: they are asked for again at the feed's next update.
constexpr std::size_t kMostOutstanding = 120;

using plat::Q;

// What happened, as a clause of the note: the language's words, with what
// the server or the network said where that helps (a status line, a
// connection error, which wall a page without an article put up).
struct TReasonText {
    TArticleReason Reason;
    const char* Name;
    const char* Fallback;
    bool WithDetail;
};
constexpr TReasonText kReasonTexts[] = {
    {TArticleReason::NotWebLink, "ArticleReasonNoLink", "the item has no web address", false},
    {TArticleReason::HttpStatus, "ArticleReasonHttpStatus", "the server refused the page", true},
    {TArticleReason::TimedOut, "ArticleReasonTimedOut", "the server did not answer in time", false},
    {TArticleReason::TooLarge, "ArticleReasonTooLarge", "the page is too large", false},
    {TArticleReason::Network, "ArticleReasonNetwork", "the server could not be reached", true},
    {TArticleReason::NotAPage, "ArticleReasonNotAPage", "the link leads to a file, not a web page", false},
    {TArticleReason::NoArticle, "ArticleReasonNoArticle", "the page holds no article", true},
    {TArticleReason::ShorterThanFeed, "ArticleReasonShorter", "the page has less of the article than the feed", false},
};
constexpr TReasonText kOtherReason{TArticleReason::Other, "ArticleReasonOther", "the page could not be used", false};

QString ReasonClause(const items::TStoredArticle& article) {
    const TReasonText* text = &kOtherReason;
    for (const TReasonText& each : kReasonTexts)
        if (each.Reason == article.Reason) text = &each;
    QString clause = LangTextQ(text->Name, {}, QString::fromUtf8(text->Fallback));
    QString detail = Q(article.Detail).trimmed();
    while (detail.endsWith(QLatin1Char('.'))) detail.chop(1);
    if (text->WithDetail && !detail.isEmpty()) clause += QStringLiteral(" (") + detail + QLatin1Char(')');
    return clause;
}

}  // namespace

TArticleController::TArticleController(THost host, articles::TFetcherOptions options, QObject* parent)
    : QObject(parent), FHost(std::move(host)) {
    setObjectName("Articles");
    if (!options.Now) options.Now = [this] { return Now(); };
    // Results wait in the fetcher for the timer: no worker ever calls into
    // the window.
    FFetcher = std::make_unique<articles::TArticleFetcher>(std::move(options));
    FDrainTimer = new QTimer(this);
    FDrainTimer->setInterval(kDrainIntervalMs);
    connect(FDrainTimer, &QTimer::timeout, this, [this] { DrainResults(); });
}

TArticleController::~TArticleController() { Stop(); }

std::int64_t TArticleController::Now() const {
    if (FHost.Now) return FHost.Now();
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void TArticleController::FeedUpdated(const std::string& id) {
    if (FStopped) return;
    // The one look-up every update pays for feeds with the option off.
    if (!FHost.ShowsFullArticle(id)) return;
    items::TItemStore* store = FHost.Store();
    // Without the store, or with many outstanding, the next update asks again.
    if (!store || FFetcher->Busy() + FUnstored.size() >= kMostOutstanding) return;
    try {
        Queue(store->ItemsWantingArticle({id}, Now(), kItemsPerUpdate));
    } catch (const std::exception& error) {
        FHost.ShowStatus(LangTextQ("ItemBaseUnavailable", {std::string(error.what())}, Q(error.what())));
    }
}

void TArticleController::ReadArticle(const std::string& feedId, const std::string& key) {
    if (FStopped) return;
    items::TItemStore* store = FHost.Store();
    if (!store) return;
    try {
        const std::optional<items::TArticleWork> work = store->ArticleWork(feedId, key);
        if (!work) return;
        FAskedFeed = feedId;
        FAskedKey = key;
        Queue({*work});
    } catch (const std::exception& error) {
        FHost.ShowStatus(LangTextQ("ItemBaseUnavailable", {std::string(error.what())}, Q(error.what())));
    }
}

bool TArticleController::TakePageRequest(const QString& address) {
    QString feedId, key;
    if (!pane::ParseArticleRequest(address, feedId, key)) return false;
    ReadArticle(feedId.toStdString(), key.toStdString());
    return true;
}

void TArticleController::Queue(const std::vector<items::TArticleWork>& work) {
    // An item whose result waits for the store is not fetched again.
    std::vector<items::TArticleWork> wanted;
    for (const items::TArticleWork& w : work) {
        const bool waiting = std::any_of(FUnstored.begin(), FUnstored.end(), [&](const items::TItemArticle& a) {
            return a.FeedId == w.FeedId && a.Key == w.Key;
        });
        if (!waiting) wanted.push_back(w);
    }
    if (wanted.empty() || FFetcher->Add(wanted) == 0) return;
    if (!FDrainTimer->isActive()) FDrainTimer->start();
}

void TArticleController::DrainResults() {
    // Asked before draining: when nothing was in flight then, this drain
    // holds every result there will be.
    const bool idle = FFetcher->Busy() == 0;
    std::vector<items::TItemArticle> results = FFetcher->Drain();
    FUnstored.insert(FUnstored.end(), std::make_move_iterator(results.begin()), std::make_move_iterator(results.end()));
    // The reader's own ask goes first.
    std::stable_partition(FUnstored.begin(), FUnstored.end(), [this](const items::TItemArticle& a) {
        return a.FeedId == FAskedFeed && a.Key == FAskedKey;
    });
    if (!FUnstored.empty()) {
        items::TItemStore* store = FHost.Store();
        if (!store) return;
        const std::size_t count = std::min(FUnstored.size(), kStorePerDrain);
        const std::vector<items::TItemArticle> batch(FUnstored.begin(), FUnstored.begin() + count);
        try {
            store->StoreArticles(batch);
        } catch (const std::exception&) {
            return;  // another connection held the base: the next tick tries again
        }
        FUnstored.erase(FUnstored.begin(), FUnstored.begin() + count);
        Stored(batch);
    }
    FDrainTimer->setInterval(FUnstored.empty() ? kDrainIntervalMs : kBacklogIntervalMs);
    if (!idle || !FUnstored.empty()) return;
    FDrainTimer->stop();
    // Articles fetched after an update show once the batch is in: a page
    // being read is not reloaded under the reader with every result.
    const std::string shown = FHost.ShownFeedId();
    const bool refresh = !shown.empty() && FNewArticles.count(shown) != 0;
    FNewArticles.clear();
    if (refresh) FHost.ShowPage(shown, {});
}

void TArticleController::Stored(const std::vector<items::TItemArticle>& stored) {
    const std::string shown = FHost.ShownFeedId();
    for (const items::TItemArticle& a : stored) {
        if (a.FeedId == FAskedFeed && a.Key == FAskedKey) {
            // A reader's ask shows its page at once, the item in view.
            FAskedFeed.clear();
            FAskedKey.clear();
            if (a.FeedId != shown) continue;
            FNewArticles.erase(shown);
            FHost.ShowPage(shown, a.Key);
        } else if (a.Article.State == TArticleState::Fetched) {
            FNewArticles.insert(a.FeedId);
        }
    }
}

void TArticleController::AddPageArticles(const std::string& feedId, QJsonObject& marks) {
    marks.insert("feed", Q(feedId));
    marks.insert("readLabel", LangTextQ("ArticleReadLink", {}, QStringLiteral("Read the full article")));
    marks.insert("originalLabel", LangTextQ("ArticleOriginalLink", {}, QStringLiteral("Original page")));
    items::TItemStore* store = FHost.Store();
    if (!store) return;
    std::map<std::string, items::TStoredArticle> stored;
    try {
        stored = store->Articles(feedId);
    } catch (const std::exception&) {
        return;  // the page shows the feed's bodies, as before
    }
    QJsonObject articles;
    for (auto& [key, article] : stored) {
        QJsonObject entry;
        if (article.State == TArticleState::Fetched && article.Html.size() > kMaxShownArticleBytes) {
            article.State = TArticleState::KeptSummary;
            article.Reason = TArticleReason::TooLarge;
        }
        if (article.State == TArticleState::Fetched)
            entry.insert("html", Q(article.Html));
        else
            entry.insert("note", NoteFor(article));
        articles.insert(Q(key), entry);
    }
    if (!articles.isEmpty()) marks.insert("articles", articles);
}

void TArticleController::Stop() {
    FStopped = true;
    FDrainTimer->stop();
    FFetcher->Stop();
}

bool TArticleController::Busy() const { return FFetcher->Busy() > 0 || !FUnstored.empty() || FDrainTimer->isActive(); }

QString TArticleController::NoteFor(const items::TStoredArticle& article) {
    switch (article.State) {
        case TArticleState::Failed: {
            const QString clause = ReasonClause(article);
            return LangTextQ(
                "ArticleNotFetched", {clause.toStdString()},
                QStringLiteral("The full article could not be fetched: %1. The feed's text is shown.").arg(clause));
        }
        case TArticleState::KeptSummary: {
            const QString clause = ReasonClause(article);
            return LangTextQ("ArticleKeptSummary", {clause.toStdString()},
                             QStringLiteral("The feed's text is shown: %1.").arg(clause));
        }
        case TArticleState::None:
        case TArticleState::Fetched:
            break;
    }
    return {};
}

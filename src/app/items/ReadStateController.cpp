#include "ReadStateController.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <map>

#include <sqlite3.h>

#include "Convert.h"
#include "FeedListModel.h"
#include "FeedUpdate.h"
#include "ItemBase.h"
#include "ItemStore.h"
#include "Sqlite.h"
#include "ItemCursor.h"
#include "fFindInFeeds.h"
#include "uvxLanguage.h"
#include "QtText.h"

namespace {

using plat::Q;

// How long a write of the window waits for another writer (the polling
// thread records a download in a few milliseconds), and how soon a shown
// page's marks are tried again after that.
constexpr int kWindowBusyTimeoutMs = 50;
constexpr int kShownRetryMs = 1000;

// Runs `work` on the application's thread, unless `target` is gone by then.
template <typename F>
void OnAppThread(QPointer<TReadStateController> target, F work) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [target, work = std::move(work)] {
            if (target) work(*target);
        },
        Qt::QueuedConnection);
}

}  // namespace

TReadStateController::TReadStateController(TReadStateHost host, QWidget* dialogParent)
    : FHost(std::move(host)), FDialogParent(dialogParent) {}

TReadStateController::~TReadStateController() = default;

// ---------------------------------------------------------------------------
// The base

void TReadStateController::Open() {
    const std::string path = std::filesystem::absolute(items::TItemStore::kFileName).string();
    QPointer<TReadStateController> self(this);
    FItemBase = std::make_shared<TItemBase>(path, items::TStoreOptions{}, [self] {
        OnAppThread(self, [](TReadStateController& controller) { controller.BaseOpened(); });
    });
}

void TReadStateController::CloseBase() {
    FItemBase.reset();
    FWindowStore = nullptr;
}

items::TItemStore* TReadStateController::Store() {
    items::TItemStore* store = FItemBase ? FItemBase->ConnectionIfOpened() : nullptr;
    // The window never sits out another process's long write: its own
    // writes give up quickly (a shown page's marks are tried again), and its
    // reads do not wait on writers in the first place.
    if (store && FWindowStore != store) {
        store->SetBusyTimeout(kWindowBusyTimeoutMs);
        FWindowStore = store;
    }
    return store;
}

void TReadStateController::BaseOpened() {
    if (!FItemBase || FHost.Closing()) return;
    items::TItemStore* store = Store();
    if (!FItemBase->SetAsidePath().empty()) {
        FHost.ShowStatus(LangTextQ("ItemBaseSetAside", {FItemBase->SetAsidePath()}, Q(FItemBase->OpenMessage())));
    } else if (!store) {
        FHost.ShowStatus(LangTextQ("ItemBaseUnavailable", {FItemBase->OpenMessage()}, Q(FItemBase->OpenMessage())));
    }
    if (!store) {
        FWaitingWork.clear();
        return;
    }
    std::vector<std::function<void(items::TItemStore&)>> waiting;
    waiting.swap(FWaitingWork);
    for (auto& work : waiting) With(std::move(work));

    // Feeds the base has never seen learn their stored copies as seen.
    std::vector<TItemBase::TSeedFeed> feeds;
    for (const std::string& id : FHost.FeedIds())
        if (const feedlist::TListEntry* feed = Feed(id); feed && IsValidFeedId(id))
            feeds.push_back({id, static_cast<int>(std::min<long long>(feed->Feed().Unread, INT_MAX))});
    QPointer<TReadStateController> self(this);
    FItemBase->SeedInBackground(std::move(feeds), [self] {
        OnAppThread(self, [](TReadStateController& controller) {
            if (controller.OnSeeded) controller.OnSeeded();
        });
    });
}

void TReadStateController::With(std::function<void(items::TItemStore&)> work) {
    if (!FItemBase) return;
    if (!FItemBase->Opened()) {
        FWaitingWork.push_back(std::move(work));
        return;
    }
    items::TItemStore* store = Store();
    if (!store) return;
    try {
        work(*store);
    } catch (const std::exception& error) {
        ShowStoreError(error);
    }
}

void TReadStateController::ShowStoreError(const std::exception& error) {
    FHost.ShowStatus(LangTextQ("ItemBaseUnavailable", {std::string(error.what())}, Q(error.what())));
}

std::string TReadStateController::LastCaption(const std::string& id) const {
    return Feed(id) && FHost.FeedCaption ? FHost.FeedCaption(id).toStdString() : std::string();
}

void TReadStateController::ForgetFeed(const std::string& id) {
    FReadBefore.erase(id);
    // Starred items stay, under the feed's name as it was last called.
    With([id, caption = LastCaption(id)](items::TItemStore& store) { store.ForgetFeed(id, caption); });
}

void TReadStateController::ForgetFeeds(std::vector<std::string> ids) {
    if (ids.empty()) return;
    std::vector<std::string> captions;
    for (const std::string& id : ids) {
        FReadBefore.erase(id);
        captions.push_back(LastCaption(id));
    }
    With([ids = std::move(ids), captions = std::move(captions)](items::TItemStore& store) {
        store.ForgetFeeds(ids, captions);
    });
}

// ---------------------------------------------------------------------------
// The page on show

const feedlist::TListEntry* TReadStateController::Feed(const std::string& id) const {
    return FHost.FeedList ? FHost.FeedList->FindFeed(id) : nullptr;
}

void TReadStateController::SetUnread(const feedlist::TListEntry& feed, long long count) {
    if (feed.Feed().Unread != count)
        FHost.FeedList->UpdateFeed(feed, [count](feedlist::TFeedEntry& entry) { entry.Unread = count; });
}

QJsonObject TReadStateController::PageMarks(const feedlist::TFeedEntry& feed, TPageOnShow& page) {
    QJsonObject marks;
    page.FeedId = feedlist::IdText(feed);
    // Read as the page is asked for: it shows what was new then, and
    // exactly that counts as read once it has been on show.
    if (FItemBase && FItemBase->Opened()) {
        With([&](items::TItemStore& store) {
            page.Keys = store.UnreadKeys(page.FeedId);
            page.KeysKnown = true;
        });
    }
    if (!page.Keys.empty()) {
        QJsonArray unread;
        for (const std::string& key : page.Keys) unread.append(Q(key));
        marks.insert("unread", unread);
        marks.insert("newLabel", LangTextQ("PageNewItems", {}, QStringLiteral("%d new")));
        marks.insert("newWord", LangTextQ("PageItemNew", {}, QStringLiteral("new")));
    }
    if (FHost.AlertWords) {
        QJsonArray words;
        for (const std::string& word : FHost.AlertWords()) words.append(Q(word));
        if (!words.isEmpty()) {
            marks.insert("alertWords", words);
            marks.insert("alertWord", LangTextQ("PageItemAlert", {}, QStringLiteral("alert")));
        }
    }
    page.Caption = feed.Caption;
    if (!page.Caption.empty()) marks.insert("caption", Q(page.Caption));
    if (!FShowItemKey.empty()) marks.insert("target", Q(FShowItemKey));
    return marks;
}

void TReadStateController::ShowPage(const feedlist::TFeedEntry& feed,
                                    const std::function<qint64(const QJsonObject& marks)>& navigate) {
    TPageOnShow page;
    const QJsonObject marks = PageMarks(feed, page);
    page.Serial = navigate(marks);
    FPageOnShow = std::move(page);
}

void TReadStateController::PageShown(qint64 serial) {
    if (serial != FPageOnShow.Serial || FPageOnShow.FeedId.empty() || FPageOnShow.Marked) return;
    FPageOnShow.Marked = true;  // shown again after a release, it marks nothing more
    TPageOnShow page = FPageOnShow;
    if (MarkShownRead(page)) return;
    FShownUnmarked.push_back(std::move(page));
    if (!FShownRetry) {
        FShownRetry = new QTimer(this);
        FShownRetry->setInterval(kShownRetryMs);
        connect(FShownRetry, &QTimer::timeout, this, [this] {
            std::vector<TPageOnShow> waiting;
            waiting.swap(FShownUnmarked);
            for (TPageOnShow& each : waiting)
                if (!MarkShownRead(each)) FShownUnmarked.push_back(std::move(each));
            if (FShownUnmarked.empty()) FShownRetry->stop();
        });
    }
    FShownRetry->start();
}

bool TReadStateController::DropShownPage(const std::string& id) {
    if (FPageOnShow.FeedId != id) return false;
    FPageOnShow = {};
    return true;
}

void TReadStateController::FollowShownCaption(const feedlist::TFeedEntry& feed) {
    if (FPageOnShow.FeedId.empty() || feed.Caption == FPageOnShow.Caption ||
        feedlist::IdText(feed) != FPageOnShow.FeedId)
        return;
    FPageOnShow.Caption = feed.Caption;
    // After the change in hand is complete (a rename saves, a sync moves on).
    QTimer::singleShot(0, this, [this, id = FPageOnShow.FeedId] {
        if (FHost.CurrentFeedId() == id && FPageOnShow.FeedId == id) FHost.ShowFeed(id);
    });
}

bool TReadStateController::MarkShownRead(const TPageOnShow& page) {
    const std::string& id = page.FeedId;
    if (!Feed(id)) return true;  // deleted since
    items::TItemStore* store = Store();
    if (store) {
        try {
            const std::vector<std::string> keys = page.KeysKnown ? page.Keys : store->UnreadKeys(id);
            std::vector<items::TItemId> changed = store->MarkKeysRead(id, keys);
            if (!changed.empty()) FReadBefore[id] = std::move(changed);
            // Exactly the items this page showed go to the server as read.
            FHost.FeedItemsRead(id, keys);
            // The server's answer or another writer may have changed the list meanwhile.
            if (const feedlist::TListEntry* feed = Feed(id)) SetUnread(*feed, store->UnreadCount(id));
        } catch (const items::sql::TSqliteError& error) {
            if (error.Code() == SQLITE_BUSY) return false;
            ShowStoreError(error);
        } catch (const std::exception& error) {
            ShowStoreError(error);
        }
    } else if (FItemBase && !FItemBase->Opened()) {
        return false;  // marked once the base is open
    } else {
        SetUnread(*Feed(id), 0);  // no base: the count is all there is
    }
    FHost.CountsChanged({id});
    return true;
}

// ---------------------------------------------------------------------------
// Read and unread

void TReadStateController::MarkFeedsRead(const std::vector<std::string>& ids) {
    With([this, ids](items::TItemStore& store) {
        // One transaction for them all; only feeds with unread items are asked.
        const std::map<std::string, int> unread = store.UnreadCounts();
        std::vector<std::string> marked;
        for (const std::string& id : ids)
            if (unread.count(id)) marked.push_back(id);
        for (const std::string& id : marked) FHost.FeedItemsRead(id, store.UnreadKeys(id));
        for (auto& [id, changed] : store.MarkFeedsReadEach(marked)) FReadBefore[id] = std::move(changed);
    });
    std::vector<std::string> changed;
    for (const std::string& id : ids) {
        const feedlist::TListEntry* feed = Feed(id);
        if (!feed || feed->Feed().Unread == 0) continue;
        SetUnread(*feed, 0);
        changed.push_back(id);
    }
    // With the counts of every update: config.xml is written within seconds,
    // off this event, so that marking a thousand feeds answers at once.
    FHost.CountsChanged(changed);
}

void TReadStateController::MarkFeedsUnread(const std::vector<std::string>& ids) {
    items::TItemStore* store = Store();
    if (!store) return;
    std::vector<std::string> changed;
    std::vector<items::TItemId> items;
    for (const std::string& id : ids) {
        FHost.FeedItemsUnread(id);
        const auto found = FReadBefore.find(id);
        if (found == FReadBefore.end()) continue;
        items.insert(items.end(), found->second.begin(), found->second.end());
        FReadBefore.erase(found);
        changed.push_back(id);
    }
    if (changed.empty()) return;
    try {
        store->MarkItemsUnread(items);
        for (const std::string& id : changed)
            if (const feedlist::TListEntry* feed = Feed(id)) SetUnread(*feed, store->UnreadCount(id));
    } catch (const std::exception& error) {
        ShowStoreError(error);
    }
    FHost.CountsChanged(changed);
}

bool TReadStateController::SetItemRead(const std::string& id, const std::string& key, bool read) {
    const feedlist::TListEntry* feed = Feed(id);
    if (!feed) return false;
    items::TItemStore* store = Store();
    if (store) {
        try {
            if (!store->SetItemRead(id, key, read)) return false;
            SetUnread(*feed, store->UnreadCount(id));
        } catch (const std::exception& error) {
            ShowStoreError(error);
            return false;
        }
    } else if (FItemBase && !FItemBase->Opened()) {
        return false;  // the store decides once it is open
    } else {
        SetUnread(*feed, pane::TItemCursor::CountAfter(feed->Feed().Unread, read));
    }
    // A page still to be reported shown marks only what the reader left new.
    const auto leave = [&](TPageOnShow& page) {
        if (page.FeedId == id) page.Keys.erase(std::remove(page.Keys.begin(), page.Keys.end(), key), page.Keys.end());
    };
    if (!FPageOnShow.Marked) leave(FPageOnShow);
    for (TPageOnShow& page : FShownUnmarked) leave(page);
    if (FHost.ItemMarked) FHost.ItemMarked(id, key, read);
    FHost.CountsChanged({id});
    return true;
}

bool TReadStateController::SelectNextUnread() {
    for (const std::string& id : FHost.VisibleFeedsAfterCurrent()) {
        const feedlist::TListEntry* feed = Feed(id);
        if (!feed || feed->Feed().Unread <= 0) continue;
        FHost.ShowFeed(id);
        return true;
    }
    FHost.ShowStatus(LangTextQ("NoUnreadFeeds", {}, QStringLiteral("No feed has unread items.")));
    return false;
}

// ---------------------------------------------------------------------------
// Find in Feeds

void TReadStateController::ShowFeedItem(const std::string& feedId, const std::string& key) {
    if (!Feed(feedId)) {
        // A starred item of a deleted feed lives on in the Starred view.
        if (FHost.ShowStarred) FHost.ShowStarred();
        return;
    }
    FShowItemKey = key;
    FHost.ShowFeed(feedId);
    FShowItemKey.clear();
}

void TReadStateController::OpenFindInFeeds() {
    if (!FFindInFeeds) {
        FFindInFeeds = new TFormFindInFeeds(FDialogParent);
        FFindInFeeds->Search = [this](const std::string& text, bool starredOnly) {
            items::TItemStore* store = Store();
            return store ? store->Search(text, TFormFindInFeeds::kMaxResults, starredOnly)
                         : std::vector<items::TSearchHit>{};
        };
        FFindInFeeds->FeedCaption = [this](const std::string& id) { return FHost.FeedCaption(id); };
        FFindInFeeds->OnChoose = [this](const std::string& id, const std::string& key) { ShowFeedItem(id, key); };
    }
    FFindInFeeds->show();
    FFindInFeeds->raise();
    FFindInFeeds->activateWindow();
    FFindInFeeds->SearchText->setFocus(Qt::ShortcutFocusReason);
    FFindInFeeds->SearchText->selectAll();
}

// The main window and the item store: opening the base, marking feeds read
// and unread, the next feed with unread items, and Find in Feeds.
//
// A feed's unread count stays in its element of config.xml, as the tree
// shows it; the store knows which items those are, for the page to mark,
// and remembers what was marked read so that it can be brought back.
#include "fMain.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QPointer>
#include <QTimer>
#include <QTreeWidgetItemIterator>

#include <filesystem>
#include <set>

#include <sqlite3.h>

#include "Convert.h"
#include "FeedUpdate.h"
#include "ItemBase.h"
#include "ItemStore.h"
#include "Sqlite.h"
#include "fFindInFeeds.h"
#include "uvxLanguage.h"

namespace {

QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

// How long a write of the window waits for another writer (the polling
// thread records a download in a few milliseconds), and how soon a shown
// page's marks are tried again after that.
constexpr int kWindowBusyTimeoutMs = 50;
constexpr int kShownRetryMs = 1000;

int UnreadOf(const xml::Node& item) {
    const std::optional<int> count = plat::TryStrToInt(item.Attribute("unread").value_or(""));
    return count && *count > 0 ? *count : 0;
}

// A message of the language file, or `fallback` where the file lacks it.
QString Message(const char* name, const std::vector<plat::FormatArg>& args, const QString& fallback) {
    try {
        return args.empty() ? LangMsgQ(name) : LangFmtQ(name, args);
    } catch (const std::exception&) {
        return fallback;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// The base

void TFormMain::OpenItemBase() {
    const std::string path = std::filesystem::absolute(items::TItemStore::kFileName).string();
    QPointer<TFormMain> self(this);
    FItemBase = std::make_shared<TItemBase>(path, items::TStoreOptions{}, [self] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self) self->ItemBaseOpened();
            },
            Qt::QueuedConnection);
    });
}

items::TItemStore* TFormMain::ItemStore() {
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

void TFormMain::ItemBaseOpened() {
    if (!FItemBase || FClosed) return;
    items::TItemStore* store = ItemStore();
    if (!FItemBase->SetAsidePath().empty()) {
        SetStatusText(0, Message("ItemBaseSetAside", {FItemBase->SetAsidePath()}, Q(FItemBase->OpenMessage())));
    } else if (!store) {
        SetStatusText(0, Message("ItemBaseUnavailable", {FItemBase->OpenMessage()}, Q(FItemBase->OpenMessage())));
    }
    if (!store) {
        FItemStoreWork.clear();
        return;
    }
    std::vector<std::function<void(items::TItemStore&)>> waiting;
    waiting.swap(FItemStoreWork);
    for (auto& work : waiting) WithItemStore(std::move(work));

    // Feeds the base has never seen learn their stored copies as seen.
    std::vector<TItemBase::TSeedFeed> feeds;
    for (QTreeWidgetItem* node : FeedNodesUnder(RootNode())) {
        const xml::Node item = GetFeedItem(node);
        const std::string id = item.Attribute("id").value_or("");
        if (IsValidFeedId(id)) feeds.push_back({id, UnreadOf(item)});
    }
    QPointer<TFormMain> self(this);
    FItemBase->SeedInBackground(std::move(feeds), [self] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self && self->OnItemBaseSeeded) self->OnItemBaseSeeded();
            },
            Qt::QueuedConnection);
    });
}

void TFormMain::WithItemStore(std::function<void(items::TItemStore&)> work) {
    if (!FItemBase) return;
    if (!FItemBase->Opened()) {
        FItemStoreWork.push_back(std::move(work));
        return;
    }
    items::TItemStore* store = ItemStore();
    if (!store) return;
    try {
        work(*store);
    } catch (const std::exception& error) {
        SetStatusText(0, Message("ItemBaseUnavailable", {std::string(error.what())}, Q(error.what())));
    }
}

void TFormMain::ForgetFeedItems(const std::string& id) {
    FReadBefore.erase(id);
    WithItemStore([id](items::TItemStore& store) { store.ForgetFeed(id); });
}

void TFormMain::ForgetFeedItems(std::vector<std::string> ids) {
    if (ids.empty()) return;
    for (const std::string& id : ids) FReadBefore.erase(id);
    WithItemStore([ids = std::move(ids)](items::TItemStore& store) { store.ForgetFeeds(ids); });
}

// ---------------------------------------------------------------------------
// Read and unread

QJsonObject TFormMain::PageMarks(const xml::Node& item, const std::string& target, TPageOnShow& page) {
    QJsonObject marks;
    page.FeedId = item.Attribute("id").value_or("");
    // Read as the page is asked for: it shows what was new then, and
    // exactly that counts as read once it has been on show.
    if (FItemBase && FItemBase->Opened()) {
        WithItemStore([&](items::TItemStore& store) {
            page.Keys = store.UnreadKeys(page.FeedId);
            page.KeysKnown = true;
        });
    }
    if (!page.Keys.empty()) {
        QJsonArray unread;
        for (const std::string& key : page.Keys) unread.append(Q(key));
        marks.insert("unread", unread);
        marks.insert("newLabel", Message("PageNewItems", {}, QStringLiteral("%d new")));
    }
    page.Caption = item.Attribute("caption").value_or("");
    if (!page.Caption.empty()) marks.insert("caption", Q(page.Caption));
    if (!target.empty()) marks.insert("target", Q(target));
    return marks;
}

void TFormMain::PageShown(qint64 serial) {
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

bool TFormMain::MarkShownRead(const TPageOnShow& page) {
    QTreeWidgetItem* node = FindFeedNodeById(page.FeedId);
    if (!node) return true;  // deleted since
    xml::Node item = GetFeedItem(node);
    const std::string& id = page.FeedId;
    items::TItemStore* store = ItemStore();
    if (store) {
        try {
            const std::vector<std::string> keys = page.KeysKnown ? page.Keys : store->UnreadKeys(id);
            std::vector<items::TItemId> changed = store->MarkKeysRead(id, keys);
            if (!changed.empty()) FReadBefore[id] = std::move(changed);
            // Exactly the items this page showed go to the server as read.
            AccountFeedsRead(id, keys);
            item.SetAttribute("unread", std::to_string(store->UnreadCount(id)));
        } catch (const items::sql::TSqliteError& error) {
            if (error.Code() == SQLITE_BUSY) return false;
            SetStatusText(0, Message("ItemBaseUnavailable", {std::string(error.what())}, Q(error.what())));
        } catch (const std::exception& error) {
            SetStatusText(0, Message("ItemBaseUnavailable", {std::string(error.what())}, Q(error.what())));
        }
    } else if (FItemBase && !FItemBase->Opened()) {
        return false;  // marked once the base is open
    } else {
        item.SetAttribute("unread", "0");  // no base: the count is all there is
    }
    UpdateNodeCaption(node);  // its folders' sums with it
    TreeView->viewport()->update();
    ScheduleConfigSave();
    return true;
}

void TFormMain::MarkFeedsRead(const std::vector<QTreeWidgetItem*>& nodes) {
    std::vector<QTreeWidgetItem*> feeds;
    std::set<QTreeWidgetItem*> seen;
    for (QTreeWidgetItem* node : nodes) {
        for (QTreeWidgetItem* feed : FeedNodesUnder(node))
            if (seen.insert(feed).second) feeds.push_back(feed);
    }
    std::vector<std::string> ids;
    for (QTreeWidgetItem* feed : feeds) ids.push_back(GetFeedItem(feed).Attribute("id").value_or(""));
    WithItemStore([this, ids](items::TItemStore& store) {
        // One transaction for them all; only feeds with unread items are asked.
        const std::map<std::string, int> unread = store.UnreadCounts();
        std::vector<std::string> marked;
        for (const std::string& id : ids)
            if (unread.count(id)) marked.push_back(id);
        for (const std::string& id : marked) AccountFeedsRead(id, store.UnreadKeys(id));
        for (auto& [id, changed] : store.MarkFeedsReadEach(marked)) FReadBefore[id] = std::move(changed);
    });
    for (QTreeWidgetItem* feed : feeds) {
        xml::Node item = GetFeedItem(feed);
        if (item.Attribute("unread").value_or("0") == "0") continue;
        item.SetAttribute("unread", "0");
        UpdateNodeCaption(feed);  // its folders' sums with it
    }
    TreeView->viewport()->update();
    // With the counts of every update: written within seconds, off this
    // event, so that marking a thousand feeds answers at once.
    ScheduleConfigSave();
}

void TFormMain::MarkFeedsUnread(QTreeWidgetItem* node) {
    items::TItemStore* store = ItemStore();
    if (!store) return;
    std::vector<QTreeWidgetItem*> changed;
    std::vector<items::TItemId> ids;
    for (QTreeWidgetItem* feed : FeedNodesUnder(node)) {
        AccountFeedsUnread(GetFeedItem(feed).Attribute("id").value_or(""));
        const auto found = FReadBefore.find(GetFeedItem(feed).Attribute("id").value_or(""));
        if (found == FReadBefore.end()) continue;
        ids.insert(ids.end(), found->second.begin(), found->second.end());
        FReadBefore.erase(found);
        changed.push_back(feed);
    }
    if (changed.empty()) return;
    try {
        store->MarkItemsUnread(ids);
        for (QTreeWidgetItem* feed : changed) {
            xml::Node item = GetFeedItem(feed);
            item.SetAttribute("unread", std::to_string(store->UnreadCount(item.Attribute("id").value_or(""))));
            UpdateNodeCaption(feed);
        }
    } catch (const std::exception& error) {
        SetStatusText(0, Message("ItemBaseUnavailable", {std::string(error.what())}, Q(error.what())));
    }
    TreeView->viewport()->update();
    // With the counts of every update: written within seconds, off this
    // event, so that marking a thousand feeds answers at once.
    ScheduleConfigSave();
}

void TFormMain::ActionMarkReadExecute() {
    Guarded([this] {
        QTreeWidgetItem* node = TreeView->currentItem();
        if (node) MarkFeedsRead({node});
    });
}

void TFormMain::ActionMarkAllReadExecute() {
    Guarded([this] { MarkFeedsRead({RootNode()}); });
}

void TFormMain::ActionMarkUnreadExecute() {
    Guarded([this] {
        if (QTreeWidgetItem* node = TreeView->currentItem()) MarkFeedsUnread(node);
    });
}

// ---------------------------------------------------------------------------
// Next unread

bool TFormMain::SelectNextUnread() {
    // Every node in the tree's order, folders before what they hold; the
    // filter's hidden feeds are passed by.
    std::vector<QTreeWidgetItem*> order;
    for (QTreeWidgetItemIterator it(TreeView); *it; ++it) order.push_back(*it);
    QTreeWidgetItem* current = TreeView->currentItem();
    const auto at = std::find(order.begin(), order.end(), current);
    const std::size_t start = at == order.end() ? 0 : static_cast<std::size_t>(at - order.begin()) + 1;
    for (std::size_t step = 0; step < order.size(); ++step) {
        QTreeWidgetItem* node = order[(start + step) % order.size()];
        const xml::Node item = GetFeedItem(node);
        if (!item || node->isHidden() || UnreadOf(item) == 0) continue;
        if (node == current)
            ShowFeed(node);
        else
            TreeView->setCurrentItem(node);
        return true;
    }
    SetStatusText(0, Message("NoUnreadFeeds", {}, QStringLiteral("No feed has unread items.")));
    return false;
}

void TFormMain::ActionNextUnreadExecute() {
    Guarded([this] { SelectNextUnread(); });
}

// ---------------------------------------------------------------------------
// Find in Feeds

void TFormMain::ShowFeedItem(const std::string& feedId, const std::string& key) {
    QTreeWidgetItem* node = FindFeedNodeById(feedId);
    if (!node) return;
    FShowItemKey = key;
    if (TreeView->currentItem() == node)
        ShowFeed(node);
    else
        TreeView->setCurrentItem(node);
    FShowItemKey.clear();
}

void TFormMain::ActionFindInFeedsExecute() {
    Guarded([this] {
        if (!FindInFeeds) {
            FindInFeeds = new TFormFindInFeeds(this);
            FindInFeeds->Search = [this](const std::string& text) {
                items::TItemStore* store = ItemStore();
                return store ? store->Search(text, TFormFindInFeeds::kMaxResults) : std::vector<items::TSearchHit>{};
            };
            FindInFeeds->FeedCaption = [this](const std::string& id) {
                QTreeWidgetItem* node = FindFeedNodeById(id);
                if (!node) return QString();
                const xml::Node item = GetFeedItem(node);
                const std::string caption = item.Attribute("caption").value_or("");
                return caption.empty() ? FeedDisplayText(item) : Q(caption);
            };
            FindInFeeds->OnChoose = [this](const std::string& id, const std::string& key) {
                Guarded([&] { ShowFeedItem(id, key); });
            };
        }
        FindInFeeds->show();
        FindInFeeds->raise();
        FindInFeeds->activateWindow();
        FindInFeeds->SearchText->setFocus(Qt::ShortcutFocusReason);
        FindInFeeds->SearchText->selectAll();
    });
}

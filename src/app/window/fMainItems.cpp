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
#include <QTreeWidgetItemIterator>

#include <filesystem>
#include <set>

#include "Convert.h"
#include "FeedUpdate.h"
#include "ItemBase.h"
#include "ItemStore.h"
#include "fFindInFeeds.h"
#include "uvxLanguage.h"

namespace {

QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

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

items::TItemStore* TFormMain::ItemStore() { return FItemBase ? FItemBase->ConnectionIfOpened() : nullptr; }

void TFormMain::ItemBaseOpened() {
    if (!FItemBase || FClosed) return;
    items::TItemStore* store = ItemStore();
    if (!FItemBase->SetAsidePath().empty()) {
        SetStatusText(0, Message("ItemBaseSetAside", {FItemBase->SetAsidePath()},
                                 Q(FItemBase->OpenMessage())));
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

// ---------------------------------------------------------------------------
// Read and unread

QJsonObject TFormMain::PageMarks(const std::string& id, const std::string& target) {
    QJsonObject marks;
    QJsonArray unread;
    // Read before marking: the page shows what was new when it was opened.
    // A base still opening marks the feed read once it is open.
    const bool opened = FItemBase && FItemBase->Opened();
    if (opened) {
        WithItemStore([&](items::TItemStore& store) {
            const std::vector<std::string> keys = store.UnreadKeys(id);
            for (const std::string& key : keys) unread.append(Q(key));
            // Exactly the items this page shows go to the server as read.
            AccountFeedsRead(id, keys);
        });
    }
    WithItemStore([this, id](items::TItemStore& store) {
        std::vector<items::TItemId> changed = store.MarkFeedRead(id);
        if (!changed.empty()) FReadBefore[id] = std::move(changed);
    });
    if (!unread.isEmpty()) {
        marks.insert("unread", unread);
        marks.insert("newLabel", Message("PageNewItems", {}, QStringLiteral("%d new")));
    }
    if (!target.empty()) marks.insert("target", Q(target));
    return marks;
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

// The main window and the item store: the read state's controller wired to
// the feed tree, and the actions of reading (Mark as Read and Unread, Next
// Unread, Find in Feeds).
#include "fMain.h"

#include <QTreeWidgetItemIterator>

#include <algorithm>
#include <unordered_set>

#include "AccountController.h"
#include "ReadStateController.h"

namespace {

QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

std::string FeedIdOf(const xml::Node& item) { return item ? item.Attribute("id").value_or("") : std::string(); }

}  // namespace

void TFormMain::ConnectItems() {
    TReadStateHost host;
    host.ShowStatus = [this](const QString& text) { SetStatusText(0, text); };
    host.FeedItem = [this](const std::string& id) { return TFeedTree::GetFeedItem(FTree->FindFeedNodeById(id)); };
    host.FeedIds = [this] { return FeedIdsUnder({FTree->RootNode()}); };
    host.VisibleFeedsAfterCurrent = [this] {
        // Every node in the tree's order, folders before what they hold; the
        // filter's hidden feeds are passed by.
        std::vector<QTreeWidgetItem*> order;
        for (QTreeWidgetItemIterator it(FTree); *it; ++it) order.push_back(*it);
        const auto at = std::find(order.begin(), order.end(), FTree->currentItem());
        const std::size_t start = at == order.end() ? 0 : static_cast<std::size_t>(at - order.begin()) + 1;
        std::vector<std::string> ids;
        for (std::size_t step = 0; step < order.size(); ++step) {
            QTreeWidgetItem* node = order[(start + step) % order.size()];
            const xml::Node item = TFeedTree::GetFeedItem(node);
            if (item && !node->isHidden()) ids.push_back(FeedIdOf(item));
        }
        return ids;
    };
    host.CurrentFeedId = [this] { return FeedIdOf(TFeedTree::GetFeedItem(FTree->currentItem())); };
    host.ShowFeed = [this](const std::string& id) {
        Guarded([&] {
            QTreeWidgetItem* node = FTree->FindFeedNodeById(id);
            if (!node) return;
            if (FTree->currentItem() == node)
                ShowFeed(node);
            else
                FTree->setCurrentItem(node);
        });
    };
    host.CountsChanged = [this](const std::vector<std::string>& ids) {
        for (const std::string& id : ids)
            if (QTreeWidgetItem* node = FTree->FindFeedNodeById(id))
                FTree->UpdateNodeCaption(node);  // its folders' sums with it
        FTree->viewport()->update();
        // With the counts of every update: written within seconds.
        ScheduleConfigSave();
    };
    host.FeedItemsRead = [this](const std::string& id, const std::vector<std::string>& keys) {
        FAccounts->FeedsRead(id, keys);
    };
    host.FeedItemsUnread = [this](const std::string& id) { FAccounts->FeedsUnread(id); };
    host.FeedCaption = [this](const std::string& id) {
        const xml::Node item = TFeedTree::GetFeedItem(FTree->FindFeedNodeById(id));
        if (!item) return QString();
        const std::string caption = item.Attribute("caption").value_or("");
        return caption.empty() ? TFeedTree::FeedDisplayText(item) : Q(caption);
    };
    host.Closing = [this] { return FClosed; };
    FItems = std::make_unique<TReadStateController>(std::move(host), this);

    connect(ActionMarkRead, &QAction::triggered, this, [this] {
        Guarded([this] {
            if (QTreeWidgetItem* node = FTree->currentItem()) FItems->MarkFeedsRead(FeedIdsUnder({node}));
        });
    });
    connect(ActionMarkAllRead, &QAction::triggered, this,
            [this] { Guarded([this] { FItems->MarkFeedsRead(FeedIdsUnder({FTree->RootNode()})); }); });
    connect(ActionMarkUnread, &QAction::triggered, this, [this] {
        Guarded([this] {
            if (QTreeWidgetItem* node = FTree->currentItem()) FItems->MarkFeedsUnread(FeedIdsUnder({node}));
        });
    });
    connect(ActionNextUnread, &QAction::triggered, this, [this] { Guarded([this] { FItems->SelectNextUnread(); }); });
    connect(ActionFindInFeeds, &QAction::triggered, this, [this] { Guarded([this] { FItems->OpenFindInFeeds(); }); });
}

std::vector<std::string> TFormMain::FeedIdsUnder(const std::vector<QTreeWidgetItem*>& nodes) const {
    std::vector<std::string> ids;
    std::unordered_set<const QTreeWidgetItem*> seen;
    for (QTreeWidgetItem* node : nodes) {
        for (QTreeWidgetItem* feed : FTree->FeedNodesUnder(node))
            if (seen.insert(feed).second) ids.push_back(FeedIdOf(TFeedTree::GetFeedItem(feed)));
    }
    return ids;
}

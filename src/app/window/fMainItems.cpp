// The main window and the item store: the read state's controller wired to
// the feed tree, and the actions of reading (Mark as Read and Unread, Next
// Unread, Find in Feeds).
#include "fMain.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>

#include "FeedListController.h"
#include "FeedTree.h"
#include "StarredRow.h"
#include "ReadingPane.h"
#include "TrayIcon.h"

#include <QTreeWidgetItemIterator>

#include <algorithm>
#include <unordered_set>

#include "AccountController.h"
#include "AlertWords.h"
#include "NotifyController.h"
#include "ReadStateController.h"
#include "QtText.h"

namespace {

using plat::Q;

}  // namespace

void TFormMain::ConnectItems() {
    TReadStateHost host;
    host.ShowStatus = [this](const QString& text) { SetStatusText(0, text); };
    host.FeedList = FFeedList.get();
    host.FeedIds = [this] { return FTree->FeedIdsUnder({FTree->RootNode()}); };
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
            if (TFeedTree::IsFeedNode(node) && !node->isHidden()) ids.push_back(TFeedTree::FeedIdOf(node));
        }
        return ids;
    };
    host.CurrentFeedId = [this] { return TFeedTree::FeedIdOf(FTree->currentItem()); };
    host.ShowStarred = [this] {
        if (QTreeWidgetItem* starred = TStarredRow::In(*FTree)) FTree->setCurrentItem(starred);
    };
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
    host.CountsChanged = [this](const std::vector<std::string>&) {
        // The rows follow the list's counts themselves.
        FTree->viewport()->update();
        // With the counts of every update: written within seconds.
        ScheduleConfigSave();
    };
    host.FeedItemsRead = [this](const std::string& id, const std::vector<std::string>& keys) {
        FAccounts->FeedsRead(id, keys);
    };
    host.FeedItemsUnread = [this](const std::string& id) { FAccounts->FeedsUnread(id); };
    host.ItemMarked = [this](const std::string& id, const std::string& key, bool read) {
        FAccounts->ItemMarked(id, key, read);
    };
    host.FeedCaption = [this](const std::string& id) {
        const feedlist::TListEntry* feed = FFeedList->FindFeed(id);
        if (!feed) return QString();
        const std::string& caption = feed->Feed().Caption;
        return caption.empty() ? TFeedTree::FeedDisplayText(feed->Feed()) : Q(caption);
    };
    host.Closing = [this] { return FClosed; };
    host.AlertWords = [this] { return FNotify ? FNotify->RefreshAlertWords()->Words() : std::vector<std::string>(); };
    FItems = std::make_unique<TReadStateController>(std::move(host), this);

    // The page on show follows: its "new" marks go with the read state. (Mark
    // as Unread leaves it: showing the page again would read them at once.)
    const auto markRead = [this](const std::vector<std::string>& ids) {
        FItems->MarkFeedsRead(ids);
        QTreeWidgetItem* shown = FTree->currentItem();
        if (TFeedTree::IsFeedNode(shown) && std::find(ids.begin(), ids.end(), TFeedTree::FeedIdOf(shown)) != ids.end())
            ShowFeed(shown);
    };
    connect(FActions.MarkRead, &QAction::triggered, this, [this, markRead] {
        Guarded([&] {
            if (QTreeWidgetItem* node = FTree->currentItem()) markRead(FTree->FeedIdsUnder({node}));
        });
    });
    connect(FActions.MarkAllRead, &QAction::triggered, this,
            [this, markRead] { Guarded([&] { markRead(FTree->FeedIdsUnder({FTree->RootNode()})); }); });
    connect(FActions.MarkUnread, &QAction::triggered, this, [this] {
        Guarded([this] {
            if (QTreeWidgetItem* node = FTree->currentItem()) FItems->MarkFeedsUnread(FTree->FeedIdsUnder({node}));
        });
    });
    connect(FActions.NextUnread, &QAction::triggered, this,
            [this] { Guarded([this] { FItems->SelectNextUnread(); }); });
    connect(FActions.FindInFeeds, &QAction::triggered, this,
            [this] { Guarded([this] { FItems->OpenFindInFeeds(); }); });
}

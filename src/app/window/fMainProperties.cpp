// The window's side of feed properties: it answers for the tree's nodes and
// states; the controller fills the dialog and applies what OK gives.
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
#include "ReadingPane.h"
#include "TrayIcon.h"

#include "AccountController.h"
#include "FeedHealthController.h"
#include "FeedPropertiesController.h"
#include "UpdateController.h"

void TFormMain::ConnectFeedProperties() {
    auto nodeOf = [this](const std::string& id) { return FTree->FindFeedNodeById(id); };
    TFeedPropertiesController::THost host;
    host.FeedItem = [this, nodeOf](const std::string& id) { return TFeedTree::GetFeedItem(nodeOf(id)); };
    host.FolderOf = [this, nodeOf](const std::string& id) {
        QTreeWidgetItem* node = nodeOf(id);
        return node ? FTree->ContainerElement(node->parent()) : xml::Node();
    };
    host.Folders = [this] {
        std::vector<TFeedPropertiesController::TFolderChoice> folders;
        // Depth first in the tree's order, without recursion.
        std::vector<std::pair<QTreeWidgetItem*, int>> pending{{FTree->RootNode(), 0}};
        while (!pending.empty()) {
            const auto [node, depth] = pending.back();
            pending.pop_back();
            if (!node) continue;
            const QString caption =
                TFeedTree::IsFolderNode(node)
                    ? QString::fromStdString(
                          static_cast<TFolderNode*>(node)->Folder().Attribute("caption").value_or(""))
                    : node->text(0);
            folders.push_back({FTree->ContainerElement(node), caption, depth});
            for (int i = node->childCount() - 1; i >= 0; --i)
                if (TFeedTree::IsFolderNode(node->child(i))) pending.push_back({node->child(i), depth + 1});
        }
        return folders;
    };
    host.AccountOf = [this, nodeOf](const std::string& id) { return FAccounts->AccountIdOf(nodeOf(id)); };
    host.AccountFolder = [this](const std::string& accountId) {
        return FTree->ContainerElement(FAccounts->AccountNode(accountId));
    };
    host.HealthCause = [this](const std::string& id) { return FFeedHealth->Cause(id); };
    host.LastFailure = [nodeOf](const std::string& id) {
        auto* feed = static_cast<TFeedNode*>(nodeOf(id));
        return feed && feed->Failed() ? feed->Failure() : QString();
    };
    host.AddressReplaced = [this](const std::string& id) {
        // A new address starts a new history.
        FFeedHealth->AddressReplaced(id);
        FUpdates->AddressChanged(id);
    };
    host.FeedListChanged = [this] { FTree->NoteListChanged(); };
    host.AccountFeedRenamed = [this, nodeOf](const std::string& id, const std::string& oldCaption) {
        FAccounts->NodeRenamed(nodeOf(id), oldCaption);
    };
    host.AccountFeedReaddressed = [this, nodeOf](const std::string& id, const std::string& oldUrl,
                                                 const xml::Node& folder) {
        FAccounts->FeedReaddressed(nodeOf(id), oldUrl, FTree->NodeForContainer(folder));
    };
    host.ShowCaption = [this, nodeOf](const std::string& id) { FTree->UpdateNodeCaption(nodeOf(id)); };
    host.MoveTo = [this, nodeOf](const std::string& id, const xml::Node& folder) {
        FFeeds->MoveNode(nodeOf(id), FTree->NodeForContainer(folder));
    };
    host.Save = [this] {
        FOptions->Save();
        FFeedHealth->Refresh();
    };
    host.Window = [this] { return this; };
    FProperties = new TFeedPropertiesController(std::move(host), this);
}

void TFormMain::OpenFeedProperties(QTreeWidgetItem* node) {
    Guarded([&] {
        if (const xml::Node item = TFeedTree::GetFeedItem(node)) FProperties->Open(item.Attribute("id").value_or(""));
    });
}

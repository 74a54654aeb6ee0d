// The window's side of feed properties: it answers for the tree's nodes and
// states; the controller fills the dialog and applies what OK gives.
#include "fMain.h"

#include "FeedHealthController.h"
#include "FeedPropertiesController.h"
#include "UpdateController.h"

void TFormMain::ConnectFeedProperties() {
    auto nodeOf = [this](const std::string& id) { return FindFeedNodeById(id); };
    TFeedPropertiesController::THost host;
    host.FeedItem = [this, nodeOf](const std::string& id) { return GetFeedItem(nodeOf(id)); };
    host.FolderOf = [this, nodeOf](const std::string& id) {
        QTreeWidgetItem* node = nodeOf(id);
        return node ? ContainerElement(node->parent()) : xml::Node();
    };
    host.Folders = [this] {
        std::vector<TFeedPropertiesController::TFolderChoice> folders;
        // Depth first in the tree's order, without recursion.
        std::vector<std::pair<QTreeWidgetItem*, int>> pending{{RootNode(), 0}};
        while (!pending.empty()) {
            const auto [node, depth] = pending.back();
            pending.pop_back();
            if (!node) continue;
            const QString caption =
                IsFolderNode(node) ? QString::fromStdString(
                                         static_cast<TFolderNode*>(node)->Folder().Attribute("caption").value_or(""))
                                   : node->text(0);
            folders.push_back({ContainerElement(node), caption, depth});
            for (int i = node->childCount() - 1; i >= 0; --i)
                if (IsFolderNode(node->child(i))) pending.push_back({node->child(i), depth + 1});
        }
        return folders;
    };
    host.AccountOf = [this, nodeOf](const std::string& id) { return AccountIdOf(nodeOf(id)); };
    host.AccountFolder = [this](const std::string& accountId) { return ContainerElement(AccountNode(accountId)); };
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
    host.FeedListChanged = [this] { ++FFeedListVersion; };
    host.AccountFeedRenamed = [this, nodeOf](const std::string& id, const std::string& oldCaption) {
        AccountNodeRenamed(nodeOf(id), oldCaption);
    };
    host.AccountFeedReaddressed = [this, nodeOf](const std::string& id, const std::string& oldUrl,
                                                 const xml::Node& folder) {
        AccountFeedReaddressed(nodeOf(id), oldUrl, NodeForContainer(folder));
    };
    host.ShowCaption = [this, nodeOf](const std::string& id) { UpdateNodeCaption(nodeOf(id)); };
    host.MoveTo = [this, nodeOf](const std::string& id, const xml::Node& folder) {
        MoveNode(nodeOf(id), NodeForContainer(folder));
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
        if (const xml::Node item = GetFeedItem(node)) FProperties->Open(item.Attribute("id").value_or(""));
    });
}

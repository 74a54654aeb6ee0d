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
    TFeedPropertiesController::THost host;
    host.FeedList = FFeedList.get();
    host.TopCaption = FTree->RootNode() ? FTree->RootNode()->text(0) : QStringLiteral("Quillet");
    host.HealthCause = [this](const std::string& id) { return FFeedHealth->Cause(id); };
    host.LastFailure = [this](const std::string& id) { return FUpdates->RowState(id).Failure; };
    host.AddressReplaced = [this](const std::string& id) {
        // A new address starts a new history.
        FFeedHealth->AddressReplaced(id);
        FUpdates->AddressChanged(id);
    };
    host.FeedListChanged = [this] { FTree->NoteListChanged(); };
    host.AccountFeedRenamed = [this](const std::string& id, const std::string& oldCaption) {
        FAccounts->EntryRenamed(FFeedList->FindFeed(id), oldCaption);
    };
    host.AccountFeedReaddressed = [this](const std::string& id, const std::string& oldUrl,
                                         const feedlist::TListEntry* folder) {
        FAccounts->FeedReaddressed(FFeedList->FindFeed(id), oldUrl, folder);
    };
    host.MoveTo = [this](const std::string& id, const feedlist::TListEntry& folder) {
        FFeeds->MoveNode(FFeedList->FindFeed(id), &folder);
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
        if (TFeedTree::IsFeedNode(node)) FProperties->Open(TFeedTree::FeedIdOf(node));
    });
}

// The window's side of the feed list: the controller of its changes, wired
// to the accounts, the update cycle, the item store and saving.
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

#include <filesystem>

#include "AccountController.h"
#include "FeedUpdate.h"
#include "UpdateController.h"
#include "ReadStateController.h"
#include "uvxLanguage.h"

void TFormMain::ConnectFeedList() {
    TFeedListController::THost host;
    host.Save = [this] { FOptions->Save(); };
    host.ScheduleSave = [this] { ScheduleConfigSave(); };
    host.AccountIdOf = [](QTreeWidgetItem* node) { return TAccountController::AccountIdOf(TFeedTree::EntryOf(node)); };
    host.AccountNode = [this](const std::string& id) { return FTree->RowOf(FAccounts->AccountFolder(id)); };
    host.AddAccountFeed = [this](const std::string& url, QTreeWidgetItem* folder, const std::string& caption) {
        return FTree->RowOf(FAccounts->AddFeed(url, TFeedTree::EntryOf(folder), caption));
    };
    host.ImportToAccount = [this](const std::vector<opml::Outline>& outlines, QTreeWidgetItem* account) {
        return FAccounts->Import(outlines, TFeedTree::EntryOf(account));
    };
    host.MayMove = [this](QTreeWidgetItem* node, QTreeWidgetItem* parent) {
        return FAccounts->EntryMoving(TFeedTree::EntryOf(node), TFeedTree::EntryOf(parent));
    };
    host.ApplyingSync = [this] { return FAccounts->ApplyingSync(); };
    host.Update = [this](QTreeWidgetItem* node) { FUpdates->UpdateFeed(TFeedTree::FeedIdOf(node)); };
    host.FeedDeleting = [this](const std::string& id) {
        emit feedDeleted(QString::fromStdString(id));
        // An update under way must not take the copy about to go for its own.
        if (IsValidFeedId(id)) FUpdates->StoredCopyChanged(id);
    };
    host.ForgetItems = [this](std::vector<std::string> ids) { FItems->ForgetFeeds(std::move(ids)); };
    host.Guarded = [this](const std::function<void()>& handler) { Guarded(handler); };
    FFeeds = std::make_unique<TFeedListController>(*FTree, std::move(host));
}

void TFormMain::ActionNewFolderExecute() {
    Guarded([this] {
        QTreeWidgetItem* node = FFeeds->AddFolder(LangMsg("NewFolderCaption"), FTree->currentItem());
        if (!node) return;
        FTree->setCurrentItem(node);
        FTree->editItem(node, 0);
    });
}

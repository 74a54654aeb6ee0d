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

#include <QMessageBox>
#include <QPushButton>

#include <filesystem>

#include "AccountController.h"
#include "FeedList.h"
#include "FeedUpdate.h"
#include "UpdateController.h"
#include "ReadStateController.h"
#include "uvxLanguage.h"

namespace {

// Asks how a folder goes: with its feeds, or leaving them a level up.
// 0 cancels, 1 keeps the feeds, 2 deletes them.
int AskHowToDeleteFolder(QWidget* parent, const feedlist::TListEntry& folder) {
    QMessageBox box(QMessageBox::Question, parent->windowTitle(), LangFmtQ("DeleteFolderConfirm", {folder.Caption()}),
                    QMessageBox::Cancel, parent);
    QPushButton* keep = box.addButton(LangMsgQ("DeleteFolderKeepFeeds"), QMessageBox::AcceptRole);
    QPushButton* all = box.addButton(LangMsgQ("DeleteFolderWithFeeds"), QMessageBox::DestructiveRole);
    box.setDefaultButton(keep);
    box.exec();
    if (box.clickedButton() == keep) return 1;
    if (box.clickedButton() == all) return 2;
    return 0;
}

}  // namespace

void TFormMain::ConnectFeedList() {
    TFeedListController::THost host;
    host.Reload = [this] { LoadFeedList(); };
    host.Save = [this] { FOptions->Save(); };
    host.ScheduleSave = [this] { ScheduleConfigSave(); };
    host.AccountIdOf = [](const feedlist::TListEntry* entry) { return TAccountController::AccountIdOf(entry); };
    host.AccountNode = [this](const std::string& id) { return FAccounts->AccountFolder(id); };
    host.AddAccountFeed = [this](const std::string& url, const feedlist::TListEntry* folder,
                                 const std::string& caption) { return FAccounts->AddFeed(url, folder, caption); };
    host.ImportToAccount = [this](const std::vector<opml::Outline>& outlines, const feedlist::TListEntry* account) {
        return FAccounts->Import(outlines, account);
    };
    host.MayMove = [this](const feedlist::TListEntry* entry, const feedlist::TListEntry* parent) {
        return FAccounts->EntryMoving(entry, parent);
    };
    host.Renamed = [this](const feedlist::TListEntry* entry, const std::string& oldCaption) {
        FAccounts->EntryRenamed(entry, oldCaption);
    };
    host.ApplyingSync = [this] { return FAccounts->ApplyingSync(); };
    host.Update = [this](const std::string& id) { FUpdates->UpdateFeed(id); };
    host.FeedDeleting = [this](const std::string& id) {
        emit feedDeleted(QString::fromStdString(id));
        // An update under way must not take the copy about to go for its own.
        if (IsValidFeedId(id)) FUpdates->StoredCopyChanged(id);
    };
    host.ForgetItems = [this](std::vector<std::string> ids) { FItems->ForgetFeeds(std::move(ids)); };
    host.Guarded = [this](const std::function<void()>& handler) { Guarded(handler); };
    host.FolderDeleting = [this](const feedlist::TListEntry* folder, bool withContents) {
        FAccounts->EntryDeleting(folder, withContents);
    };
    FFeeds = std::make_unique<TFeedListController>(*FTree, std::move(host));
    FFeeds->AskDeleteFolder = [this](const feedlist::TListEntry& folder) { return AskHowToDeleteFolder(this, folder); };
}

void TFormMain::ActionNewFolderExecute() {
    Guarded([this] {
        QTreeWidgetItem* node =
            FTree->RowOf(FFeeds->AddFolder(LangMsg("NewFolderCaption"), TFeedTree::EntryOf(FTree->currentItem())));
        if (!node) return;
        FTree->setCurrentItem(node);
        FTree->editItem(node, 0);
    });
}

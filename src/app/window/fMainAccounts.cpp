// The main window and its feed-server accounts: the accounts' controller
// wired to the tree, the item store and the status line, File > Accounts,
// the password prompt and the "Move to Account" menu.
#include "AccountController.h"
#include "ArticleController.h"
#include "AccountList.h"
#include "AccountText.h"
#include "FeedList.h"
#include "NotifyController.h"
#include "ReadStateController.h"
#include "fAccountEdit.h"
#include "fAccounts.h"
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

#include "UpdateController.h"
#include "QtText.h"

namespace {

using plat::Q;

}  // namespace

void TFormMain::ConnectAccounts() {
    FActions.Accounts = new QAction(QStringLiteral("Accounts..."), this);
    FActions.Accounts->setObjectName("ActionAccounts");
    FileMenu->insertAction(FActions.Options, FActions.Accounts);
    connect(FActions.Accounts, &QAction::triggered, this, [this] { Guarded([this] { ActionAccountsExecute(); }); });

    TAccountHost host;
    host.Closed = [this] { return !FOptions || FClosed; };
    host.FeedList = FFeedList.get();
    host.SaveNow = [this] { FOptions->Save(); };
    host.ScheduleSave = [this] { ScheduleConfigSave(); };
    host.Items = [this]() -> TReadStateController& { return *FItems; };
    host.ShowStatus = [this](const QString& text) { SetStatusText(0, text); };
    host.ShowError = [this](const std::exception& error) { ShowHandlerError(error); };
    host.UpdateIntervalSeconds = [this] { return FUpdates->UpdateIntervalSeconds(); };
    host.AlertWords = [this] { return FNotify->RefreshAlertWords(); };
    host.AnnounceNewItems = [this](const feedlist::TFeedEntry& feed, const feed::TFeedDocument& document,
                                   const std::vector<int>& fresh, const TAlertVerdicts& verdicts) {
        FNotify->AnnounceNewItems(feed, document, static_cast<int>(fresh.size()), &fresh, &verdicts);
    };
    host.AppendFeed = [this](const std::string& url, const std::string& caption, const feedlist::TListEntry& folder) {
        return FFeeds->AppendFeed(url, caption, &folder);
    };
    host.AddFolder = [this](const std::string& caption, const feedlist::TListEntry& parent) {
        return FFeeds->AddFolder(caption, &parent);
    };
    host.DeleteFolder = [this](const feedlist::TListEntry& folder, bool withContents) {
        FFeeds->DeleteFolder(&folder, withContents);
    };
    host.FeedGone = [this](const std::string& id) { emit feedDeleted(QString::fromStdString(id)); };
    host.BeginBatch = [this] { FTree->BeginBatch(); };
    host.EndBatch = [this] { FTree->EndBatch(); };
    host.RepaintTree = [this] { FTree->viewport()->update(); };
    host.MarkFeedUpdated = [this](const std::string& id) { FUpdates->MarkFeedUpdated(id); };
    host.MarkFeedFailed = [this](const std::string& id, const std::string& failure) {
        FUpdates->MarkFeedFailed(id, failure);
    };
    host.FeedFailed = [this](const std::string& id) { return !FUpdates->RowState(id).Failure.isEmpty(); };
    host.StoredCopyChanged = [this](const std::string& id) { FUpdates->StoredCopyChanged(id); };
    // An account's feed wants its full articles after a sync as a local one after its update.
    host.ItemsArrived = [this](const std::string& id) {
        if (FArticles) FArticles->FeedUpdated(id);
    };
    const auto accountRow = [this](const std::string& accountId) {
        return static_cast<TFolderNode*>(FTree->RowOf(FFeedList->FindAccount(accountId)));
    };
    host.ShowAccountRow = [this, accountRow](const std::string& accountId, TAccountHost::TRowState state,
                                             const QString& toolTip) {
        TFolderNode* node = accountRow(accountId);
        if (!node) return;
        using TRowState = TAccountHost::TRowState;
        const QIcon icon = state == TRowState::Busy     ? FUpdates->BusyIcon()
                           : state == TRowState::Failed ? FUpdates->FailedIcon()
                                                        : QIcon();
        node->ShowState(icon, toolTip, state == TRowState::Failed ? toolTip : QString());
        FTree->viewport()->update(FTree->visualItemRect(node));
    };
    host.AccountRowToolTip = [accountRow](const std::string& accountId) {
        const TFolderNode* node = accountRow(accountId);
        return node ? node->ToolTip() : QString();
    };
    FAccounts = std::make_unique<TAccountController>(std::move(host));

    FAccounts->SetPasswordPrompt([this](const QString& id) -> std::optional<QString> {
        const auto record = accountlist::RecordOf(FFeedList->FindAccount(id.toStdString()));
        if (!record) return std::nullopt;
        TFormAccountEdit edit(TFormAccountEdit::TMode::Password, this);
        edit.SetAccount(Q(record->Address), Q(record->User), Q(record->Caption));
        edit.SetIntro(AccountText("AccountPasswordRefused",
                                  QStringLiteral("The server refused the password of the account \"%1\". Type it "
                                                 "again.")
                                      .arg(Q(record->Caption)),
                                  {record->Caption}));
        if (edit.exec() != QDialog::Accepted) return std::nullopt;
        return edit.Password();
    });
    FAccounts->Start();
}

void TFormMain::ActionAccountsExecute() {
    TFormAccounts dialog(*FAccounts, *FFeedList, this);
    dialog.exec();
}

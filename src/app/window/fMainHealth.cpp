// The main window's side of feed health: it places the controller's action
// and status-line button, and answers what the controller asks of the feed
// list and the update cycle.
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

#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "Address.h"
#include "ListedFeed.h"
#include "FeedListModel.h"
#include "FeedHealthController.h"
#include "UpdateController.h"
#include "fAddFeed.h"

void TFormMain::ConnectFeedHealth() {
    TFeedHealthController::THost host;
    host.Options = [this] { return FOptions.get(); };
    host.ShowStatus = [this](const QString& text) { SetStatusText(0, text); };
    host.Guarded = [this](const std::function<void()>& handler) { Guarded(handler); };
    host.FeedIds = [this] { return FTree->FeedIdsUnder({FTree->RootNode()}); };
    host.FeedList = FFeedList.get();
    host.FeedName = [this](const std::string& id) {
        const feedlist::TListEntry* feed = FFeedList->FindFeed(id);
        return feed ? TFeedTree::FeedDisplayText(feed->Feed()) : QString();
    };
    host.ShowFeedState = [this](const std::string& id) { FUpdates->ShowFeedState(id); };
    // Feed health's "use this address".
    host.SetFeedAddress = [this](const std::string& id, const std::string& url) {
        const feedlist::TListEntry* entry = FFeedList->FindFeed(id);
        if (!entry || url.empty()) return;
        FFeedList->UpdateFeed(*entry, [&url](feedlist::TFeedEntry& feed) {
            feed.Url = url;
            feedlist::ForgetValidators(feed);
            feed.Stopped.clear();
        });
        FTree->NoteListChanged();
        FUpdates->AddressChanged(id);
        ScheduleConfigSave();
    };
    host.UpdateFeed = [this](const std::string& id) { FUpdates->UpdateFeed(id); };
    host.EditFeed = [this](const std::string& id) {
        if (QTreeWidgetItem* node = FTree->FindFeedNodeById(id)) OpenFeedProperties(node);
    };
    host.DeleteFeed = [this](const std::string& id) {
        QTreeWidgetItem* node = FTree->FindFeedNodeById(id);
        if (!node) return;
        FTree->setCurrentItem(node);
        ActionDeleteFeedExecute();
    };
    // "Find the feed on this page": the address chosen, or "" when none was.
    host.ChooseFeedOnPage = [this](const std::string& id, const std::string& url, const QString& title) {
        TFormAddFeed dialog(this);
        dialog.SetChooseOnly(title);
        dialog.SecureFeeds = FUpdates->SecureFeedsOption();
        // Another feed of the list is not taken twice; this one may be found.
        dialog.FindExisting = [this, id](const std::string& found) { return ListedFeedName(*FFeedList, found, id); };
        dialog.FindFeedsFor(QString::fromStdString(url));
        return dialog.exec() == QDialog::Accepted ? dialog.URL().toStdString() : std::string();
    };
    host.Fetched = [this](const std::string& id, const schedule::TAnswerHints& answer,
                          std::chrono::system_clock::time_point at) {
        if (FUpdates) FUpdates->Fetched(id, answer, at);
    };
    FFeedHealth = new TFeedHealthController(std::move(host), this);

    // Right after Find in Feeds: both look across every feed.
    const QList<QAction*> entries = FeedMenu->actions();
    const qsizetype after = entries.indexOf(FActions.FindInFeeds) + 1;
    FeedMenu->insertAction(after > 0 && after < entries.size() ? entries[after] : nullptr, FFeedHealth->Action());
    StatusBar->addPermanentWidget(FFeedHealth->StatusButton());

    QTimer::singleShot(0, this, [this] { Guarded([this] { FFeedHealth->FeedListLoaded(); }); });
    connect(this, &TFormMain::feedDeleted, FFeedHealth, &TFeedHealthController::FeedDeleted);
}

// The window's side of the feed page and the tray: it hands the reading
// pane's events to the page's controller and the tray icon's clicks to the
// tray's.
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

#include <exception>

#include "ArticleController.h"
#include "FeedPageController.h"
#include "ReadStateController.h"
#include "StarController.h"
#include "TrayController.h"
#include "NotifyController.h"

namespace {}  // namespace

void TFormMain::ConnectUpdateAndDisplay() {
    ConnectPage();

    auto guarded = [this](auto handler) {
        return [this, handler] {
            try {
                handler();
            } catch (const std::exception& error) {
                QMessageBox::critical(this, windowTitle(), QString::fromUtf8(error.what()));
            }
        };
    };
    connect(FActions.ShowQuillet, &QAction::triggered, this, guarded([this] { FTray->ActionShowQuilletExecute(); }));
    connect(FActions.HideQuillet, &QAction::triggered, this, guarded([this] { FTray->ActionHideQuilletExecute(); }));
    connect(FActions.Help, &QAction::triggered, this, guarded([this] { FPage->ActionHelpExecute(); }));
    connect(this, &TFormMain::feedDeleted, FPage, &TFeedPageController::FeedDeleted);

    ConnectNotifications();

    if (TrayIcon) {
        TrayIcon->SetOnClick([this](TTrayIcon*) { FTray->TrayIconClick(); });
        TrayIcon->SetOnDblClick([this](TTrayIcon*) { FTray->TrayIconDblClick(); });
        TrayIcon->SetOnBalloonHintClick([this](TTrayIcon*) { FTray->TrayIconBalloonHintClick(); });
        TrayIcon->SetOnMinimizeToTray([this](TTrayIcon*) { FTray->ApplicationEvents1Minimize(); });
    }

    ReadingPane->OnBeforeNavigate = [this](const QString& address, bool& cancel) {
        // An item's "Read the full article" and its star are the program's,
        // never a page's.
        if ((FStars && FStars->TakePageRequest(address)) || (FArticles && FArticles->TakePageRequest(address)))
            cancel = true;
        else
            FPage->BeforePaneNavigates(address, cancel);
    };
    connect(ReadingPane, &TReadingPane::NavigateComplete, FPage, &TFeedPageController::PaneDocumentComplete);
    connect(ReadingPane, &TReadingPane::PageShown, this,
            [this](qint64 serial) { Guarded([&] { FItems->PageShown(serial); }); });
    connect(ReadingPane, &TReadingPane::StatusTextChange, FPage, &TFeedPageController::PaneStatusTextChanged);
    connect(ReadingPane, &TReadingPane::BrowserFailed, FPage, &TFeedPageController::PaneFailed);
}

void TFormMain::ConnectPage() {
    auto nodeOf = [this](const std::string& id) { return FTree->FindFeedNodeById(id); };
    TFeedPageController::THost page;
    page.ConfigNode = [this](const std::string& path) { return FOptions->GetConfigNode(path); };
    page.Feed = [this](const std::string& id) -> const feedlist::TFeedEntry* {
        const feedlist::TListEntry* feed = FFeedList->FindFeed(id);
        return feed ? &feed->Feed() : nullptr;
    };
    page.SelectFeed = [this, nodeOf](const std::string& id) {
        QTreeWidgetItem* node = nodeOf(id);
        if (FTree->currentItem() != node) {
            // Selecting runs the selection handler, which shows the feed.
            FTree->setCurrentItem(node);
            if (FTree->currentItem() == node) return true;
        }
        for (QTreeWidgetItem* parent = node->parent(); parent; parent = parent->parent()) parent->setExpanded(true);
        FTree->scrollToItem(node);
        return false;
    };
    page.ShowPage = [this](const feedlist::TFeedEntry& feed,
                           const std::function<qint64(const QJsonObject&)>& navigate) {
        // The page carries the feed's full articles beside its unread marks.
        FItems->ShowPage(feed, [&](const QJsonObject& marks) {
            QJsonObject withArticles = marks;
            if (FArticles) FArticles->AddPageArticles(feedlist::IdText(feed), withArticles);
            if (FStars) FStars->AddPageStars(feedlist::IdText(feed), withArticles);
            return navigate(withArticles);
        });
    };
    page.DropShownPage = [this](const std::string& id) { return FItems->DropShownPage(id); };
    page.Navigate = [this](const QString& file, const QJsonObject& marks) { ReadingPane->Navigate(file, marks); };
    page.PageSerial = [this] { return ReadingPane->PageSerial(); };
    page.SetShowWebImages = [this](bool show) { ReadingPane->SetShowWebImages(show); };
    page.SetBodyStyle = [this](const QString& property, const QString& value) {
        ReadingPane->SetBodyStyle(property, value);
    };
    page.ClearPane = [this] { ReadingPane->Clear(); };
    page.SetStatusText = [this](int panel, const QString& text) { SetStatusText(panel, text); };
    FPage = new TFeedPageController(std::move(page), this);

    TTrayController::THost tray;
    tray.TrayIcon = [this] { return TrayIcon; };
    tray.RepeatBalloon = [this] { FNotify->ShowBalloon(); };
    tray.BalloonFeedId = [this] { return FNotify->Balloon().FeedId; };
    tray.ShowFeed = [this](const std::string& id) { FPage->Show(id); };
    FTray = new TTrayController(std::move(tray), FActions.ShowQuillet, FActions.HideQuillet, this);
}

void TFormMain::ShowFeed(QTreeWidgetItem* node) {
    if (!TStarController::IsStarredRow(node)) {
        FPage->Show(TFeedTree::FeedIdOf(node));
        return;
    }
    // The feed page that was on show is left: it marks nothing more, and
    // nothing shows it again in the view's place.
    FItems->DropShownPage(FItems->ShownPage().FeedId);
    FStars->ShowView();
}

// Feed display of the main window: showing a stored copy in the browser,
// the browser's hooks, and showing and hiding the window through the tray
// icon.
#include "fMain.h"

#include <QDesktopServices>
#include <QDir>
#include <QFontMetrics>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>
#include <exception>

#include "Convert.h"
#include "FeedDocument.h"
#include "FeedUpdate.h"
#include "NotifyController.h"
#include "ReadStateController.h"
#include "Text.h"
#include "TextFit.h"
#include "uvxLanguage.h"

namespace {

constexpr char kExternalBrowserPath[] = "general\\ExternalBrowser";
constexpr char kShowWebImagesPath[] = "general\\ShowWebImages";
constexpr char kHelpFile[] = "help/Quillet.html";

QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

// Addresses that stay inside the program's browser: local files (a path, a
// file: URL, a drive-letter path) and the browser's own blank page.
bool IsLocalAddress(const QString& address) {
    if (address.startsWith('/')) return true;
    if (address.size() >= 3 && address.at(1) == ':' && (address.at(2) == '\\' || address.at(2) == '/')) return true;
    const QString scheme = QUrl(address).scheme().toLower();
    return scheme == QLatin1String("file") || scheme == QLatin1String("about");
}

}  // namespace

void TFormMain::ConnectUpdateAndDisplay() {
    OpenExternally = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    auto guarded = [this](auto handler) {
        return [this, handler] {
            try {
                handler();
            } catch (const std::exception& error) {
                QMessageBox::critical(this, windowTitle(), QString::fromUtf8(error.what()));
            }
        };
    };
    connect(ActionShowQuillet, &QAction::triggered, this, guarded([this] { ActionShowQuilletExecute(); }));
    connect(ActionHideQuillet, &QAction::triggered, this, guarded([this] { ActionHideQuilletExecute(); }));
    connect(ActionHelp, &QAction::triggered, this, guarded([this] { ActionHelpExecute(); }));
    // What is kept in memory about a deleted feed goes with it.
    connect(this, &TFormMain::feedDeleted, this, [this](const QString& id) {
        // Its page goes with it, and marks nothing when it loads after all.
        if (FItems->DropShownPage(id.toStdString())) ReadingPane->Clear();
    });

    ConnectNotifications();

    if (TrayIcon) {
        TrayIcon->SetOnClick([this](TTrayIcon*) { TrayIconClick(); });
        TrayIcon->SetOnDblClick([this](TTrayIcon*) { TrayIconDblClick(); });
        TrayIcon->SetOnBalloonHintClick([this](TTrayIcon*) { TrayIconBalloonHintClick(); });
        TrayIcon->SetOnMinimizeToTray([this](TTrayIcon*) { ApplicationEvents1Minimize(); });
    }

    ReadingPane->OnBeforeNavigate = [this](const QString& address, bool& cancel) {
        BeforePaneNavigates(address, cancel);
    };
    connect(ReadingPane, &TReadingPane::NavigateComplete, this, [this] { PaneDocumentComplete(); });
    connect(ReadingPane, &TReadingPane::PageShown, this,
            [this](qint64 serial) { Guarded([&] { FItems->PageShown(serial); }); });
    connect(ReadingPane, &TReadingPane::StatusTextChange, this,
            [this](const QString& text) { PaneStatusTextChanged(text); });
    connect(ReadingPane, &TReadingPane::BrowserFailed, this, [this](const QString& reason) {
        QString message;
        try {
            message = LangFmtQ("ReadingPaneFailed", {reason.toStdString()});
        } catch (const std::exception&) {
        }
        if (message.isEmpty())
            message = QStringLiteral("The reading pane stopped: %1. It starts again when a feed is shown.").arg(reason);
        SetStatusText(0, message);
    });
}

// ---------------------------------------------------------------------------
// Showing a feed

void TFormMain::ShowFeed(QTreeWidgetItem* node) {
    xml::Node item = GetFeedItem(node);
    if (!item) return;
    if (TreeView->currentItem() != node) {
        // Selecting runs the selection handler, which shows the feed.
        TreeView->setCurrentItem(node);
        if (TreeView->currentItem() == node) return;
    }
    for (QTreeWidgetItem* parent = node->parent(); parent; parent = parent->parent()) parent->setExpanded(true);
    TreeView->scrollToItem(node);

    const std::string id = item.Attribute("id").value_or("");
    // Shipped on; a configuration from before the option gets it on too,
    // written down so that the options dialog shows it ticked.
    bool showImages = true;
    try {
        xml::Node option = FOptions->GetConfigNode(kShowWebImagesPath);
        if (option.Text().empty()) option.SetText(plat::BoolToStr(true));
        showImages = plat::TryStrToBool(option.Text()).value_or(true);
    } catch (const std::exception&) {
    }
    ReadingPane->SetShowWebImages(showImages);
    if (!IsValidFeedId(id)) return;
    // Nothing counts as read here: only once the pane reports the page on
    // show (PageShown), so a page never loaded marks nothing.
    FItems->ShowPage(item, [&](const QJsonObject& marks) {
        ReadingPane->Navigate(QDir::current().absoluteFilePath(Q(StoredCopyPath(id))), marks);
        return ReadingPane->PageSerial();
    });
}

// ---------------------------------------------------------------------------
// Fitting texts

std::string TFormMain::FitTextWidth(const std::string& text, int width) const {
    const QFontMetrics metrics(font());
    return textfit::FitTextWidth(text, width,
                                 [&metrics](const std::string& s) { return metrics.horizontalAdvance(Q(s)); });
}

std::string TFormMain::CutText(const std::string& text, int length) { return textfit::CutText(text, length); }

std::string TFormMain::StripTags(const std::string& text) { return plat::StripTags(text); }

// ---------------------------------------------------------------------------
// The browser

void TFormMain::BeforePaneNavigates(const QString& address, bool& cancel) {
    bool external = false;
    try {
        external = plat::TryStrToBool(FOptions->GetConfigNode(kExternalBrowserPath).Text()).value_or(false);
    } catch (const std::exception&) {
    }
    if (external && !IsLocalAddress(address)) {
        if (OpenExternally) OpenExternally(QUrl(address));
        cancel = true;
    }
}

void TFormMain::PaneDocumentComplete() { ReadingPane->SetBodyStyle("border-style", "none"); }

void TFormMain::PaneStatusTextChanged(const QString& text) { SetStatusText(1, text); }

// ---------------------------------------------------------------------------
// Showing and hiding the window

void TFormMain::ActionShowQuilletExecute() {
    TrayIcon->ShowMainForm();
    ActionShowQuillet->setVisible(false);
    ActionHideQuillet->setVisible(true);
}

void TFormMain::ActionHideQuilletExecute() {
    TrayIcon->HideMainForm();
    ActionHideQuillet->setVisible(false);
    ActionShowQuillet->setVisible(true);
}

void TFormMain::TrayIconDblClick() { ActionShowQuilletExecute(); }

void TFormMain::ApplicationEvents1Minimize() { ActionHideQuilletExecute(); }

void TFormMain::TrayIconClick() { FNotify->ShowBalloon(); }

void TFormMain::TrayIconBalloonHintClick() {
    TrayIcon->ShowMainForm();
    if (QTreeWidgetItem* node = FindFeedNodeById(FNotify->Balloon().FeedId)) ShowFeed(node);
}

void TFormMain::ActionHelpExecute() {
    // The help is an HTML page in the working directory, opened by the
    // desktop's browser; a failure to open it is ignored.
    if (OpenExternally) OpenExternally(QUrl::fromLocalFile(QDir::current().absoluteFilePath(kHelpFile)));
}

#include "FeedPageController.h"

#include <QDesktopServices>
#include <QDir>

#include <exception>

#include "Convert.h"
#include "FeedUpdate.h"
#include "uvxLanguage.h"
#include "QtText.h"

namespace {

constexpr char kExternalBrowserPath[] = "general\\ExternalBrowser";
constexpr char kShowWebImagesPath[] = "general\\ShowWebImages";
constexpr char kHelpFile[] = "help/Quillet.html";

using plat::Q;

// Addresses that stay inside the program's browser: local files (a path, a
// file: URL, a drive-letter path) and the browser's own blank page.
bool IsLocalAddress(const QString& address) {
    if (address.startsWith('/')) return true;
    if (address.size() >= 3 && address.at(1) == ':' && (address.at(2) == '\\' || address.at(2) == '/')) return true;
    const QString scheme = QUrl(address).scheme().toLower();
    return scheme == QLatin1String("file") || scheme == QLatin1String("about");
}

}  // namespace

TFeedPageController::TFeedPageController(THost host, QObject* parent)
    : QObject(parent),
      FHost(std::move(host)),
      FOpenExternally([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
    setObjectName("FeedPage");
}

void TFeedPageController::Show(const std::string& id) {
    const feedlist::TFeedEntry* feed = FHost.Feed(id);
    if (!feed) return;
    if (FHost.SelectFeed(id)) return;

    // Shipped on; a configuration from before the option gets it on too,
    // written down so that the options dialog shows it ticked.
    bool showImages = true;
    try {
        xml::Node option = FHost.ConfigNode(kShowWebImagesPath);
        if (option.Text().empty()) option.SetText(plat::BoolToStr(true));
        showImages = plat::TryStrToBool(option.Text()).value_or(true);
    } catch (const std::exception&) {
    }
    FHost.SetShowWebImages(showImages);
    if (!IsValidFeedId(id)) return;
    // Nothing counts as read here: only once the pane reports the page on
    // show (PageShown), so a page never loaded marks nothing.
    FHost.ShowPage(*feed, [&](const QJsonObject& marks) {
        FHost.Navigate(QDir::current().absoluteFilePath(Q(StoredCopyPath(id))), marks);
        return FHost.PageSerial();
    });
}

void TFeedPageController::FeedDeleted(const QString& id) {
    // Its page goes with it, and marks nothing when it loads after all.
    if (FHost.DropShownPage(id.toStdString())) FHost.ClearPane();
}

void TFeedPageController::BeforePaneNavigates(const QString& address, bool& cancel) {
    bool external = false;
    try {
        external = plat::TryStrToBool(FHost.ConfigNode(kExternalBrowserPath).Text()).value_or(false);
    } catch (const std::exception&) {
    }
    if (external && !IsLocalAddress(address)) {
        OpenExternally(QUrl(address));
        cancel = true;
    }
}

void TFeedPageController::PaneDocumentComplete() { FHost.SetBodyStyle("border-style", "none"); }

void TFeedPageController::PaneStatusTextChanged(const QString& text) { FHost.SetStatusText(1, text); }

void TFeedPageController::PaneFailed(const QString& reason) {
    QString message;
    try {
        message = LangFmtQ("ReadingPaneFailed", {reason.toStdString()});
    } catch (const std::exception&) {
    }
    if (message.isEmpty())
        message = QStringLiteral("The reading pane stopped: %1. It starts again when a feed is shown.").arg(reason);
    FHost.SetStatusText(0, message);
}

void TFeedPageController::ActionHelpExecute() {
    // The help is an HTML page in the working directory, opened by the
    // desktop's browser; a failure to open it is ignored.
    OpenExternally(QUrl::fromLocalFile(QDir::current().absoluteFilePath(kHelpFile)));
}

void TFeedPageController::OpenExternally(const QUrl& url) const {
    if (FOpenExternally) FOpenExternally(url);
}

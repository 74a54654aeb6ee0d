#include "StarController.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QPointer>
#include <QTimeZone>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "AppInfo.h"
#include "FeedList.h"
#include "FeedPageFunctions.h"
#include "FeedTree.h"
#include "ItemStore.h"
#include "PaneProtocol.h"
#include "StarredExport.h"
#include "StarredExportCommand.h"
#include "StarredRow.h"
#include "XmlDom.h"
#include "uvxLanguage.h"
#include "QtText.h"

namespace {

using plat::Q;

QString ViewTitle() { return LangTextQ("StarredViewTitle", {}, QStringLiteral("Starred items")); }

// An item's date as the page shows dates: its own text, else its instant.
std::string DateText(const items::TStarredItem& item) {
    if (!item.DateText.empty() || !item.DateUTC) return item.DateText;
    return QDateTime::fromSecsSinceEpoch(*item.DateUTC, QTimeZone::utc()).toString(Qt::RFC2822Date).toStdString();
}

void AppendText(xml::Node& parent, const char* name, const std::string& text) {
    if (!text.empty()) parent.AppendElement(name).SetText(text);
}

}  // namespace

TStarController::TStarController(TStarHost host, QObject* parent) : QObject(parent), FHost(std::move(host)) {}

TStarController::~TStarController() = default;

// ---------------------------------------------------------------------------
// The row

void TStarController::ShowRowIn(QTreeWidget& tree) {
    FTree = &tree;
    TStarredRow::In(tree, QIcon(QStringLiteral(":/icons/star.svg")))->ShowCount(std::max(FCount, 0));
}

bool TStarController::IsStarredRow(const QTreeWidgetItem* node) { return TStarredRow::Is(node); }

void TStarController::ShowCount() {
    items::TItemStore* store = FHost.Store();
    if (!store) return;
    try {
        FCount = store->StarredCount();
    } catch (const std::exception& error) {
        ShowStoreError(error);
        return;
    }
    if (FTree) TStarredRow::In(*FTree)->ShowCount(FCount);
}

void TStarController::ShowStoreError(const std::exception& error) {
    FHost.ShowStatus(LangTextQ("ItemBaseUnavailable", {std::string(error.what())}, Q(error.what())));
}

void TStarController::Refresh() {
    ShowCount();
    if (ViewShown()) ShowView(FViewPage);
}

// ---------------------------------------------------------------------------
// Starring

QJsonObject TStarController::Labels() const {
    return {{"starLabel", LangTextQ("PageStarLink", {}, QStringLiteral("Star"))},
            {"starredLabel", LangTextQ("PageStarredLink", {}, QStringLiteral("Starred"))}};
}

bool TStarController::SetStarred(const std::string& feedId, const std::string& key, bool starred) {
    items::TItemStore* store = FHost.Store();
    if (!store) {
        FHost.ShowStatus(
            LangTextQ("StarStoreNotOpen", {}, QStringLiteral("Stars need the item store, which is not open yet.")));
        return false;
    }
    std::string caption;
    if (FHost.FeedList)
        if (const feedlist::TListEntry* feed = FHost.FeedList->FindFeed(feedId))
            caption = TFeedTree::FeedDisplayText(feed->Feed()).toStdString();
    bool changed = false;
    try {
        changed = store->SetItemStarred(feedId, key, starred, caption);
    } catch (const std::exception& error) {
        ShowStoreError(error);
        return false;
    }
    // The link shows the state even when it was stale (set elsewhere since).
    const QString feed = Q(feedId), itemKey = Q(key);
    FHost.SetStarLink(pane::StarRequestAddress(feed, itemKey, starred),
                      pane::StarRequestAddress(feed, itemKey, !starred),
                      Q(quillet::StarLinkText(starred, quillet::TPageMarks::FromJson(Labels()))), itemKey, starred);
    if (changed && FHost.StarChanged) FHost.StarChanged(feedId, key, starred);
    ShowCount();
    return changed;
}

bool TStarController::TakePageRequest(const QString& address) {
    QString feedId, key;
    bool star = false;
    if (int page = 0; pane::ParseStarredPage(address, page)) {
        ShowView(page);
        return true;
    }
    if (!pane::ParseStarRequest(address, feedId, key, star)) return false;
    SetStarred(feedId.toStdString(), key.toStdString(), star);
    return true;
}

void TStarController::ToggleStarInView() {
    FHost.StarLinkInView([self = QPointer<TStarController>(this)](const QString& href) {
        if (!self) return;
        if (!self->TakePageRequest(href))
            self->FHost.ShowStatus(LangTextQ("StarNoItem", {}, QStringLiteral("The page shows no item to star.")));
    });
}

void TStarController::AddPageStars(const std::string& feedId, QJsonObject& marks) {
    const QJsonObject labels = Labels();
    for (auto it = labels.begin(); it != labels.end(); ++it) marks.insert(it.key(), it.value());
    marks.insert("feed", Q(feedId));
    items::TItemStore* store = FHost.Store();
    if (!store) return;
    try {
        QJsonArray keys;
        for (const std::string& key : store->StarredKeys(feedId)) keys.append(Q(key));
        if (!keys.isEmpty()) marks.insert("starred", keys);
    } catch (const std::exception&) {
        // The page shows its items unstarred; a star still goes through.
    }
}

// ---------------------------------------------------------------------------
// The Starred view

QString TStarController::ViewFile(int page) const {
    // A file per page: each keeps its own place in the light pane.
    return FViewDir && FViewDir->isValid() ? FViewDir->filePath(QStringLiteral("starred-%1.xml").arg(page)) : QString();
}

bool TStarController::ViewShown() const {
    const QString folder = FViewDir && FViewDir->isValid() ? FViewDir->path() + QLatin1Char('/') : QString();
    return !folder.isEmpty() && FHost.ShownLocation().startsWith(folder);
}

void TStarController::ShowView(int page) {
    if (!FViewDir) FViewDir = std::make_unique<QTemporaryDir>();
    if (!FViewDir->isValid()) {
        FHost.ShowError(LangTextQ("StarredViewFailed", {FViewDir->errorString().toStdString()},
                                  QStringLiteral("The Starred view cannot be shown: %1").arg(FViewDir->errorString())));
        return;
    }
    QJsonObject marks = Labels();
    marks.insert("starredView", true);
    marks.insert("caption", ViewTitle());
    const QString path = ViewFile(page);
    if (!WriteView(path, page, marks)) return;
    FViewPage = page;
    FHost.Navigate(path, marks);
}

bool TStarController::WriteView(const QString& path, int& page, QJsonObject& marks) {
    items::TItemStore* store = FHost.Store();
    std::vector<items::TStarredItem> starred;
    try {
        if (store) {
            FCount = store->StarredCount();
            // A page past the end (stars taken away since) is the last one.
            page = std::clamp(page, 0, std::max(0, (FCount - 1) / kViewPageSize));
            starred = store->StarredItems((page + 1) * kViewPageSize, true);
            starred.erase(starred.begin(),
                          starred.begin() + std::min<std::size_t>(starred.size(), page * kViewPageSize));
            if (FTree) TStarredRow::In(*FTree)->ShowCount(FCount);
        }
        if (page > 0) {
            marks.insert("newerPage", pane::StarredPageAddress(page - 1));
            marks.insert("newerLabel", LangTextQ("StarredNewerPage", {}, QStringLiteral("Newer starred items")));
        }
        if ((page + 1) * kViewPageSize < FCount) {
            const int more = FCount - (page + 1) * kViewPageSize;
            marks.insert("olderPage", pane::StarredPageAddress(page + 1));
            marks.insert("olderLabel", LangTextQ("StarredOlderPage", {more},
                                                 QStringLiteral("Older starred items (%1 more)").arg(more)));
        }

        xml::Document document;
        // The home's stylesheet, as a stored copy names it, wherever the view is.
        const QString stylesheet =
            QUrl::fromLocalFile(QFileInfo(QStringLiteral("rss.xsl")).absoluteFilePath()).toString(QUrl::FullyEncoded);
        document.AppendProcessingInstruction("xml-stylesheet",
                                             "type=\"text/xsl\" href=\"" + stylesheet.toStdString() + "\"");
        xml::Node rss = document.CreateDocumentElement("rss");
        rss.SetAttribute("version", "2.0");
        xml::Node channel = rss.AppendElement("channel");
        AppendText(channel, "title", ViewTitle().toStdString());
        AppendText(
            channel, "description",
            LangTextQ("StarredViewAbout", {}, QStringLiteral("Every starred item, newest star first.")).toStdString());
        for (const items::TStarredItem& each : starred) {
            xml::Node item = channel.AppendElement("item");
            // Read by the page's star links only on this page (TPageMarks::StarredView).
            item.SetAttribute("feed", each.FeedId);
            item.SetAttribute("key", each.Key);
            AppendText(item, "title", each.Title);
            AppendText(item, "link", each.Link);
            AppendText(item, "pubDate", DateText(each));
            AppendText(item, "author", each.Author);
            AppendText(item, "description", each.Body);
            // The feed's name now; a feed deleted since keeps its last one.
            const feedlist::TListEntry* feed = FHost.FeedList ? FHost.FeedList->FindFeed(each.FeedId) : nullptr;
            AppendText(item, "source", feed ? TFeedTree::FeedDisplayText(feed->Feed()).toStdString() : each.FeedTitle);
        }
        document.SaveToFile(path.toStdString());
    } catch (const std::exception& error) {
        FHost.ShowError(LangTextQ("StarredViewFailed", {std::string(error.what())},
                                  QStringLiteral("The Starred view cannot be shown: %1").arg(Q(error.what()))));
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Export

QString TStarController::ExportTo(const QString& file) {
    items::TItemStore* store = FHost.Store();
    if (!store)
        throw std::runtime_error(
            LangTextQ("StarStoreNotOpen", {}, QStringLiteral("Stars need the item store, which is not open yet."))
                .toStdString());
    const feedlist::TFeedList empty;
    const int count = items::ExportStarred(*store, file.toStdString(),
                                           {kHomePageURL, FeedLabels(FHost.FeedList ? *FHost.FeedList : empty)});
    return LangTextQ("StarredExported", {count, file.toStdString()},
                     QStringLiteral("%1 starred items exported to %2").arg(count).arg(file));
}

void TStarController::ExportWithDialog() {
    const QString file = FHost.ChooseExportFile ? FHost.ChooseExportFile() : QString();
    if (file.isEmpty()) return;
    try {
        FHost.ShowStatus(ExportTo(file));
    } catch (const std::exception& error) {
        FHost.ShowError(LangTextQ("StarredExportFailed", {std::string(error.what())},
                                  QStringLiteral("The starred items could not be exported: %1").arg(Q(error.what()))));
    }
}

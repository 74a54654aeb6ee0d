#include "fFindInFeeds.h"

#include <QDateTime>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QVBoxLayout>

#include "SpokenStatus.h"
#include "uvxLanguage.h"
#include "QtText.h"

namespace {

// Results follow the typing after this pause, so a quick typist does not
// search for every letter.
constexpr int kTypingPauseMs = 120;
constexpr int kFeedIdRole = Qt::UserRole;
constexpr int kKeyRole = Qt::UserRole + 1;

using plat::Q;

QString Message(const char* name, const char* fallback) { return LangTextQ(name, {}, QString::fromUtf8(fallback)); }

QString DateOf(const items::TSearchHit& hit) {
    if (!hit.DateUTC) return Q(hit.DateText);
    const QDateTime when = QDateTime::fromSecsSinceEpoch(*hit.DateUTC).toLocalTime();
    return QLocale().toString(when, QLocale::ShortFormat);
}

}  // namespace

TFormFindInFeeds::TFormFindInFeeds(QWidget* parent) : QDialog(parent) {
    setObjectName("FormFindInFeeds");
    setWindowTitle("Find in Feeds");
    setModal(false);
    resize(640, 420);
    auto* layout = new QVBoxLayout(this);
    SearchText = new QLineEdit(this);
    SearchText->setObjectName("SearchText");
    SearchText->setClearButtonEnabled(true);
    layout->addWidget(SearchText);
    StarredOnly = new QCheckBox(QStringLiteral("Starred items only"), this);
    StarredOnly->setObjectName("StarredOnly");
    layout->addWidget(StarredOnly);
    SearchResults = new QTreeWidget(this);
    SearchResults->setObjectName("SearchResults");
    SearchResults->setColumnCount(3);
    SearchResults->setHeaderLabels({Message("SearchColumnFeed", "Feed"), Message("SearchColumnTitle", "Title"),
                                    Message("SearchColumnDate", "Date")});
    SearchResults->setRootIsDecorated(false);
    SearchResults->setUniformRowHeights(true);
    SearchResults->header()->setStretchLastSection(false);
    SearchResults->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    // A date is read whole or not at all.
    SearchResults->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    layout->addWidget(SearchResults);
    ResultCount = new QLabel(this);
    ResultCount->setObjectName("ResultCount");
    ResultCount->setTextFormat(Qt::PlainText);
    layout->addWidget(ResultCount);
    SearchText->installEventFilter(this);

    FPause.setSingleShot(true);
    FPause.setInterval(kTypingPauseMs);
    connect(&FPause, &QTimer::timeout, this, [this] { SearchNow(); });
    connect(SearchText, &QLineEdit::textChanged, this, [this] { FPause.start(); });
    connect(StarredOnly, &QCheckBox::toggled, this, [this] { SearchNow(); });
    connect(SearchText, &QLineEdit::returnPressed, this, [this] {
        if (FPause.isActive()) SearchNow();
        Choose(SearchResults->currentItem() ? SearchResults->indexOfTopLevelItem(SearchResults->currentItem()) : 0);
    });
    connect(SearchResults, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* row, int) { Choose(SearchResults->indexOfTopLevelItem(row)); });
    GlobalLanguage().Translate(this);
}

bool TFormFindInFeeds::eventFilter(QObject* watched, QEvent* event) {
    if (watched == SearchText && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Down || key == Qt::Key_PageDown) {
            // The results of what was typed, not of the text before the pause.
            if (FPause.isActive()) SearchNow();
            if (SearchResults->topLevelItemCount() > 0) {
                if (!SearchResults->currentItem()) SearchResults->setCurrentItem(SearchResults->topLevelItem(0));
                SearchResults->setFocus(Qt::TabFocusReason);
            }
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFormFindInFeeds::SearchNow() {
    FPause.stop();
    SearchResults->clear();
    ResultCount->clear();
    const std::string text = SearchText->text().trimmed().toStdString();
    if (text.empty() || !Search) return;
    std::vector<items::TSearchHit> hits;
    try {
        hits = Search(text, StarredOnly->isChecked());
    } catch (const std::exception& error) {
        // The store failed: nothing to list, and the user is told why.
        ShowResultCount(LangTextQ("SearchFailed", {error.what()},
                                  QStringLiteral("The items could not be searched: %1").arg(error.what())));
        return;
    }
    QList<QTreeWidgetItem*> rows;
    for (const items::TSearchHit& hit : hits) {
        QString caption = FeedCaption ? FeedCaption(hit.FeedId) : Q(hit.FeedId);
        // A starred item of a deleted feed, under the feed's last name; an
        // item without a star of such a feed is on its way out.
        if (caption.isEmpty()) caption = Q(hit.StarredFeedTitle);
        if (caption.isEmpty()) continue;
        auto* row = new QTreeWidgetItem({caption, Q(hit.Title), DateOf(hit)});
        row->setData(0, kFeedIdRole, Q(hit.FeedId));
        row->setData(0, kKeyRole, Q(hit.Key));
        rows.append(row);
    }
    SearchResults->addTopLevelItems(rows);
    if (!rows.isEmpty()) SearchResults->setCurrentItem(rows.front());
    const int found = static_cast<int>(rows.size());
    ShowResultCount(found == 0   ? Message("SearchNothingFound", "Nothing found")
                    : found == 1 ? Message("SearchOneFound", "1 item found")
                                 : LangTextQ("SearchFound", {found}, QStringLiteral("%1 items found").arg(found)));
}

void TFormFindInFeeds::ShowResultCount(const QString& text) {
    ResultCount->setText(text);
    if (TSpokenStatus* spoken = TSpokenStatus::Of(this)) spoken->Answer(text);
}

void TFormFindInFeeds::Choose(int row) {
    QTreeWidgetItem* chosen = SearchResults->topLevelItem(row);
    if (!chosen || !OnChoose) return;
    OnChoose(chosen->data(0, kFeedIdRole).toString().toStdString(), chosen->data(0, kKeyRole).toString().toStdString());
}

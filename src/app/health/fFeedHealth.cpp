#include "fFeedHealth.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

#include "uvxLanguage.h"

namespace {

constexpr int kIdRole = Qt::UserRole;

QString MessageOr(const char* name, const char* english) { return LangTextQ(name, {}, QString::fromUtf8(english)); }

}  // namespace

std::vector<TFormFeedHealth::TAction> ActionsFor(schedule::TAttention attention) {
    using A = TFormFeedHealth::TAction;
    using schedule::TAttention;
    switch (attention) {
        case TAttention::Moved:
            return {A::UseAddress, A::Retry, A::Edit, A::Delete};
        case TAttention::AddressChanged:
            return {A::Undo, A::Keep};
        case TAttention::NotAFeed:
            return {A::FindFeed, A::Retry, A::Edit, A::Delete};
        case TAttention::Silent:
            return {A::Keep, A::Delete};
        case TAttention::Gone:
        case TAttention::NotFound:
        case TAttention::Refused:
        case TAttention::BotProtection:
        case TAttention::Failing:
            return {A::Retry, A::Edit, A::Delete};
        case TAttention::None:
            break;
    }
    return {};
}

TFormFeedHealth::TFormFeedHealth(QWidget* parent) : QDialog(parent) {
    setObjectName("FormFeedHealth");
    setWindowTitle("Feed Health");
    setModal(false);
    resize(760, 400);

    ListFeeds = new QTreeWidget(this);
    ListFeeds->setObjectName("ListFeeds");
    ListFeeds->setColumnCount(2);
    ListFeeds->setHeaderLabels(
        {MessageOr("SearchColumnFeed", "Feed"), MessageOr("HealthColumnCause", "What happened")});
    ListFeeds->setRootIsDecorated(false);
    ListFeeds->setUniformRowHeights(true);
    ListFeeds->header()->setStretchLastSection(true);
    // Feeds of one site share the start of their names and differ at the end.
    ListFeeds->setTextElideMode(Qt::ElideMiddle);

    LabelCause = new QLabel(this);
    LabelCause->setObjectName("LabelCause");
    LabelCause->setWordWrap(true);
    LabelCause->setTextFormat(Qt::PlainText);
    LabelCause->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto button = [this](const char* name, const char* caption) {
        auto* widget = new QPushButton(QString::fromUtf8(caption), this);
        widget->setObjectName(name);
        widget->setAutoDefault(false);
        return widget;
    };
    BtnUseAddress = button("BtnUseAddress", "Use the New Address");
    BtnUndo = button("BtnUndo", "Undo");
    BtnRetry = button("BtnRetry", "Retry");
    BtnEdit = button("BtnEdit", "Edit...");
    BtnDelete = button("BtnDelete", "Delete");
    BtnFindFeed = button("BtnFindFeed", "Find the Feed on This Page...");
    BtnKeep = button("BtnKeep", "Keep");
    BtnClose = button("BtnClose", "Close");
    // Enter closes, as Escape does: every other button acts on one feed.
    BtnClose->setDefault(true);

    auto* actions = new QHBoxLayout;
    for (const TAction action : {TAction::UseAddress, TAction::Undo, TAction::FindFeed, TAction::Keep, TAction::Retry,
                                 TAction::Edit, TAction::Delete}) {
        QPushButton* widget = Button(action);
        actions->addWidget(widget);
        connect(widget, &QPushButton::clicked, this, [this, action] { Act(action); });
    }
    actions->addStretch(1);
    actions->addWidget(BtnClose);
    connect(BtnClose, &QPushButton::clicked, this, &QDialog::close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ListFeeds, 1);
    layout->addWidget(LabelCause);
    layout->addLayout(actions);

    connect(ListFeeds, &QTreeWidget::currentItemChanged, this, [this] { ShowSelected(); });
    GlobalLanguage().Translate(this);
    ShowSelected();
}

QPushButton* TFormFeedHealth::Button(TAction action) const {
    switch (action) {
        case TAction::UseAddress:
            return BtnUseAddress;
        case TAction::Undo:
            return BtnUndo;
        case TAction::Retry:
            return BtnRetry;
        case TAction::Edit:
            return BtnEdit;
        case TAction::Delete:
            return BtnDelete;
        case TAction::FindFeed:
            return BtnFindFeed;
        case TAction::Keep:
            return BtnKeep;
    }
    return nullptr;
}

void TFormFeedHealth::SetRows(std::vector<TRow> rows) {
    const QString selected = Selected() ? Selected()->Id : QString();
    FRows = std::move(rows);
    const QSignalBlocker quiet(ListFeeds);
    ListFeeds->clear();
    QList<QTreeWidgetItem*> items;
    for (const TRow& row : FRows) {
        auto* item = new QTreeWidgetItem({row.Feed, row.Cause});
        item->setData(0, kIdRole, row.Id);
        item->setToolTip(0, row.Feed);
        item->setToolTip(1, row.Cause + (row.Detail.isEmpty() ? QString() : "\n" + row.Detail));
        items.append(item);
    }
    ListFeeds->addTopLevelItems(items);
    // The names whole, as far as half the list allows; the cause takes the rest.
    int nameWidth = 0;
    for (const TRow& row : FRows) nameWidth = std::max(nameWidth, ListFeeds->fontMetrics().horizontalAdvance(row.Feed));
    // Room for the cell's margins.
    nameWidth += 2 * ListFeeds->fontMetrics().averageCharWidth();
    ListFeeds->setColumnWidth(
        0, std::clamp(nameWidth, ListFeeds->header()->minimumSectionSize(), std::max(ListFeeds->width() / 2, 320)));
    if (!Select(selected) && !items.isEmpty()) ListFeeds->setCurrentItem(items.front());
    ShowSelected();
}

bool TFormFeedHealth::Select(const QString& id) {
    if (id.isEmpty()) return false;
    for (int i = 0; i < ListFeeds->topLevelItemCount(); ++i) {
        if (ListFeeds->topLevelItem(i)->data(0, kIdRole).toString() == id) {
            ListFeeds->setCurrentItem(ListFeeds->topLevelItem(i));
            return true;
        }
    }
    return false;
}

const TFormFeedHealth::TRow* TFormFeedHealth::Selected() const {
    const QTreeWidgetItem* item = ListFeeds ? ListFeeds->currentItem() : nullptr;
    if (!item) return nullptr;
    const QString id = item->data(0, kIdRole).toString();
    const auto found = std::find_if(FRows.begin(), FRows.end(), [&](const TRow& row) { return row.Id == id; });
    return found == FRows.end() ? nullptr : &*found;
}

void TFormFeedHealth::ShowSelected() {
    const TRow* row = Selected();
    LabelCause->setText(row ? row->Cause + (row->Detail.isEmpty() ? QString() : "\n" + row->Detail) : QString());
    const std::vector<TAction> offered = ActionsFor(row ? row->Attention : schedule::TAttention::None);
    for (const TAction action : {TAction::UseAddress, TAction::Undo, TAction::Retry, TAction::Edit, TAction::Delete,
                                 TAction::FindFeed, TAction::Keep}) {
        const bool shown = std::find(offered.begin(), offered.end(), action) != offered.end();
        Button(action)->setVisible(shown);
        Button(action)->setEnabled(shown);
    }
}

void TFormFeedHealth::Act(TAction action) {
    const TRow* row = Selected();
    if (!row || !Button(action)->isEnabled() || !OnAction) return;
    // The handler may replace the rows: the id is copied first.
    const QString id = row->Id;
    OnAction(id, action);
}

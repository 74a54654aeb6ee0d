#include "ShortcutPage.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "uvxLanguage.h"

namespace {

constexpr int kNameRole = Qt::UserRole;

}  // namespace

// ---------------------------------------------------------------------------
// TKeyCapture

TKeyCapture::TKeyCapture(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
    setContextMenuPolicy(Qt::NoContextMenu);
}

bool TKeyCapture::Passes(int key, Qt::KeyboardModifiers modifiers) {
    modifiers &= ~Qt::KeypadModifier;
    switch (key) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return true;
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return modifiers == Qt::NoModifier;
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Meta:
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
        case Qt::Key_unknown:
            return true;  // a modifier alone is no shortcut yet
        default:
            return false;
    }
}

bool TKeyCapture::event(QEvent* event) {
    // The key is the field's, not the shortcut of whatever holds it now.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (!Passes(key->key(), key->modifiers())) {
            event->accept();
            return true;
        }
    }
    return QLineEdit::event(event);
}

void TKeyCapture::keyPressEvent(QKeyEvent* event) {
    if (Passes(event->key(), event->modifiers())) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    emit captured(QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(event->key()))));
    event->accept();
}

// ---------------------------------------------------------------------------
// TShortcutPage

QString TShortcutPage::KeysText(const TShortcutMap::TKeys& keys) {
    // Every key of an action, as its menu would write each one.
    QStringList texts;
    for (const QKeySequence& sequence : keys)
        if (!sequence.isEmpty()) texts << sequence.toString(QKeySequence::NativeText);
    return texts.join(QStringLiteral(", "));
}

TShortcutPage::TShortcutPage(const TShortcutMap& map, std::function<QString(const QString&)> caption, QWidget* parent)
    : QWidget(parent), FMap(map), FCaption(std::move(caption)) {
    setObjectName("ShortcutPage");
    FList = new QTreeWidget(this);
    FList->setObjectName("ShortcutList");
    FList->setColumnCount(2);
    FList->setHeaderLabels({LangTextQ("ShortcutColumnAction", {}, QStringLiteral("Action")),
                            LangTextQ("ShortcutColumnKeys", {}, QStringLiteral("Shortcut"))});
    FList->setRootIsDecorated(false);
    FList->setAllColumnsShowFocus(true);
    FList->setSelectionMode(QAbstractItemView::SingleSelection);
    FList->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    FList->header()->setStretchLastSection(false);
    FList->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);

    std::vector<std::pair<QString, QString>> rows;
    for (const TShortcutMap::TEntry& entry : FMap.Entries())
        if (!entry.Fixed) rows.emplace_back(FCaption(entry.Name), entry.Name);
    std::sort(rows.begin(), rows.end(),
              [](const auto& a, const auto& b) { return QString::localeAwareCompare(a.first, b.first) < 0; });
    for (const auto& [text, name] : rows) {
        auto* row = new QTreeWidgetItem(FList, {text, QString()});
        row->setData(0, kNameRole, name);
    }

    auto* label = new QLabel(LangTextQ("ShortcutKeysLabel", {}, QStringLiteral("&Press the new keys:")), this);
    FKeys = new TKeyCapture(this);
    FKeys->setObjectName("ShortcutKeys");
    label->setBuddy(FKeys);
    auto button = [this](const char* name, const char* text, const QString& fallback) {
        auto* b = new QPushButton(LangTextQ(text, {}, fallback), this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        return b;
    };
    FClear = button("ShortcutClearBtn", "ShortcutClear", QStringLiteral("&Clear"));
    FReset = button("ShortcutResetBtn", "ShortcutReset", QStringLiteral("&Reset"));
    FResetAll = button("ShortcutResetAllBtn", "ShortcutResetAll", QStringLiteral("Reset A&ll"));
    FMessage = new QLabel(this);
    FMessage->setObjectName("ShortcutMessage");
    FMessage->setWordWrap(true);

    auto* edit = new QHBoxLayout;
    edit->addWidget(label);
    edit->addWidget(FKeys, 1);
    edit->addWidget(FClear);
    edit->addWidget(FReset);
    auto* foot = new QHBoxLayout;
    foot->addWidget(FMessage, 1);
    foot->addWidget(FResetAll);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(FList, 1);
    layout->addLayout(edit);
    layout->addLayout(foot);

    connect(FList, &QTreeWidget::currentItemChanged, this, [this] {
        FMessage->clear();
        Refresh();
    });
    connect(FKeys, &TKeyCapture::captured, this, [this](const QKeySequence& keys) { Take(keys); });
    connect(FClear, &QPushButton::clicked, this, [this] { Show(FMap.Set(Current(), {}), {}); });
    connect(FReset, &QPushButton::clicked, this, [this] {
        const TShortcutMap::TEntry* entry = FMap.Find(Current());
        if (entry) Show(FMap.Reset(Current()), entry->Defaults);
    });
    connect(FResetAll, &QPushButton::clicked, this, [this] {
        FMap.ResetAll();
        Show(std::nullopt, {});
    });
    if (FList->topLevelItemCount() > 0) FList->setCurrentItem(FList->topLevelItem(0));
    Refresh();
}

QString TShortcutPage::Current() const {
    const QTreeWidgetItem* row = FList->currentItem();
    return row ? row->data(0, kNameRole).toString() : QString();
}

void TShortcutPage::SelectAction(const QString& name) {
    for (int i = 0; i < FList->topLevelItemCount(); ++i)
        if (FList->topLevelItem(i)->data(0, kNameRole).toString() == name)
            FList->setCurrentItem(FList->topLevelItem(i));
}

QString TShortcutPage::Message() const { return FMessage->text(); }

void TShortcutPage::Take(const QKeySequence& keys) { Show(FMap.Set(Current(), {keys}), {keys}); }

void TShortcutPage::Show(const std::optional<QString>& holder, const TShortcutMap::TKeys& keys) {
    if (holder)
        FMessage->setText(
            LangTextQ("ShortcutTaken", {KeysText(keys).toStdString(), FCaption(*holder).toStdString()},
                      QStringLiteral("%1 is already used by \"%2\".").arg(KeysText(keys), FCaption(*holder))));
    else
        FMessage->clear();
    Refresh();
}

void TShortcutPage::Refresh() {
    for (int i = 0; i < FList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = FList->topLevelItem(i);
        row->setText(1, KeysText(FMap.Keys(row->data(0, kNameRole).toString())));
    }
    const QString name = Current();
    FKeys->setText(KeysText(FMap.Keys(name)));
    const bool editable = !name.isEmpty();
    FClear->setEnabled(editable && !FMap.Keys(name).isEmpty());
    FReset->setEnabled(editable && !FMap.IsDefault(name));
    // Where the message goes too: a screen reader hears it from the field.
    FKeys->setAccessibleDescription(FMessage->text());
}

#include "OptionsPanel.h"

#include <algorithm>
#include <set>

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "Convert.h"
#include "Options.h"
#include "Text.h"

namespace {

// Rows start this far down a page, leaving room for a group's caption, and
// this far in from its left edge.
constexpr int kFirstRowTop = 30;
constexpr int kRowLeft = 20;
constexpr int kRowGap = 2;
constexpr int kPageBottomMargin = 30;
// A row's editor stands this far right of its label's left edge.
constexpr int kEditorOffset = 100;
// Labels are shorter than editors: moving them down lines up the texts.
constexpr int kLabelDrop = 3;
// Room a framed page keeps between its rows and its frame.
constexpr int kFrameMargin = 9;

constexpr int kPageIndexRole = Qt::UserRole;

QString ToQ(const std::string& text) { return QString::fromStdString(text); }

std::string AttributeText(const xml::Node& node, std::string_view name) {
    return node.Attribute(name).value_or(std::string());
}

// The dialog names its pages and labels after the elements of struct.xml,
// and those names are looked up again (by translations, by tests, by the
// person reading a bug report), so they must be identifiers.
bool IsIdentifier(std::string_view name) {
    auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (name.empty() || !isLetter(name.front())) return false;
    return std::all_of(name.begin() + 1, name.end(), [&](char c) { return isLetter(c) || isDigit(c); });
}

bool IsElement(const xml::Node& node) { return !node.IsNull() && node.IsElement(); }

// "net\proxy\Host": where an element stands in struct.xml, for messages.
// The root element's name is left out, as in every option path.
std::string ElementPath(const xml::Node& node) {
    std::string path = node.Name();
    for (xml::Node parent = node.Parent(); IsElement(parent) && IsElement(parent.Parent()); parent = parent.Parent()) {
        path = parent.Name() + "\\" + path;
    }
    return path;
}

void RequireIdentifier(const xml::Node& node, const char* what) {
    if (!IsIdentifier(node.Name())) {
        throw EOptionsStructure("Invalid " + std::string(what) + " name \"" + ElementPath(node) +
                                "\" in struct.xml: a name must start with a letter or an underscore and "
                                "hold only letters, digits and underscores");
    }
}

int IndexOfName(const std::vector<std::string>& names, std::string_view name) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (plat::EqualsNoCase(names[i], name)) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

// ---------------------------------------------------------------------------
// OptionTypes

const std::vector<std::string>& OptionTypes() {
    static const std::vector<std::string> types{"string", "choice", "password", "group", "bool"};
    return types;
}

int OptionTypeIndex(std::string_view type) {
    const auto& types = OptionTypes();
    for (std::size_t i = 0; i < types.size(); ++i) {
        if (plat::EqualsNoCase(types[i], type)) return static_cast<int>(i);
    }
    return -1;
}

// ---------------------------------------------------------------------------
// TOptionsControl

TOptionsControl::TOptionsControl(TOptionsPage* page, xml::Node configNode, xml::Node structNode)
    : FPage(page), FConfigNode(configNode), FStructNode(structNode) {
    FEditorOffset = kEditorOffset;
    FCaptionLabel = new QLabel(ToQ(AttributeText(FStructNode, "caption")), FPage);
    FCaptionLabel->setObjectName(ToQ(FStructNode.Name()));
    FCaptionLabel->adjustSize();

    const auto type = FStructNode.Attribute("type");
    FKind = type ? OptionTypeIndex(*type) : -1;
    switch (FKind) {
        case okChoice:
            CreateChoiceEditor();
            break;
        case okGroup:
            CreateGroupEditor();
            break;
        case okBool:
            CreateBoolEditor();
            break;
        default:
            CreateEditEditor();
            break;
    }
    // The caption names its field to a screen reader (and gives it an Alt
    // key where the caption has one).
    if (FKind != okGroup && FKind != okBool) FCaptionLabel->setBuddy(FEditor);
}

void TOptionsControl::CreateChoiceEditor() {
    auto* combo = new QComboBox(FPage);
    for (const xml::Node& choice : FStructNode.ChildElements()) {
        combo->addItem(ToQ(AttributeText(choice, "caption")));
        FChoiceNames.push_back(choice.Name());
    }
    combo->setEditable(AttributeText(FStructNode, "custom") == "true");
    // Typed text must never become an entry: the entries run parallel to
    // ChoiceNames.
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCurrentIndex(IndexOfName(FChoiceNames, AttributeText(FStructNode, "default")));
    combo->resize(combo->sizeHint());
    FEditor = combo;
}

void TOptionsControl::CreateGroupEditor() {
    auto* group = new TOptionsPage(FPage);
    group->SetStructNode(FStructNode);
    group->SetConfigNode(FConfigNode);
    group->SetCaption(ToQ(AttributeText(FStructNode, "caption")));
    group->SetFramed(true);
    FEditor = group;
    // The frame carries the caption.
    HideLabel();
    group->BuildControls();
}

void TOptionsControl::CreateBoolEditor() {
    auto* check = new QCheckBox(FPage);
    const auto showLabel = FStructNode.Attribute("showlabel");
    if (showLabel && plat::TryStrToBool(*showLabel) == std::optional<bool>(false)) {
        HideLabel();
        check->setText(ToQ(AttributeText(FStructNode, "caption")));
    }
    check->resize(check->sizeHint());
    FEditor = check;
}

void TOptionsControl::CreateEditEditor() {
    auto* edit = new QLineEdit(FPage);
    if (FKind == okPassword) {
        edit->setEchoMode(QLineEdit::Password);
        // The same mask on every desktop, whatever the style would draw.
        edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    }
    edit->resize(edit->sizeHint());
    FEditor = edit;
}

void TOptionsControl::HideLabel() {
    FEditorOffset = 0;
    FCaptionLabel->hide();
}

void TOptionsControl::SetLeft(int x) {
    FCaptionLabel->move(x, FCaptionLabel->y());
    FEditor->move(x + FEditorOffset, FEditor->y());
}

void TOptionsControl::SetTop(int y) {
    FCaptionLabel->move(FCaptionLabel->x(), y + kLabelDrop);
    FEditor->move(FEditor->x(), y);
}

int TOptionsControl::Height() const { return FEditor->height(); }

void TOptionsControl::ReadValue() {
    switch (FKind) {
        case okChoice:
            ReadChoice();
            break;
        case okGroup:
            static_cast<TOptionsPage*>(FEditor)->LoadValues();
            break;
        case okBool:
            // A missing or garbled value must not keep the dialog from opening:
            // it shows unticked, and the next apply stores a proper Boolean.
            static_cast<QCheckBox*>(FEditor)->setChecked(plat::TryStrToBool(FConfigNode.Text()).value_or(false));
            break;
        default:
            static_cast<QLineEdit*>(FEditor)->setText(ToQ(FConfigNode.Text()));
            break;
    }
}

void TOptionsControl::WriteValue() {
    switch (FKind) {
        case okChoice:
            WriteChoice();
            break;
        case okGroup:
            static_cast<TOptionsPage*>(FEditor)->StoreValues();
            break;
        case okBool:
            FConfigNode.SetText(plat::BoolToStr(static_cast<QCheckBox*>(FEditor)->isChecked()));
            break;
        default:
            FConfigNode.SetText(static_cast<QLineEdit*>(FEditor)->text().toStdString());
            break;
    }
}

void TOptionsControl::ReadChoice() {
    auto* combo = static_cast<QComboBox*>(FEditor);
    const std::string stored = FConfigNode.Text();
    const int index = IndexOfName(FChoiceNames, stored);
    combo->setCurrentIndex(index);
    // A free text stored earlier stays in the box, so applying again keeps
    // it instead of wiping it.
    if (index < 0 && combo->isEditable()) combo->setEditText(ToQ(stored));
}

void TOptionsControl::WriteChoice() {
    auto* combo = static_cast<QComboBox*>(FEditor);
    const int index = combo->currentIndex();
    const bool valid = index >= 0 && static_cast<std::size_t>(index) < FChoiceNames.size();
    if (!combo->isEditable()) {
        // Nothing picked (the stored text named no choice): keep what is
        // stored rather than inventing a value.
        if (valid) FConfigNode.SetText(FChoiceNames[static_cast<std::size_t>(index)]);
        return;
    }
    // In a box that takes free text the current index can lag behind what
    // was typed, so the text decides: an entry's caption stores that
    // entry's name, anything else is stored as typed.
    const QString text = combo->currentText();
    if (valid && combo->itemText(index) == text) {
        FConfigNode.SetText(FChoiceNames[static_cast<std::size_t>(index)]);
        return;
    }
    const int typed = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (typed >= 0 && static_cast<std::size_t>(typed) < FChoiceNames.size()) {
        FConfigNode.SetText(FChoiceNames[static_cast<std::size_t>(typed)]);
    } else {
        FConfigNode.SetText(text.toStdString());
    }
}

// ---------------------------------------------------------------------------
// TOptionsPage

TOptionsPage::TOptionsPage(QWidget* parent) : QWidget(parent) {}

TOptionsPage::~TOptionsPage() = default;

void TOptionsPage::SetFramed(bool framed) {
    FFramed = framed;
    update();
}

void TOptionsPage::SetCaption(const QString& caption) {
    FCaption = caption;
    update();
}

void TOptionsPage::BuildControls() {
    std::set<std::string> names;
    int y = kFirstRowTop;
    int right = 0;
    for (const xml::Node& option : FStructNode.Children()) {
        // Comments and stray text in a page are notes for the reader of
        // struct.xml, not options.
        if (!option.IsElement()) continue;
        RequireIdentifier(option, "option");
        if (!names.insert(option.Name()).second) {
            throw EOptionsStructure("Duplicate option \"" + ElementPath(option) +
                                    "\" in struct.xml: option names must be unique within their page or group");
        }
        auto row = std::make_unique<TOptionsControl>(this, FConfigNode.ChildByNameOrCreate(option.Name()), option);
        row->SetLeft(kRowLeft);
        row->SetTop(y);
        y += row->Height() + kRowGap;
        const QWidget* label = row->CaptionLabel();
        if (!label->isHidden()) right = std::max(right, label->geometry().right() + 1);
        right = std::max(right, row->Editor()->geometry().right() + 1);
        FRows.push_back(std::move(row));
    }
    FContentSize = QSize(right + kRowLeft, y + kPageBottomMargin);
    resize(FContentSize);
    if (FFramed) FitFrameToRows();
}

// A group box is as large as its rows and no larger, so groups stack on
// their page like any other row.
void TOptionsPage::FitFrameToRows() {
    QRect bounds;
    for (const auto& row : FRows) {
        if (!row->CaptionLabel()->isHidden()) bounds |= row->CaptionLabel()->geometry();
        bounds |= row->Editor()->geometry();
    }
    const int captionWidth = fontMetrics().horizontalAdvance(FCaption) + 2 * kRowLeft;
    const int width = std::max(bounds.right() + 1 + kFrameMargin, captionWidth);
    const int height = bounds.isNull() ? kFirstRowTop : bounds.bottom() + 1 + kFrameMargin;
    FContentSize = QSize(width, height);
    resize(FContentSize);
}

void TOptionsPage::LoadValues() {
    for (const auto& row : FRows) row->ReadValue();
}

void TOptionsPage::StoreValues() {
    for (const auto& row : FRows) row->WriteValue();
}

void TOptionsPage::paintEvent(QPaintEvent* event) {
    if (!FFramed) {
        QWidget::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionGroupBox option;
    option.initFrom(this);  // enabled state, direction, palette
    option.rect = rect();
    option.text = FCaption;
    option.textAlignment = Qt::AlignLeft;
    option.textColor = palette().color(QPalette::WindowText);
    option.lineWidth = 1;
    option.midLineWidth = 0;
    option.features = QStyleOptionFrame::None;
    option.subControls = QStyle::SC_GroupBoxFrame;
    if (!FCaption.isEmpty()) option.subControls |= QStyle::SC_GroupBoxLabel;
    style()->drawComplexControl(QStyle::CC_GroupBox, &option, &painter, this);
}

// ---------------------------------------------------------------------------
// TOptionsPanel

TOptionsPanel::TOptionsPanel(QWidget* parent) : QWidget(parent) {
    FTreeView = new QTreeWidget(this);
    FTreeView->setObjectName(QStringLiteral("OptionsTreeView"));
    FTreeView->setColumnCount(1);
    FTreeView->setHeaderHidden(true);
    FTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FTreeView->setSelectionMode(QAbstractItemView::SingleSelection);
    FTreeView->setSelectionBehavior(QAbstractItemView::SelectRows);
    FTreeView->setAllColumnsShowFocus(true);
    // One column as wide as the tree: long captions are shortened with an
    // ellipsis (their tool tip shows them whole) instead of scrolling.
    FTreeView->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    FTreeView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FTreeView->setTextElideMode(Qt::ElideRight);
    FTreeView->setFixedWidth(FTreeWidth);
    connect(FTreeView, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { TreeViewChange(current); });

    FNoteBook = new QStackedWidget(this);
    FNoteBook->setObjectName(QStringLiteral("OptionsNoteBook"));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(FTreeView);
    layout->addWidget(FNoteBook, 1);
}

TOptionsPanel::~TOptionsPanel() = default;

int TOptionsPanel::TreeWidth() const { return FTreeView ? FTreeWidth : 0; }

void TOptionsPanel::SetTreeWidth(int width) {
    FTreeWidth = std::max(0, width);
    FTreeView->setFixedWidth(FTreeWidth);
    // A tree of no width still holds the entries and the selection; hidden,
    // it also takes no keyboard focus.
    FTreeView->setVisible(FTreeWidth > 0);
    updateGeometry();
}

int TOptionsPanel::PageIndex(const QTreeWidgetItem* item) { return item ? item->data(0, kPageIndexRole).toInt() : -1; }

void TOptionsPanel::SetOptions(TOptions* options) {
    Clear();
    FOptions = options;
    if (!FOptions) return;
    try {
        BuildTree(nullptr, xml::Node(), xml::Node());
    } catch (...) {
        Clear();
        throw;
    }
}

void TOptionsPanel::Clear() {
    FTreeView->clear();
    FPages.clear();
    while (FNoteBook->count() > 0) {
        QWidget* page = FNoteBook->widget(0);
        FNoteBook->removeWidget(page);
        delete page;
    }
}

void TOptionsPanel::BuildTree(QTreeWidgetItem* parent, xml::Node structNode, xml::Node configNode) {
    if (structNode.IsNull()) structNode = FOptions->GetStructNode("\\");
    if (configNode.IsNull()) configNode = FOptions->GetConfigNode("\\");

    for (const xml::Node& element : structNode.ChildElements()) {
        const auto type = element.Attribute("type");
        if (type == "internal") continue;

        auto* entry = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(FTreeView);
        entry->setText(0, ToQ(AttributeText(element, "caption")));
        entry->setToolTip(0, entry->text(0));
        entry->setData(0, kPageIndexRole, 0);
        if (type == "folder") {
            entry->setData(0, kPageIndexRole, -1);
            BuildTree(entry, element, configNode.ChildByNameOrCreate(element.Name()));
        } else if (type == "page") {
            AddPage(entry, element, configNode.ChildByNameOrCreate(element.Name()));
        }
    }

    if (structNode == FOptions->StructDocument().DocumentElement()) {
        FTreeView->expandAll();
        if (FTreeView->topLevelItemCount() > 0) {
            FTreeView->setCurrentItem(FTreeView->topLevelItem(0));
            TreeViewChange(FTreeView->currentItem());
        }
        updateGeometry();
    }
}

void TOptionsPanel::AddPage(QTreeWidgetItem* entry, xml::Node structNode, xml::Node configNode) {
    RequireIdentifier(structNode, "page");
    const std::string name = structNode.Name();
    for (const TOptionsPage* page : FPages) {
        if (page->StructNode().Name() == name) {
            throw EOptionsStructure("Duplicate page \"" + ElementPath(structNode) + "\" in struct.xml (\"" +
                                    ElementPath(page->StructNode()) +
                                    "\" has the same name): page names must be unique in the whole structure");
        }
    }

    auto* sheet = new QWidget;
    sheet->setObjectName(ToQ(name));
    sheet->setWindowTitle(ToQ(name));
    entry->setData(0, kPageIndexRole, FNoteBook->addWidget(sheet));

    // A page taller or wider than the dialog scrolls instead of hiding its
    // last rows.
    auto* scroller = new QScrollArea(sheet);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidgetResizable(true);
    auto* sheetLayout = new QVBoxLayout(sheet);
    sheetLayout->setContentsMargins(0, 0, 0, 0);
    sheetLayout->addWidget(scroller);

    auto* page = new TOptionsPage(sheet);
    page->setObjectName(ToQ(name + "Page"));
    page->SetStructNode(structNode);
    page->SetConfigNode(configNode);
    page->SetCaption(ToQ(AttributeText(structNode, "caption")));
    page->BuildControls();
    page->LoadValues();
    scroller->setWidget(page);
    FPages.push_back(page);
}

void TOptionsPanel::TreeViewChange(QTreeWidgetItem* current) {
    if (!current) return;
    const int index = PageIndex(current);
    if (index != -1) FNoteBook->setCurrentIndex(index);
}

void TOptionsPanel::ApplyChanges() {
    if (!FOptions) return;
    for (TOptionsPage* page : FPages) page->StoreValues();
    FOptions->Save();
}

QSize TOptionsPanel::sizeHint() const {
    QSize pages(0, 0);
    for (const TOptionsPage* page : FPages) pages = pages.expandedTo(page->ContentSize());
    const int tree = FTreeView->isHidden() ? 0 : FTreeWidth + layout()->spacing();
    return QSize(tree + pages.width(), std::max(pages.height(), FTreeView->isHidden() ? 0 : 100));
}

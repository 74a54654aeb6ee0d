#include "FeedTree.h"

#include <QDropEvent>
#include <QMimeData>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>
#include <QUrl>

#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "Convert.h"
#include "QtText.h"
#include "RowSpeech.h"

namespace {

using plat::Q;

// What a feed's row shows: the caption, followed by the unread count while
// there are unread items.
struct TNodeCaption {
    QString Text;
    bool Unread = false;
    // The caption is empty and the address stands in for it; the text as
    // the caption alone makes it, for the label editor.
    std::optional<QString> CaptionText;
};

// A feed without a name yet (never fetched, or failing) is shown by its
// address, as host and path, so that no row of the tree is blank; the
// stored caption stays empty until the feed's own title fills it.
QString AddressStandIn(const std::string& url) {
    const QUrl address(Q(url));
    if (address.host().isEmpty()) return Q(url);
    QString text = address.host();
    if (address.port() != -1) text += ':' + QString::number(address.port());
    return text + address.path();
}

TNodeCaption NodeCaption(const feedlist::TFeedEntry& feed) {
    const std::string& caption = feed.Caption;
    const bool hasUnread = feed.Unread != 0;
    const std::string suffix = hasUnread ? " (" + std::to_string(feed.Unread) + ")" : "";
    if (caption.empty()) {
        const QString standIn = AddressStandIn(feed.Url);
        if (!standIn.isEmpty()) return {standIn + Q(suffix), hasUnread, Q(suffix)};
    }
    return {Q(caption + suffix), hasUnread, std::nullopt};
}

bool FromOutside(const QDropEvent* event, const QObject* self) {
    return event->source() != self && (event->mimeData()->hasUrls() || event->mimeData()->hasText());
}

}  // namespace

QVariant TListRow::data(int column, int role) const {
    if (column == 0 && role == Qt::DecorationRole) return FStateIcon.isNull() ? FIcon : FStateIcon;
    // Asked only while a screen reader listens, and only for rows it reads.
    if (column == 0 && role == Qt::AccessibleTextRole) {
        using TKind = rowspeech::TRowFacts::TKind;
        rowspeech::TRowFacts facts;
        if (const feedlist::TFeedEntry* feed = TFeedTree::FeedOf(this)) {
            facts.Name = TFeedTree::FeedName(*feed);
            facts.Unread = feed->Unread;
            facts.Failure = FFailure;
            facts.Attention = FAttention;
        } else {
            facts.Kind = TFeedTree::IsFolderNode(this) ? TKind::Folder : TKind::Root;
            facts.Name = facts.Kind == TKind::Folder ? Q(Entry().Caption()) : text(0);
            facts.Unread = TFeedTree::UnreadUnder(this);
            TFeedTree::Walk(this, [&facts](QTreeWidgetItem* each) { facts.Feeds += TFeedTree::IsFeedNode(each); });
            facts.Failure = FFailure;
        }
        return rowspeech::SpokenName(facts);
    }
    if (column == 0 && role == Qt::AccessibleDescriptionRole && !FToolTip.isEmpty()) return FToolTip;
    if (column == 0 && role == Qt::ToolTipRole && !FToolTip.isEmpty()) return FToolTip;
    if (column == 0 && role == Qt::EditRole)
        if (std::optional<QString> text = EditText()) return *text;
    return QTreeWidgetItem::data(column, role);
}

TFeedTree::TFeedTree(QWidget* parent) : QTreeWidget(parent) {
    // Every feed row shows the same icon: one shared icon instead of one
    // per row, each of which would parse the SVG again.
    FFeedIcon = Icon(":/icons/feed.svg");
    FRootIcon = Icon(":/icons/root.svg");
    FFolderIcon = Icon(":/icons/folder.svg");
    QAbstractItemModel* rows = model();
    const auto listChanged = [this] { NoteListChanged(); };
    connect(rows, &QAbstractItemModel::rowsInserted, this, listChanged);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, listChanged);
    connect(rows, &QAbstractItemModel::rowsMoved, this, listChanged);
    connect(rows, &QAbstractItemModel::modelReset, this, listChanged);
    connect(rows, &QAbstractItemModel::layoutChanged, this, listChanged);
}

QIcon TFeedTree::Icon(const QString& path) const {
    // Painting a row asks its icon for its size and its pixmap; an SVG icon
    // answers both through its renderer and cache, which was half the cost
    // of painting a row. The icons are drawn once, at the tree's icon size
    // for this screen and for a screen of twice the density.
    const QIcon drawing(path);
    const int metric = style()->pixelMetric(QStyle::PM_SmallIconSize);
    const QSize size = iconSize().isValid() ? iconSize() : QSize(metric, metric);
    const qreal density = devicePixelRatioF();
    QIcon icon;
    icon.addPixmap(drawing.pixmap(size, density));
    if (density < 2) icon.addPixmap(drawing.pixmap(size, 2));
    return icon;
}

// ---------------------------------------------------------------------------
// Dragging and dropping

void TFeedTree::dragEnterEvent(QDragEnterEvent* event) {
    if (FromOutside(event, this)) {
        event->acceptProposedAction();
        return;
    }
    QTreeWidget::dragEnterEvent(event);
}

void TFeedTree::dragMoveEvent(QDragMoveEvent* event) {
    if (FromOutside(event, this)) {
        event->acceptProposedAction();
        return;
    }
    QTreeWidget::dragMoveEvent(event);
}

void TFeedTree::dropEvent(QDropEvent* event) {
    if (FromOutside(event, this)) {
        const QMimeData* data = event->mimeData();
        const QString text = data->hasUrls() && !data->urls().isEmpty()
                                 ? (data->urls().front().isLocalFile() ? data->urls().front().toLocalFile()
                                                                       : data->urls().front().toString())
                                 : data->text();
        event->acceptProposedAction();
        if (OnDropFromOutside) QTimer::singleShot(0, this, [this, text] { OnDropFromOutside(text); });
        return;
    }
    QTreeWidgetItem* dragged = currentItem();
    QTreeWidgetItem* target = itemAt(event->position().toPoint());
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
    if (!dragged || !OnMove) return;
    QTreeWidgetItem* parent = nullptr;
    int index = -1;
    switch (dropIndicatorPosition()) {
        case OnItem:
            if (target && target->type() == TFeedNode::kType) {
                parent = target->parent();
                index = parent->indexOfChild(target) + 1;
            } else {
                parent = target;
            }
            break;
        case AboveItem:
        case BelowItem:
            if (!target || !target->parent()) {
                parent = target;
                index = dropIndicatorPosition() == AboveItem ? 0 : -1;
            } else {
                parent = target->parent();
                index = parent->indexOfChild(target) + (dropIndicatorPosition() == BelowItem ? 1 : 0);
            }
            break;
        case OnViewport:
            parent = RootNode();
            break;
    }
    // Only into the list's rows: the view's own rows hold nothing.
    if (EntryOf(parent)) OnMove(dragged, parent, index);
}

// ---------------------------------------------------------------------------
// The rows

TFeedTree::~TFeedTree() {
    if (FList) FList->RemoveObserver(this);
}

void TFeedTree::Follow(feedlist::TFeedList* list) {
    if (FList) FList->RemoveObserver(this);
    FList = list;
    if (FList) FList->AddObserver(this);
    ListReset();
}

const feedlist::TListEntry* TFeedTree::EntryOf(const QTreeWidgetItem* node) {
    if (!node || node->type() < TFeedNode::kType || node->type() > TRootNode::kType) return nullptr;
    return &static_cast<const TListRow*>(node)->Entry();
}

const feedlist::TFeedEntry* TFeedTree::FeedOf(const QTreeWidgetItem* node) {
    return IsFeedNode(node) ? &static_cast<const TFeedNode*>(node)->Feed() : nullptr;
}

QTreeWidgetItem* TFeedTree::RowOf(const feedlist::TListEntry* entry) const {
    const auto found = FRows.find(entry);
    return found == FRows.end() ? nullptr : found->second;
}

std::string TFeedTree::FeedIdOf(const QTreeWidgetItem* node) {
    const feedlist::TFeedEntry* feed = FeedOf(node);
    return feed ? feedlist::IdText(*feed) : std::string();
}

bool TFeedTree::IsUnder(const QTreeWidgetItem* node, const QTreeWidgetItem* ancestor) {
    for (const QTreeWidgetItem* up = node; up; up = up->parent())
        if (up == ancestor) return true;
    return false;
}

void TFeedTree::Walk(const QTreeWidgetItem* node, const std::function<void(QTreeWidgetItem*)>& visit) {
    // Without recursion: folders nest as deep as a hand-edited or imported
    // list makes them.
    if (!node) return;
    std::vector<QTreeWidgetItem*> pending{const_cast<QTreeWidgetItem*>(node)};
    while (!pending.empty()) {
        QTreeWidgetItem* current = pending.back();
        pending.pop_back();
        visit(current);
        for (int i = current->childCount() - 1; i >= 0; --i) pending.push_back(current->child(i));
    }
}

QTreeWidgetItem* TFeedTree::TargetFolder(QTreeWidgetItem* node) const {
    if (!node) return RootNode();
    if (IsFolderNode(node) || node == RootNode()) return node;
    return node->parent() ? node->parent() : RootNode();
}

QTreeWidgetItem* TFeedTree::FindFeedNodeById(const std::string& id) const {
    return FList ? RowOf(FList->FindFeed(id)) : nullptr;
}

std::vector<QTreeWidgetItem*> TFeedTree::FeedNodesUnder(QTreeWidgetItem* node) const {
    std::vector<QTreeWidgetItem*> feeds;
    Walk(node, [&feeds](QTreeWidgetItem* each) {
        if (IsFeedNode(each)) feeds.push_back(each);
    });
    return feeds;
}

std::vector<std::string> TFeedTree::FeedIdsUnder(const std::vector<QTreeWidgetItem*>& nodes) const {
    std::vector<std::string> ids;
    std::unordered_set<const QTreeWidgetItem*> seen;
    for (QTreeWidgetItem* node : nodes) {
        for (QTreeWidgetItem* feed : FeedNodesUnder(node))
            if (seen.insert(feed).second) ids.push_back(FeedIdOf(feed));
    }
    return ids;
}

long long TFeedTree::UnreadUnder(const QTreeWidgetItem* node) {
    // Counted over the rows, not the entries: a row leaves before its
    // entry does, and the sums follow the rows.
    long long sum = 0;
    Walk(node, [&sum](QTreeWidgetItem* each) {
        if (const feedlist::TFeedEntry* feed = FeedOf(each)) sum += feed->Unread;
    });
    return sum;
}

QTreeWidgetItem* TFeedTree::NewRow(const feedlist::TListEntry& entry) {
    QTreeWidgetItem* row = nullptr;
    if (entry.IsFeed()) {
        row = new TFeedNode(entry, FFeedIcon);
        row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled);
        UpdateNodeCaption(row);
    } else {
        row = new TFolderNode(entry, FFolderIcon);
        row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled |
                      Qt::ItemIsDropEnabled);
    }
    FRows[&entry] = row;
    return row;
}

void TFeedTree::BuildRows(QTreeWidgetItem* parent) {
    // Depth first without recursion, each folder's rows in order.
    std::vector<QTreeWidgetItem*> pending{parent};
    std::vector<QTreeWidgetItem*> folders;
    while (!pending.empty()) {
        QTreeWidgetItem* node = pending.back();
        pending.pop_back();
        QList<QTreeWidgetItem*> rows;
        for (const auto& child : EntryOf(node)->Children()) {
            QTreeWidgetItem* row = NewRow(*child);
            rows.append(row);
            if (child->IsFolder()) {
                folders.push_back(row);
                pending.push_back(row);
            }
        }
        node->addChildren(rows);
    }
    // Inner folders first, so that each sum is taken once its parts exist.
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) UpdateNodeCaption(*it);
}

void TFeedTree::ListReset() {
    FRows.clear();
    FNewRows.clear();
    FNewRowsOf.clear();
    FNewFolders.clear();
    clear();
    if (!FList) return;
    auto* root = new TRootNode(FList->Root(), FRootIcon);
    root->setText(0, QStringLiteral("Quillet"));
    root->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled);
    FRows[&FList->Root()] = root;
    // The rows are made, captioned and indexed while detached and enter the
    // tree in one go: the view then handles one insertion instead of one
    // insertion and two changes per feed.
    BuildRows(root);
    addTopLevelItem(root);
    root->setExpanded(true);
    RestoreExpansion(root);
    setCurrentItem(root);
    NoteListChanged();
    if (OnRowsReset) OnRowsReset();
}

void TFeedTree::BeginBatch() { ++FBatch; }

void TFeedTree::EndBatch() {
    if (FBatch == 0 || --FBatch > 0) return;
    FlushNewRows();
    // Inner folders first; their sums are each taken once.
    std::vector<QTreeWidgetItem*> folders;
    Walk(RootNode(), [&folders](QTreeWidgetItem* each) {
        if (IsFolderNode(each)) folders.push_back(each);
    });
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) UpdateNodeCaption(*it);
    ReapplyFilter();
}

void TFeedTree::FlushNewRows() {
    for (auto& [parent, rows] : FNewRows) parent->addChildren(rows);
    for (QTreeWidgetItem* folder : FNewFolders) folder->setExpanded(true);
    FNewRows.clear();
    FNewRowsOf.clear();
    FNewFolders.clear();
}

void TFeedTree::Refresh(QTreeWidgetItem* node) {
    if (FBatch > 0) return;
    UpdateFolderCaptions(node);
    ReapplyFilter();
}

void TFeedTree::EntryInserted(const feedlist::TListEntry& entry) {
    QTreeWidgetItem* parent = RowOf(entry.Parent());
    if (!parent) return;
    QTreeWidgetItem* row = NewRow(entry);
    if (FBatch > 0) {
        // A new folder's own rows wait with it; the order within a parent
        // is the list's, as rows are mostly appended.
        auto [at, made] = FNewRowsOf.try_emplace(parent, FNewRows.size());
        if (made) FNewRows.emplace_back(parent, QList<QTreeWidgetItem*>());
        FNewRows[at->second].second.append(row);
        if (entry.IsFolder()) FNewFolders.push_back(row);
        return;
    }
    const feedlist::TListEntry& container = *entry.Parent();
    const int index =
        container.Children().back().get() == &entry ? parent->childCount() : static_cast<int>(entry.Index());
    parent->insertChild(index, row);
    if (entry.IsFolder()) {
        UpdateNodeCaption(row);
        parent->setExpanded(true);
        row->setExpanded(true);
    }
    Refresh(row);
}

void TFeedTree::EntryRemoving(const feedlist::TListEntry& entry) {
    FlushNewRows();
    QTreeWidgetItem* row = RowOf(&entry);
    if (!row) return;
    QTreeWidgetItem* parent = row->parent();
    // Its folder takes the selection: left to the view, the next row would
    // be selected, shown and counted read without the user asking.
    if (currentItem() && IsUnder(currentItem(), row) && parent) setCurrentItem(parent);
    Walk(row, [this](QTreeWidgetItem* each) { FRows.erase(EntryOf(each)); });
    delete row;
    if (FBatch == 0 && IsFolderNode(parent)) UpdateNodeCaption(parent);
    Refresh(parent);
    if (!currentItem() && RootNode()) setCurrentItem(RootNode());
}

void TFeedTree::EntryMoved(const feedlist::TListEntry& entry, const feedlist::TListEntry&, std::size_t) {
    FlushNewRows();
    QTreeWidgetItem* row = RowOf(&entry);
    QTreeWidgetItem* parent = RowOf(entry.Parent());
    if (!row || !parent) return;
    QTreeWidgetItem* oldParent = row->parent();
    // Taking out the selected row (or its folder) makes the view select the
    // row that takes its place, which would show that feed and count it
    // read. The selection is put back unseen: a move changes no read state.
    QTreeWidgetItem* current = currentItem();
    const bool currentMoves = current && IsUnder(current, row);
    QSignalBlocker quiet(currentMoves ? this : nullptr);
    const bool expanded = row->isExpanded();
    oldParent->removeChild(row);
    parent->insertChild(static_cast<int>(entry.Index()), row);
    if (currentMoves) setCurrentItem(current);
    quiet.unblock();
    RestoreExpansion(row);
    if (IsFolderNode(row)) row->setExpanded(expanded);
    parent->setExpanded(true);
    if (FBatch > 0) return;
    for (QTreeWidgetItem* each : {oldParent, parent}) {
        if (IsFolderNode(each)) UpdateNodeCaption(each);
        UpdateFolderCaptions(each);
    }
    ReapplyFilter();
}

void TFeedTree::EntryChanged(const feedlist::TListEntry& entry) {
    QTreeWidgetItem* row = RowOf(&entry);
    if (!row) return;
    UpdateNodeCaption(row);
    if (entry.IsFolder()) UpdateFolderCaptions(row);
}

// ---------------------------------------------------------------------------
// Captions

QString TFeedTree::FeedDisplayText(const feedlist::TFeedEntry& feed) { return NodeCaption(feed).Text; }

QString TFeedTree::FeedName(const feedlist::TFeedEntry& feed) {
    return feed.Caption.empty() ? AddressStandIn(feed.Url) : Q(feed.Caption);
}

void TFeedTree::SetCaptionFont(QTreeWidgetItem* node, bool bold) {
    // A row without a font of its own shows the tree's regular font: most
    // rows at start-up need none.
    if (!bold && !node->data(0, Qt::FontRole).isValid()) return;
    QFont shown = font();
    shown.setBold(bold);
    node->setFont(0, shown);
}

void TFeedTree::UpdateNodeCaption(QTreeWidgetItem* node) {
    // A new text for a row being renamed would replace what the user is
    // typing; the row is brought up to date when the rename is abandoned,
    // and a confirmed one sets the text itself.
    const bool renaming = Editing() && currentItem() == node;
    if (IsFolderNode(node)) {
        if (FBatch > 0 || renaming) return;  // all at once when the batch ends
        // A folder shows the sum of its feeds' counts, bold while any is
        // unread.
        const long long unread = UnreadUnder(node);
        const std::string& caption = static_cast<TFolderNode*>(node)->Folder().Caption;
        node->setText(0, Q(unread > 0 ? caption + " (" + std::to_string(unread) + ")" : caption));
        SetCaptionFont(node, unread > 0);
        return;
    }
    const feedlist::TFeedEntry* feed = FeedOf(node);
    if (!feed) return;
    if (IsFolderNode(node->parent())) UpdateFolderCaptions(node);
    if (OnFeedCaptionShown) OnFeedCaptionShown(*feed);
    const TNodeCaption caption = NodeCaption(*feed);
    if (!renaming) node->setText(0, caption.Text);
    static_cast<TFeedNode*>(node)->SetEditText(caption.CaptionText);
    if (renaming) return;  // a new font would reset the editor just the same
    SetCaptionFont(node, caption.Unread);
}

void TFeedTree::UpdateFolderCaptions(QTreeWidgetItem* node) {
    for (QTreeWidgetItem* up = node ? node->parent() : nullptr; IsFolderNode(up); up = up->parent())
        UpdateNodeCaption(up);
}

void TFeedTree::RestoreExpansion(QTreeWidgetItem* node) {
    Walk(node, [](QTreeWidgetItem* each) {
        if (IsFolderNode(each)) each->setExpanded(static_cast<TFolderNode*>(each)->Folder().Expanded);
    });
}

// ---------------------------------------------------------------------------
// The filter

bool TFeedTree::LooksLikeAddress(const QString& text) {
    // A path or scheme ("/", "://"), a host's dot before letters
    // ("example.org", ".net") or an IPv4 address's dotted numbers
    // ("127.0.0"); a number alone ("2", "1.5") is sought in names only.
    static const QRegularExpression host(QStringLiteral("\\.\\p{L}|\\d\\.\\d+\\.\\d"));
    return text.contains(QLatin1Char('/')) || text.contains(host);
}

bool TFeedTree::FilterMatches(const feedlist::TFeedEntry& feed, const QString& wanted, bool byAddress) {
    // The name shown, without the count: "2" does not find every feed with
    // two unread items.
    const QString name = FeedName(feed);
    return name.contains(wanted, Qt::CaseInsensitive) ||
           (byAddress && Q(feed.Url).contains(wanted, Qt::CaseInsensitive));
}

void TFeedTree::ReapplyFilter() {
    if (!FFilter.isEmpty()) SetFeedFilter(FFilter);
}

void TFeedTree::SetFeedFilter(const QString& text) {
    FFilter = text;
    QTreeWidgetItem* root = RootNode();
    if (!root) return;
    const QString wanted = text.trimmed();
    setUpdatesEnabled(false);
    FFiltering = true;
    if (wanted.isEmpty()) {
        Walk(root, [](QTreeWidgetItem* each) { each->setHidden(false); });
        RestoreExpansion(root);
    } else {
        const bool byAddress = LooksLikeAddress(wanted);
        // Post-order: a folder is shown when anything under it is.
        std::vector<QTreeWidgetItem*> order;
        Walk(root, [&order](QTreeWidgetItem* each) { order.push_back(each); });
        std::unordered_map<QTreeWidgetItem*, bool> shown;
        for (auto it = order.rbegin(); it != order.rend(); ++it) {
            QTreeWidgetItem* each = *it;
            bool visible = false;
            if (const feedlist::TFeedEntry* feed = FeedOf(each)) {
                visible = FilterMatches(*feed, wanted, byAddress);
            } else {
                for (int i = 0; i < each->childCount() && !visible; ++i) visible = shown[each->child(i)];
            }
            shown[each] = visible;
            if (each == root) continue;
            each->setHidden(!visible);
            if (visible && each->childCount() > 0) each->setExpanded(true);
        }
    }
    FFiltering = false;
    setUpdatesEnabled(true);
    if (QTreeWidgetItem* current = currentItem(); current && !current->isHidden()) scrollToItem(current);
}

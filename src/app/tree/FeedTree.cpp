#include "FeedTree.h"

#include <QDropEvent>
#include <QMimeData>
#include <QStyle>
#include <QTimer>
#include <QUrl>

#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "Convert.h"
#include "FeedList.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

long long UnreadOf(const xml::Node& item) {
    const std::optional<int> count = plat::TryStrToInt(item.Attribute("unread").value_or(""));
    return count && *count > 0 ? *count : 0;
}

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

TNodeCaption NodeCaption(const xml::Node& item) {
    const std::string caption = item.Attribute("caption").value_or("");
    const std::string unread = item.Attribute("unread").value_or("");
    const std::optional<int> count = plat::TryStrToInt(unread);
    const bool hasUnread = count ? *count != 0 : !unread.empty();
    const std::string suffix = hasUnread ? " (" + unread + ")" : "";
    if (caption.empty()) {
        const QString standIn = AddressStandIn(item.Attribute("url").value_or(""));
        if (!standIn.isEmpty()) return {standIn + Q(suffix), hasUnread, Q(suffix)};
    }
    return {Q(caption + suffix), hasUnread, std::nullopt};
}

bool FromOutside(const QDropEvent* event, const QObject* self) {
    return event->source() != self && (event->mimeData()->hasUrls() || event->mimeData()->hasText());
}

}  // namespace

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
            parent = topLevelItem(0);
            break;
    }
    if (parent) OnMove(dragged, parent, index);
}

// ---------------------------------------------------------------------------
// The rows

xml::Node TFeedTree::GetFeedItem(QTreeWidgetItem* node) {
    if (!node || node->type() != TFeedNode::kType) return {};
    return static_cast<TFeedNode*>(node)->Item();
}

std::string TFeedTree::FeedIdOf(QTreeWidgetItem* node) {
    const xml::Node item = GetFeedItem(node);
    return item ? item.Attribute("id").value_or("") : std::string();
}

bool TFeedTree::IsFolderNode(const QTreeWidgetItem* node) { return node && node->type() == TFolderNode::kType; }

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

xml::Node TFeedTree::ContainerElement(QTreeWidgetItem* node) const {
    if (!node) return {};
    if (IsFolderNode(node)) return static_cast<TFolderNode*>(node)->Folder();
    if (node == RootNode()) return FList;
    return {};
}

QTreeWidgetItem* TFeedTree::TargetFolder(QTreeWidgetItem* node) const {
    if (!node) return RootNode();
    if (ContainerElement(node)) return node;
    return node->parent() ? node->parent() : RootNode();
}

QTreeWidgetItem* TFeedTree::FindFeedNodeById(const std::string& id) const {
    // Called for every update and every step of the polling thread: a
    // lookup instead of reading the id of each of possibly thousands of
    // rows.
    const auto found = FFeedNodes.find(id);
    return found == FFeedNodes.end() ? nullptr : found->second;
}

std::vector<QTreeWidgetItem*> TFeedTree::FeedNodesUnder(QTreeWidgetItem* node) const {
    std::vector<QTreeWidgetItem*> feeds;
    Walk(node, [&feeds](QTreeWidgetItem* each) {
        if (each->type() == TFeedNode::kType) feeds.push_back(each);
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
    long long sum = 0;
    Walk(node, [&sum](QTreeWidgetItem* each) {
        if (each->type() == TFeedNode::kType) sum += UnreadOf(static_cast<TFeedNode*>(each)->Item());
    });
    return sum;
}

std::unique_ptr<QTreeWidgetItem> TFeedTree::NewFeedNode(xml::Node item) {
    auto node = std::make_unique<TFeedNode>(std::move(item), FFeedIcon);
    node->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled);
    UpdateNodeCaption(node.get());
    return node;
}

std::unique_ptr<QTreeWidgetItem> TFeedTree::NewFolderNode(xml::Node folder) {
    auto node = std::make_unique<TFolderNode>(std::move(folder), FFolderIcon);
    node->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled |
                   Qt::ItemIsDropEnabled);
    return node;
}

void TFeedTree::RememberFeedNode(QTreeWidgetItem* node) {
    const std::string id = GetFeedItem(node).Attribute("id").value_or("");
    // A hand-edited list may repeat an id: the first row keeps it, as a
    // walk over the list would find.
    if (!id.empty() && !FFeedNodes.emplace(id, node).second) FRepeatedFeedIds.insert(id);
}

void TFeedTree::ForgetFeedNode(QTreeWidgetItem* node, const std::string& id) {
    const auto found = FFeedNodes.find(id);
    if (found == FFeedNodes.end() || found->second != node) return;
    FFeedNodes.erase(found);
    // Another row with the same id (a hand-edited list) takes its place;
    // only then is the list walked, never for each of a thousand deletions.
    if (!FRepeatedFeedIds.count(id)) return;
    for (QTreeWidgetItem* other : FeedNodesUnder(RootNode())) {
        const xml::Node item = GetFeedItem(other);
        if (other != node && item && item.Attribute("id") == id) {
            FFeedNodes.emplace(id, other);
            break;
        }
    }
}

void TFeedTree::Load(const xml::Node& list) {
    FList = list;
    FFeedNodes.clear();
    FRepeatedFeedIds.clear();
    clear();
    auto root = std::make_unique<QTreeWidgetItem>(QStringList{"Quillet"});
    root->setIcon(0, FRootIcon);
    root->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled);
    // The rows are made, captioned and indexed while detached and enter the
    // tree in one go: the view then handles one insertion instead of one
    // insertion and two changes per feed.
    try {
        BuildNodes(root.get(), list);
    } catch (...) {
        FFeedNodes.clear();  // the detached rows go with the root
        throw;
    }
    QTreeWidgetItem* top = root.release();
    addTopLevelItem(top);
    top->setExpanded(true);
    RestoreExpansion(top);
    setCurrentItem(top);
}

void TFeedTree::BuildNodes(QTreeWidgetItem* parent, const xml::Node& container) {
    // Depth first without recursion, each container's children in order.
    std::vector<std::pair<QTreeWidgetItem*, xml::Node>> pending{{parent, container}};
    std::vector<QTreeWidgetItem*> folders;
    while (!pending.empty()) {
        auto [node, element] = pending.back();
        pending.pop_back();
        for (const xml::Node& child : element.ChildElements()) {
            if (feedlist::IsFeed(child)) {
                QTreeWidgetItem* feed = NewFeedNode(child).release();
                node->addChild(feed);
                RememberFeedNode(feed);
            } else if (feedlist::IsFolder(child)) {
                QTreeWidgetItem* folder = NewFolderNode(child).release();
                node->addChild(folder);
                folders.push_back(folder);
                pending.emplace_back(folder, child);
            }
        }
    }
    // Inner folders first, so that each sum is taken once its parts exist.
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) UpdateNodeCaption(*it);
}

QTreeWidgetItem* TFeedTree::AddFeedNode(xml::Node item, QTreeWidgetItem* parent) {
    if (!parent) parent = RootNode();
    if (!parent) return nullptr;
    QTreeWidgetItem* node = NewFeedNode(std::move(item)).release();
    parent->addChild(node);
    RememberFeedNode(node);
    UpdateFolderCaptions(node);
    if (!FFolderCaptionsDeferred) ReapplyFilter();
    return node;
}

QTreeWidgetItem* TFeedTree::AddFolderNode(xml::Node folder, QTreeWidgetItem* parent) {
    QTreeWidgetItem* node = NewFolderNode(std::move(folder)).release();
    parent->addChild(node);
    UpdateNodeCaption(node);
    parent->setExpanded(true);
    node->setExpanded(true);
    return node;
}

QTreeWidgetItem* TFeedTree::NodeForContainer(const xml::Node& container) {
    if (!container || container == FList) return RootNode();
    QTreeWidgetItem* found = nullptr;
    Walk(RootNode(), [&](QTreeWidgetItem* each) {
        if (!found && IsFolderNode(each) && static_cast<TFolderNode*>(each)->Folder() == container) found = each;
    });
    if (found) return found;
    QTreeWidgetItem* parent = NodeForContainer(container.Parent());
    found = NewFolderNode(container).release();
    parent->addChild(found);
    UpdateNodeCaption(found);
    found->setExpanded(true);
    return found;
}

void TFeedTree::AttachNewFeeds(const std::vector<xml::Node>& items) {
    QTreeWidgetItem* root = RootNode();
    if (!root || items.empty()) return;
    // The row of each container element met. A parent's folder rows are
    // entered all at once when the first of them is looked for, so a list
    // of thousands of feeds or folders is walked once, not once per feed.
    std::unordered_map<xml::Node, QTreeWidgetItem*, xml::NodeHash> nodes{{FList, root}};
    std::set<QTreeWidgetItem*> indexed;
    // New rows by parent, in the order their elements were appended.
    std::vector<std::pair<QTreeWidgetItem*, QList<QTreeWidgetItem*>>> rows;
    std::unordered_map<QTreeWidgetItem*, std::size_t> rowsOf;
    const auto addRow = [&](QTreeWidgetItem* parent, QTreeWidgetItem* node) {
        auto [at, made] = rowsOf.try_emplace(parent, rows.size());
        if (made) rows.emplace_back(parent, QList<QTreeWidgetItem*>());
        rows[at->second].second.append(node);
    };
    std::vector<QTreeWidgetItem*> newFolders;
    // Recursion as deep as folders nest, which the list bounds.
    std::function<QTreeWidgetItem*(const xml::Node&)> nodeFor = [&](const xml::Node& container) -> QTreeWidgetItem* {
        if (auto found = nodes.find(container); found != nodes.end()) return found->second;
        QTreeWidgetItem* parent = nodeFor(container.Parent());
        if (indexed.insert(parent).second) {
            for (int i = 0; i < parent->childCount(); ++i)
                if (IsFolderNode(parent->child(i)))
                    nodes.emplace(static_cast<TFolderNode*>(parent->child(i))->Folder(), parent->child(i));
            if (auto found = nodes.find(container); found != nodes.end()) return found->second;
        }
        QTreeWidgetItem* folder = NewFolderNode(container).release();
        UpdateNodeCaption(folder);
        addRow(parent, folder);
        newFolders.push_back(folder);
        indexed.insert(folder);  // its rows are all new
        nodes.emplace(container, folder);
        return folder;
    };
    for (const xml::Node& item : items) {
        QTreeWidgetItem* parent = nodeFor(item.Parent());
        QTreeWidgetItem* node = NewFeedNode(item).release();
        RememberFeedNode(node);
        addRow(parent, node);
    }
    for (auto& [parent, children] : rows) parent->addChildren(children);
    for (QTreeWidgetItem* folder : newFolders) folder->setExpanded(true);
    ReapplyFilter();
}

// ---------------------------------------------------------------------------
// Captions

QString TFeedTree::FeedDisplayText(const xml::Node& item) { return NodeCaption(item).Text; }

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
        if (FFolderCaptionsDeferred || renaming) return;  // all at once when the batch ends
        // A folder shows the sum of its feeds' counts, bold while any is
        // unread.
        const long long unread = UnreadUnder(node);
        const std::string caption = static_cast<TFolderNode*>(node)->Folder().Attribute("caption").value_or("");
        node->setText(0, Q(unread > 0 ? caption + " (" + std::to_string(unread) + ")" : caption));
        SetCaptionFont(node, unread > 0);
        return;
    }
    const xml::Node item = GetFeedItem(node);
    if (!item) return;
    if (IsFolderNode(node->parent())) UpdateFolderCaptions(node);
    if (OnFeedCaptionShown) OnFeedCaptionShown(item);
    const TNodeCaption caption = NodeCaption(item);
    if (!renaming) node->setText(0, caption.Text);
    static_cast<TFeedNode*>(node)->SetEditText(caption.CaptionText);
    if (renaming) return;  // a new font would reset the editor just the same
    SetCaptionFont(node, caption.Unread);
}

void TFeedTree::UpdateFolderCaptions(QTreeWidgetItem* node) {
    for (QTreeWidgetItem* up = node ? node->parent() : nullptr; IsFolderNode(up); up = up->parent())
        UpdateNodeCaption(up);
}

void TFeedTree::EndDeferredFolderCaptions(QTreeWidgetItem* node) {
    FFolderCaptionsDeferred = false;
    if (!node) return;
    std::vector<QTreeWidgetItem*> folders;
    Walk(node, [&folders](QTreeWidgetItem* each) {
        if (IsFolderNode(each)) folders.push_back(each);
    });
    // Inner folders first; their sums are each taken once.
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) UpdateNodeCaption(*it);
    UpdateFolderCaptions(node);
    ReapplyFilter();
}

void TFeedTree::RestoreExpansion(QTreeWidgetItem* node) {
    Walk(node, [](QTreeWidgetItem* each) {
        if (IsFolderNode(each))
            each->setExpanded(static_cast<TFolderNode*>(each)->Folder().Attribute("expanded") != "False");
    });
}

// ---------------------------------------------------------------------------
// The filter

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
        // Post-order: a folder is shown when anything under it is.
        std::vector<QTreeWidgetItem*> order;
        Walk(root, [&order](QTreeWidgetItem* each) { order.push_back(each); });
        std::unordered_map<QTreeWidgetItem*, bool> shown;
        for (auto it = order.rbegin(); it != order.rend(); ++it) {
            QTreeWidgetItem* each = *it;
            bool visible = false;
            if (each->type() == TFeedNode::kType) {
                const xml::Node item = static_cast<TFeedNode*>(each)->Item();
                visible = Q(item.Attribute("caption").value_or("")).contains(wanted, Qt::CaseInsensitive) ||
                          Q(item.Attribute("url").value_or("")).contains(wanted, Qt::CaseInsensitive) ||
                          each->text(0).contains(wanted, Qt::CaseInsensitive);
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

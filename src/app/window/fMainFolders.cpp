// The main window's folders and the filter of the feed list.
//
// A folder is a <folder> element among the <item> elements of the feed list,
// and its node in the tree refers to that element, as a feed node refers to
// its <item>: every change is made to both, so the tree and config.xml never
// disagree. The polling thread, Update All and the OPML files walk the tree
// in its order.
#include "fMain.h"

#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "AccountController.h"
#include "Convert.h"
#include "FeedList.h"
#include "ReadStateController.h"
#include "uvxLanguage.h"

namespace {

const char* const kFolderElement = "folder";
const char* const kCaptionAttribute = "caption";
const char* const kExpandedAttribute = "expanded";

QString Q(const std::string& text) { return QString::fromStdString(text); }

long long UnreadOf(const xml::Node& item) {
    const std::optional<int> count = plat::TryStrToInt(item.Attribute("unread").value_or(""));
    return count && *count > 0 ? *count : 0;
}

// Calls `visit` for `node` and everything under it, parents before their
// children, in the tree's order. Without recursion: folders nest as deep as
// a hand-edited or imported list makes them.
void Walk(const QTreeWidgetItem* node, const std::function<void(QTreeWidgetItem*)>& visit) {
    if (!node) return;
    std::vector<QTreeWidgetItem*> pending{const_cast<QTreeWidgetItem*>(node)};
    while (!pending.empty()) {
        QTreeWidgetItem* current = pending.back();
        pending.pop_back();
        visit(current);
        for (int i = current->childCount() - 1; i >= 0; --i) pending.push_back(current->child(i));
    }
}

bool IsUnder(const QTreeWidgetItem* node, const QTreeWidgetItem* ancestor) {
    for (const QTreeWidgetItem* up = node; up; up = up->parent())
        if (up == ancestor) return true;
    return false;
}

// Saved, a list nested deeper than its bound could not be read back.
std::runtime_error TooDeep() { return std::runtime_error(LangFmt("FolderTooDeep", {feedlist::kMaxFolderDepth})); }

}  // namespace

bool TFormMain::IsFolderNode(const QTreeWidgetItem* node) { return node && node->type() == TFolderNode::kType; }

xml::Node TFormMain::ContainerElement(QTreeWidgetItem* node) const {
    if (!node) return {};
    if (IsFolderNode(node)) return static_cast<TFolderNode*>(node)->Folder();
    if (node == RootNode()) return FOptions->GetConfigNode(feedlist::kItemsPath);
    return {};
}

QTreeWidgetItem* TFormMain::TargetFolder(QTreeWidgetItem* node) const {
    if (!node) return RootNode();
    if (ContainerElement(node)) return node;
    return node->parent() ? node->parent() : RootNode();
}

std::unique_ptr<QTreeWidgetItem> TFormMain::NewFolderNode(xml::Node folder) {
    auto node = std::make_unique<TFolderNode>(std::move(folder), FFolderIcon);
    node->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled |
                   Qt::ItemIsDropEnabled);
    return node;
}

void TFormMain::BuildNodes(QTreeWidgetItem* parent, const xml::Node& container) {
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

void TFormMain::RestoreExpansion(QTreeWidgetItem* node) {
    Walk(node, [](QTreeWidgetItem* each) {
        if (IsFolderNode(each))
            each->setExpanded(static_cast<TFolderNode*>(each)->Folder().Attribute(kExpandedAttribute) != "False");
    });
}

void TFormMain::UpdateFolderCaptions(QTreeWidgetItem* node) {
    for (QTreeWidgetItem* up = node ? node->parent() : nullptr; IsFolderNode(up); up = up->parent())
        UpdateNodeCaption(up);
}

long long TFormMain::UnreadUnder(const QTreeWidgetItem* node) {
    long long sum = 0;
    Walk(node, [&sum](QTreeWidgetItem* each) {
        if (each->type() == TFeedNode::kType) sum += UnreadOf(static_cast<TFeedNode*>(each)->Item());
    });
    return sum;
}

std::vector<QTreeWidgetItem*> TFormMain::FeedNodesUnder(QTreeWidgetItem* node) const {
    std::vector<QTreeWidgetItem*> feeds;
    Walk(node, [&feeds](QTreeWidgetItem* each) {
        if (each->type() == TFeedNode::kType) feeds.push_back(each);
    });
    return feeds;
}

QTreeWidgetItem* TFormMain::NodeForContainer(const xml::Node& container) {
    if (!container || container == FOptions->GetConfigNode(feedlist::kItemsPath)) return RootNode();
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

QTreeWidgetItem* TFormMain::AddFolder(const std::string& caption, QTreeWidgetItem* parent) {
    parent = TargetFolder(parent);
    xml::Node container = ContainerElement(parent);
    if (!container) return nullptr;
    if (feedlist::FolderDepth(container) >= feedlist::kMaxFolderDepth) throw TooDeep();
    // A new folder always, even beside one of the same name.
    xml::Node folder = container.AppendElement(kFolderElement);
    folder.SetAttribute(kCaptionAttribute, caption);
    folder.SetAttribute(kExpandedAttribute, plat::BoolToStr(true));
    QTreeWidgetItem* node = NewFolderNode(folder).release();
    parent->addChild(node);
    UpdateNodeCaption(node);
    parent->setExpanded(true);
    node->setExpanded(true);
    ScheduleConfigSave();
    return node;
}

void TFormMain::DeleteFolder(QTreeWidgetItem* folder, bool withContents) {
    if (!IsFolderNode(folder)) return;
    QTreeWidgetItem* parent = folder->parent();
    xml::Node element = static_cast<TFolderNode*>(folder)->Folder();
    std::vector<std::string> itemsToForget;
    if (withContents) {
        for (QTreeWidgetItem* feed : FeedNodesUnder(folder)) DeleteFeed(feed, &itemsToForget);
    } else {
        // The contents take the folder's place, in their order.
        int index = parent->indexOfChild(folder);
        while (folder->childCount() > 0 && MoveNode(folder->child(0), parent, index)) ++index;
        // What may not move there (a folder inside an account's label)
        // goes with the folder instead of being tried for ever.
        for (QTreeWidgetItem* feed : FeedNodesUnder(folder)) DeleteFeed(feed, &itemsToForget);
    }
    FItems->ForgetFeeds(std::move(itemsToForget));
    if (TreeView->currentItem() && IsUnder(TreeView->currentItem(), folder)) TreeView->setCurrentItem(parent);
    element.Remove();
    delete folder;
    UpdateNodeCaption(parent);
    UpdateFolderCaptions(parent);
    FOptions->Save();
}

bool TFormMain::MoveNode(QTreeWidgetItem* node, QTreeWidgetItem* parent, int index) {
    if (!node || node == RootNode() || !parent) return false;
    xml::Node container = ContainerElement(parent);
    if (!container || IsUnder(parent, node)) return false;
    if (IsFolderNode(node) && !feedlist::FitsInto(static_cast<TFolderNode*>(node)->Folder(), container))
        throw TooDeep();
    if (!FAccounts->NodeMoving(node, parent)) return false;
    xml::Node element = IsFolderNode(node) ? static_cast<TFolderNode*>(node)->Folder() : GetFeedItem(node);
    if (!element) return false;

    QTreeWidgetItem* oldParent = node->parent();
    // The position is counted without the node itself, as it will stand.
    if (oldParent == parent && index > parent->indexOfChild(node)) --index;
    // Taking out the selected row (or its folder) makes the view select the
    // row that takes its place, which would show that feed and count it
    // read. The selection is put back unseen: a move changes no read state.
    QTreeWidgetItem* current = TreeView->currentItem();
    const bool currentMoves = current && IsUnder(current, node);
    QSignalBlocker quiet(currentMoves ? TreeView : nullptr);
    const bool expanded = node->isExpanded();
    oldParent->removeChild(node);
    if (index < 0 || index > parent->childCount()) index = parent->childCount();
    // The element goes before the element of the node it now precedes.
    xml::Node before;
    if (index < parent->childCount()) {
        QTreeWidgetItem* next = parent->child(index);
        before = IsFolderNode(next) ? static_cast<TFolderNode*>(next)->Folder() : GetFeedItem(next);
    }
    element.MoveTo(container, before);
    parent->insertChild(index, node);
    if (currentMoves) TreeView->setCurrentItem(current);
    quiet.unblock();
    RestoreExpansion(node);
    if (IsFolderNode(node)) node->setExpanded(expanded);
    parent->setExpanded(true);
    for (QTreeWidgetItem* each : {oldParent, parent}) {
        if (IsFolderNode(each)) UpdateNodeCaption(each);
        UpdateFolderCaptions(each);
    }
    // A server's list moves many at once, and saves once at its end.
    if (FAccounts->ApplyingSync()) return true;
    if (!FeedFilter || !FeedFilter->text().isEmpty()) SetFeedFilter(FeedFilter ? FeedFilter->text() : QString());
    FOptions->Save();
    return true;
}

void TFormMain::EndDeferredFolderCaptions(QTreeWidgetItem* node) {
    FFolderCaptionsDeferred = false;
    if (!node) return;
    std::vector<QTreeWidgetItem*> folders;
    Walk(node, [&folders](QTreeWidgetItem* each) {
        if (IsFolderNode(each)) folders.push_back(each);
    });
    // Inner folders first; their sums are each taken once.
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) UpdateNodeCaption(*it);
    UpdateFolderCaptions(node);
    if (FeedFilter && !FeedFilter->text().isEmpty()) SetFeedFilter(FeedFilter->text());
}

void TFormMain::ActionNewFolderExecute() {
    Guarded([this] {
        QTreeWidgetItem* node = AddFolder(LangMsg("NewFolderCaption"), TreeView->currentItem());
        if (!node) return;
        TreeView->setCurrentItem(node);
        TreeView->editItem(node, 0);
    });
}

void TFormMain::FillMoveToMenu() {
    MenuMoveTo->clear();
    QTreeWidgetItem* moving = TreeView->currentItem();
    if (!moving || moving == RootNode()) return;
    // The root and every folder, indented by depth; never the node itself,
    // its own folders or where it is already.
    Walk(RootNode(), [&](QTreeWidgetItem* each) {
        if (!ContainerElement(each) || IsUnder(each, moving)) return;
        int depth = 0;
        for (QTreeWidgetItem* up = each->parent(); up; up = up->parent()) ++depth;
        const QString caption =
            each == RootNode() ? each->text(0)
                               : Q(static_cast<TFolderNode*>(each)->Folder().Attribute(kCaptionAttribute).value_or(""));
        QAction* action = MenuMoveTo->addAction(QString(depth * 4, QChar(' ')) + caption);
        action->setEnabled(each != moving->parent());
        connect(action, &QAction::triggered, this, [this, moving, each] { Guarded([&] { MoveNode(moving, each); }); });
    });
}

void TFormMain::SetFeedFilter(const QString& text) {
    QTreeWidgetItem* root = RootNode();
    if (!root) return;
    const QString wanted = text.trimmed();
    TreeView->setUpdatesEnabled(false);
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
    TreeView->setUpdatesEnabled(true);
    if (QTreeWidgetItem* current = TreeView->currentItem(); current && !current->isHidden())
        TreeView->scrollToItem(current);
}

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

#include "Convert.h"
#include "FeedList.h"
#include "ReadStateController.h"
#include "uvxLanguage.h"

namespace {

const char* const kFolderElement = "folder";
const char* const kCaptionAttribute = "caption";
const char* const kExpandedAttribute = "expanded";

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Saved, a list nested deeper than its bound could not be read back.
std::runtime_error TooDeep() { return std::runtime_error(LangFmt("FolderTooDeep", {feedlist::kMaxFolderDepth})); }

}  // namespace

QTreeWidgetItem* TFormMain::AddFolder(const std::string& caption, QTreeWidgetItem* parent) {
    parent = FTree->TargetFolder(parent);
    xml::Node container = FTree->ContainerElement(parent);
    if (!container) return nullptr;
    if (feedlist::FolderDepth(container) >= feedlist::kMaxFolderDepth) throw TooDeep();
    // A new folder always, even beside one of the same name.
    xml::Node folder = container.AppendElement(kFolderElement);
    folder.SetAttribute(kCaptionAttribute, caption);
    folder.SetAttribute(kExpandedAttribute, plat::BoolToStr(true));
    QTreeWidgetItem* node = FTree->AddFolderNode(folder, parent);
    ScheduleConfigSave();
    return node;
}

void TFormMain::DeleteFolder(QTreeWidgetItem* folder, bool withContents) {
    if (!TFeedTree::IsFolderNode(folder)) return;
    QTreeWidgetItem* parent = folder->parent();
    xml::Node element = static_cast<TFolderNode*>(folder)->Folder();
    std::vector<std::string> itemsToForget;
    if (withContents) {
        for (QTreeWidgetItem* feed : FTree->FeedNodesUnder(folder)) DeleteFeed(feed, &itemsToForget);
    } else {
        // The contents take the folder's place, in their order.
        int index = parent->indexOfChild(folder);
        while (folder->childCount() > 0 && MoveNode(folder->child(0), parent, index)) ++index;
        // What may not move there (a folder inside an account's label)
        // goes with the folder instead of being tried for ever.
        for (QTreeWidgetItem* feed : FTree->FeedNodesUnder(folder)) DeleteFeed(feed, &itemsToForget);
    }
    FItems->ForgetFeeds(std::move(itemsToForget));
    if (FTree->currentItem() && TFeedTree::IsUnder(FTree->currentItem(), folder)) FTree->setCurrentItem(parent);
    element.Remove();
    delete folder;
    FTree->UpdateNodeCaption(parent);
    FTree->UpdateFolderCaptions(parent);
    FOptions->Save();
}

bool TFormMain::MoveNode(QTreeWidgetItem* node, QTreeWidgetItem* parent, int index) {
    if (!node || node == FTree->RootNode() || !parent) return false;
    xml::Node container = FTree->ContainerElement(parent);
    if (!container || TFeedTree::IsUnder(parent, node)) return false;
    if (TFeedTree::IsFolderNode(node) && !feedlist::FitsInto(static_cast<TFolderNode*>(node)->Folder(), container))
        throw TooDeep();
    if (!AccountNodeMoving(node, parent)) return false;
    xml::Node element =
        TFeedTree::IsFolderNode(node) ? static_cast<TFolderNode*>(node)->Folder() : TFeedTree::GetFeedItem(node);
    if (!element) return false;

    QTreeWidgetItem* oldParent = node->parent();
    // The position is counted without the node itself, as it will stand.
    if (oldParent == parent && index > parent->indexOfChild(node)) --index;
    // Taking out the selected row (or its folder) makes the view select the
    // row that takes its place, which would show that feed and count it
    // read. The selection is put back unseen: a move changes no read state.
    QTreeWidgetItem* current = FTree->currentItem();
    const bool currentMoves = current && TFeedTree::IsUnder(current, node);
    QSignalBlocker quiet(currentMoves ? FTree : nullptr);
    const bool expanded = node->isExpanded();
    oldParent->removeChild(node);
    if (index < 0 || index > parent->childCount()) index = parent->childCount();
    // The element goes before the element of the node it now precedes.
    xml::Node before;
    if (index < parent->childCount()) {
        QTreeWidgetItem* next = parent->child(index);
        before =
            TFeedTree::IsFolderNode(next) ? static_cast<TFolderNode*>(next)->Folder() : TFeedTree::GetFeedItem(next);
    }
    element.MoveTo(container, before);
    parent->insertChild(index, node);
    if (currentMoves) FTree->setCurrentItem(current);
    quiet.unblock();
    FTree->RestoreExpansion(node);
    if (TFeedTree::IsFolderNode(node)) node->setExpanded(expanded);
    parent->setExpanded(true);
    for (QTreeWidgetItem* each : {oldParent, parent}) {
        if (TFeedTree::IsFolderNode(each)) FTree->UpdateNodeCaption(each);
        FTree->UpdateFolderCaptions(each);
    }
    // A server's list moves many at once, and saves once at its end.
    if (FApplyingSync) return true;
    FTree->ReapplyFilter();
    FOptions->Save();
    return true;
}

void TFormMain::ActionNewFolderExecute() {
    Guarded([this] {
        QTreeWidgetItem* node = AddFolder(LangMsg("NewFolderCaption"), FTree->currentItem());
        if (!node) return;
        FTree->setCurrentItem(node);
        FTree->editItem(node, 0);
    });
}

void TFormMain::FillMoveToMenu() {
    MenuMoveTo->clear();
    QTreeWidgetItem* moving = FTree->currentItem();
    if (!moving || moving == FTree->RootNode()) return;
    // The root and every folder, indented by depth; never the node itself,
    // its own folders or where it is already.
    TFeedTree::Walk(FTree->RootNode(), [&](QTreeWidgetItem* each) {
        if (!FTree->ContainerElement(each) || TFeedTree::IsUnder(each, moving)) return;
        int depth = 0;
        for (QTreeWidgetItem* up = each->parent(); up; up = up->parent()) ++depth;
        const QString caption =
            each == FTree->RootNode()
                ? each->text(0)
                : Q(static_cast<TFolderNode*>(each)->Folder().Attribute(kCaptionAttribute).value_or(""));
        QAction* action = MenuMoveTo->addAction(QString(depth * 4, QChar(' ')) + caption);
        action->setEnabled(each != moving->parent());
        connect(action, &QAction::triggered, this, [this, moving, each] { Guarded([&] { MoveNode(moving, each); }); });
    });
}

#include "FeedListController.h"

#include <QAction>
#include <QMenu>
#include <QSignalBlocker>

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "BesideWindow.h"
#include "Convert.h"
#include "DateTime.h"
#include "FeedDocument.h"
#include "FeedList.h"
#include "FeedTree.h"
#include "FeedUpdate.h"
#include "Opml.h"
#include "uvxLanguage.h"

namespace {

using feedlist::kCounterPath;
using feedlist::kItemsPath;
const char* const kFolderElement = "folder";
const char* const kCaptionAttribute = "caption";
const char* const kExpandedAttribute = "expanded";

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Saved, a list nested deeper than its bound could not be read back.
std::runtime_error TooDeep() { return std::runtime_error(LangFmt("FolderTooDeep", {feedlist::kMaxFolderDepth})); }

// The channel title of a feed's stored copy; empty when the feed was never
// downloaded or its copy cannot be read.
std::string StoredChannelTitle(const std::string& id) {
    if (!IsValidFeedId(id) || !std::filesystem::exists(StoredCopyPath(id))) return {};
    try {
        feed::TFeedDocument copy;
        copy.LoadFromFile(StoredCopyPath(id));
        return copy.Channel().Required().Title();
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

TFeedListController::TFeedListController(TFeedTree& tree, THost host) : FTree(tree), FHost(std::move(host)) {}

xml::Node TFeedListController::AppendFeedElement(const std::string& url, const std::string& caption,
                                                 xml::Node container, feedlist::TFeedIds* ids) {
    xml::Node items = FHost.ConfigNode(kItemsPath);
    if (!container) container = items;
    const std::string now = plat::FormatISO8601(plat::Now());
    if (ids) return feedlist::AppendFeed(*ids, container, url, caption, now);
    return feedlist::AppendFeed(items, FHost.ConfigNode(kCounterPath), container, url, caption, now);
}

QTreeWidgetItem* TFeedListController::AddFeed(const std::string& url, QTreeWidgetItem* folder,
                                              const std::string& caption) {
    // The account's server fetches its feeds: it is asked to subscribe.
    if (!FHost.AccountIdOf(folder).empty()) return FHost.AddAccountFeed(url, folder, caption);
    folder = FTree.TargetFolder(folder);
    QTreeWidgetItem* node = FTree.AddFeedNode(AppendFeedElement(url, caption, FTree.ContainerElement(folder)), folder);
    FHost.Update(node);
    FHost.Save();
    return node;
}

void TFeedListController::DeleteFeed(QTreeWidgetItem* node, std::vector<std::string>* itemsToForget) {
    xml::Node item = TFeedTree::GetFeedItem(node);
    if (!item) return;
    const std::string id = item.Attribute("id").value_or("");
    FHost.FeedDeleting(id);

    // Only a decimal id names a stored copy: a hand-edited id must never
    // delete a file elsewhere.
    if (IsValidFeedId(id)) {
        std::error_code ignored;  // a copy that was never written is fine
        std::filesystem::remove(StoredCopyPath(id), ignored);
    }
    FTree.ForgetFeedNode(node, id);
    if (IsValidFeedId(id)) {
        if (itemsToForget)
            itemsToForget->push_back(id);
        else
            FHost.ForgetItems({id});
    }
    item.Remove();
    QTreeWidgetItem* parent = node->parent();
    // Its folder takes the selection: left to the view, the next row would
    // be selected, shown and counted read without the user asking.
    if (FTree.currentItem() == node && parent) FTree.setCurrentItem(parent);
    delete node;
    if (TFeedTree::IsFolderNode(parent)) {
        FTree.UpdateNodeCaption(parent);
        FTree.UpdateFolderCaptions(parent);
    }
    if (!FTree.currentItem() && FTree.RootNode()) FTree.setCurrentItem(FTree.RootNode());
}

QString ImportSummary(const TImportResult& result) {
    QString text = LangFmtQ("ImportedOPML", {result.added, result.skipped});
    if (result.refused > 0) text += QStringLiteral(" (") + LangFmtQ("ImportedOPMLRefused", {result.refused}) + ')';
    if (result.flattened > 0)
        text += QStringLiteral("; ") + LangFmtQ("ImportedOPMLFlattened", {result.flattened, feedlist::kMaxFolderDepth});
    return text;
}

TImportResult TFeedListController::ImportOPML(const std::string& fileName, QTreeWidgetItem* target) {
    // The window answers other requests while a large list is read and
    // added, and one of them may be another import: it waits its turn.
    if (FImportRunning) throw std::runtime_error(LangMsg("ImportOPMLBusy"));
    FImportRunning = true;
    struct TDone {
        bool& Running;
        ~TDone() { Running = false; }
    } done{FImportRunning};

    const std::string accountId = target ? FHost.AccountIdOf(target) : std::string();
    std::vector<std::string> existing;
    if (accountId.empty()) existing = feedlist::FeedAddresses(FHost.ConfigNode(kItemsPath));
    // Read and checked against the list beside the window: tens of
    // thousands of outlines take longer than a window may stand still.
    struct TRead {
        std::vector<opml::Outline> Outlines;
        opml::ImportPlan Plan;
    };
    const TRead read = RunBesideWindow([&] {
        TRead result;
        try {
            result.Outlines = opml::ReadFile(fileName);
        } catch (const std::exception& error) {
            throw std::runtime_error(LangFmt("InvalidOPML", {std::string(error.what())}));
        }
        if (accountId.empty()) result.Plan = opml::PlanImport(result.Outlines, existing);
        return result;
    });
    if (!accountId.empty()) {
        QTreeWidgetItem* account = FHost.AccountNode(accountId);
        if (!account) throw std::runtime_error(LangFmt("InvalidOPML", {std::string("the account is gone")}));
        return FHost.ImportToAccount(read.Outlines, account);
    }

    // Added a part at a time, the window painting between parts.
    constexpr std::size_t kPart = 1000;
    feedlist::TImportWriter writer(FHost.ConfigNode(kItemsPath), FHost.ConfigNode(kCounterPath),
                                   plat::FormatISO8601(plat::Now()));
    const std::vector<opml::Outline>& toAdd = read.Plan.toAdd;
    for (std::size_t from = 0; from < toAdd.size(); from += kPart) {
        if (from > 0) LetWindowBreathe();
        FTree.AttachNewFeeds(writer.Write(toAdd, from, from + kPart));
    }
    FTree.RootNode()->setExpanded(true);
    FHost.Save();
    return {static_cast<int>(toAdd.size()), read.Plan.skipped, read.Plan.refused, writer.Flattened()};
}

void TFeedListController::ExportOPML(const std::string& fileName) {
    const std::vector<opml::Outline> feeds =
        feedlist::Outlines(FHost.ConfigNode(kItemsPath),
                           [](const xml::Node& item) { return StoredChannelTitle(item.Attribute("id").value_or("")); });
    opml::WriteFile(fileName, feeds, "Quillet feeds");
}

QTreeWidgetItem* TFeedListController::AddFolder(const std::string& caption, QTreeWidgetItem* parent) {
    parent = FTree.TargetFolder(parent);
    xml::Node container = FTree.ContainerElement(parent);
    if (!container) return nullptr;
    if (feedlist::FolderDepth(container) >= feedlist::kMaxFolderDepth) throw TooDeep();
    // A new folder always, even beside one of the same name.
    xml::Node folder = container.AppendElement(kFolderElement);
    folder.SetAttribute(kCaptionAttribute, caption);
    folder.SetAttribute(kExpandedAttribute, plat::BoolToStr(true));
    QTreeWidgetItem* node = FTree.AddFolderNode(folder, parent);
    FHost.ScheduleSave();
    return node;
}

void TFeedListController::DeleteFolder(QTreeWidgetItem* folder, bool withContents) {
    if (!TFeedTree::IsFolderNode(folder)) return;
    QTreeWidgetItem* parent = folder->parent();
    xml::Node element = static_cast<TFolderNode*>(folder)->Folder();
    std::vector<std::string> itemsToForget;
    if (withContents) {
        for (QTreeWidgetItem* feed : FTree.FeedNodesUnder(folder)) DeleteFeed(feed, &itemsToForget);
    } else {
        // The contents take the folder's place, in their order.
        int index = parent->indexOfChild(folder);
        while (folder->childCount() > 0 && MoveNode(folder->child(0), parent, index)) ++index;
        // What may not move there (a folder inside an account's label)
        // goes with the folder instead of being tried for ever.
        for (QTreeWidgetItem* feed : FTree.FeedNodesUnder(folder)) DeleteFeed(feed, &itemsToForget);
    }
    FHost.ForgetItems(std::move(itemsToForget));
    if (FTree.currentItem() && TFeedTree::IsUnder(FTree.currentItem(), folder)) FTree.setCurrentItem(parent);
    element.Remove();
    delete folder;
    FTree.UpdateNodeCaption(parent);
    FTree.UpdateFolderCaptions(parent);
    FHost.Save();
}

bool TFeedListController::MoveNode(QTreeWidgetItem* node, QTreeWidgetItem* parent, int index) {
    if (!node || node == FTree.RootNode() || !parent) return false;
    xml::Node container = FTree.ContainerElement(parent);
    if (!container || TFeedTree::IsUnder(parent, node)) return false;
    if (TFeedTree::IsFolderNode(node) && !feedlist::FitsInto(static_cast<TFolderNode*>(node)->Folder(), container))
        throw TooDeep();
    if (!FHost.MayMove(node, parent)) return false;
    xml::Node element =
        TFeedTree::IsFolderNode(node) ? static_cast<TFolderNode*>(node)->Folder() : TFeedTree::GetFeedItem(node);
    if (!element) return false;

    QTreeWidgetItem* oldParent = node->parent();
    // The position is counted without the node itself, as it will stand.
    if (oldParent == parent && index > parent->indexOfChild(node)) --index;
    // Taking out the selected row (or its folder) makes the view select the
    // row that takes its place, which would show that feed and count it
    // read. The selection is put back unseen: a move changes no read state.
    QTreeWidgetItem* current = FTree.currentItem();
    const bool currentMoves = current && TFeedTree::IsUnder(current, node);
    QSignalBlocker quiet(currentMoves ? &FTree : nullptr);
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
    if (currentMoves) FTree.setCurrentItem(current);
    quiet.unblock();
    FTree.RestoreExpansion(node);
    if (TFeedTree::IsFolderNode(node)) node->setExpanded(expanded);
    parent->setExpanded(true);
    for (QTreeWidgetItem* each : {oldParent, parent}) {
        if (TFeedTree::IsFolderNode(each)) FTree.UpdateNodeCaption(each);
        FTree.UpdateFolderCaptions(each);
    }
    // A server's list moves many at once, and saves once at its end.
    if (FHost.ApplyingSync()) return true;
    FTree.ReapplyFilter();
    FHost.Save();
    return true;
}

void TFeedListController::FillMoveToMenu(QMenu& menu) {
    menu.clear();
    QTreeWidgetItem* moving = FTree.currentItem();
    if (!moving || moving == FTree.RootNode()) return;
    // The root and every folder, indented by depth; never the node itself,
    // its own folders or where it is already.
    TFeedTree::Walk(FTree.RootNode(), [&](QTreeWidgetItem* each) {
        if (!FTree.ContainerElement(each) || TFeedTree::IsUnder(each, moving)) return;
        int depth = 0;
        for (QTreeWidgetItem* up = each->parent(); up; up = up->parent()) ++depth;
        const QString caption =
            each == FTree.RootNode()
                ? each->text(0)
                : Q(static_cast<TFolderNode*>(each)->Folder().Attribute(kCaptionAttribute).value_or(""));
        QAction* action = menu.addAction(QString(depth * 4, QChar(' ')) + caption);
        action->setEnabled(each != moving->parent());
        QObject::connect(action, &QAction::triggered, &menu,
                         [this, moving, each] { FHost.Guarded([&] { MoveNode(moving, each); }); });
    });
}

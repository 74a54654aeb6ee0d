#include "FeedListController.h"

#include <QAction>
#include <QMenu>

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
#include "QtText.h"

namespace {

using plat::Q;

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

const feedlist::TListEntry* TFeedListController::AppendFeed(const std::string& url, const std::string& caption,
                                                            const feedlist::TListEntry* folder) {
    feedlist::TFeedList& list = FTree.List();
    return list.AddFeed(folder ? *folder : list.Root(),
                        feedlist::NewFeed(url, caption, plat::FormatISO8601(plat::Now())));
}

const feedlist::TListEntry& TFeedListController::TargetFolder(const feedlist::TListEntry* entry) const {
    if (!entry) return FTree.List().Root();
    if (entry->IsFeed()) return entry->Parent() ? *entry->Parent() : FTree.List().Root();
    return *entry;
}

const feedlist::TListEntry* TFeedListController::AddFeed(const std::string& url, const feedlist::TListEntry* folder,
                                                         const std::string& caption) {
    // The account's server fetches its feeds: it is asked to subscribe.
    if (!FHost.AccountIdOf(folder).empty()) return FHost.AddAccountFeed(url, folder, caption);
    const feedlist::TListEntry* added = AppendFeed(url, caption, &TargetFolder(folder));
    if (!added) return nullptr;
    FHost.Update(feedlist::IdText(added->Feed()));
    FHost.Save();
    return added;
}

void TFeedListController::DeleteFeed(const feedlist::TListEntry* entry, std::vector<std::string>* itemsToForget) {
    if (!entry || !entry->IsFeed()) return;
    const std::string id = feedlist::IdText(entry->Feed());
    FHost.FeedDeleting(id);

    // Only a decimal id names a stored copy: a hand-edited id must never
    // delete a file elsewhere.
    if (IsValidFeedId(id)) {
        std::error_code ignored;  // a copy that was never written is fine
        std::filesystem::remove(StoredCopyPath(id), ignored);
        if (itemsToForget)
            itemsToForget->push_back(id);
        else
            FHost.ForgetItems({id});
    }
    FTree.List().Remove(*entry);
}

QString ImportSummary(const TImportResult& result) {
    QString text = LangFmtQ("ImportedOPML", {result.added, result.skipped});
    if (result.refused > 0) text += QStringLiteral(" (") + LangFmtQ("ImportedOPMLRefused", {result.refused}) + ')';
    if (result.flattened > 0)
        text += QStringLiteral("; ") + LangFmtQ("ImportedOPMLFlattened", {result.flattened, feedlist::kMaxFolderDepth});
    return text;
}

TImportResult TFeedListController::ImportOPML(const std::string& fileName, const feedlist::TListEntry* target) {
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
    if (accountId.empty()) existing = feedlist::FeedAddresses(FTree.List());
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
        const feedlist::TListEntry* account = FHost.AccountNode(accountId);
        if (!account) throw std::runtime_error(LangFmt("InvalidOPML", {std::string("the account is gone")}));
        return FHost.ImportToAccount(read.Outlines, account);
    }

    // Added a part at a time, the window painting between parts.
    constexpr std::size_t kPart = 1000;
    feedlist::TImportWriter writer(FTree.List(), plat::FormatISO8601(plat::Now()));
    const std::vector<opml::Outline>& toAdd = read.Plan.toAdd;
    for (std::size_t from = 0; from < toAdd.size(); from += kPart) {
        if (from > 0) LetWindowBreathe();
        FTree.BeginBatch();
        writer.Write(toAdd, from, from + kPart);
        FTree.EndBatch();
    }
    FTree.RootNode()->setExpanded(true);
    FHost.Save();
    return {static_cast<int>(toAdd.size()), read.Plan.skipped, read.Plan.refused, writer.Flattened()};
}

void TFeedListController::ExportOPML(const std::string& fileName) {
    const std::vector<opml::Outline> feeds = feedlist::Outlines(
        FTree.List(), [](const feedlist::TFeedEntry& feed) { return StoredChannelTitle(feedlist::IdText(feed)); });
    opml::WriteFile(fileName, feeds, "Quillet feeds");
}

const feedlist::TListEntry* TFeedListController::AddFolder(const std::string& caption,
                                                           const feedlist::TListEntry* parent) {
    // A new folder always, even beside one of the same name.
    const feedlist::TListEntry* added = FTree.List().AddFolder(TargetFolder(parent), feedlist::NewFolder(caption));
    if (!added) throw TooDeep();
    FHost.ScheduleSave();
    return added;
}

void TFeedListController::DeleteFolder(const feedlist::TListEntry* folder, bool withContents) {
    // Neither the root nor a feed.
    if (!folder || folder->IsFeed() || !folder->Parent()) return;
    const feedlist::TListEntry* parent = folder->Parent();
    std::vector<std::string> itemsToForget;
    FTree.BeginBatch();
    if (!withContents) {
        // The contents take the folder's place, in their order.
        int index = static_cast<int>(folder->Index());
        while (folder->ChildCount() > 0 && MoveNode(folder->Child(0), parent, index)) ++index;
    }
    // What may not move there (a folder inside an account's label) goes
    // with the folder instead of being tried for ever.
    for (const feedlist::TListEntry* feed : feedlist::FeedsUnder(*folder)) DeleteFeed(feed, &itemsToForget);
    FTree.List().Remove(*folder);
    FTree.EndBatch();
    FHost.ForgetItems(std::move(itemsToForget));
    FHost.Save();
}

bool TFeedListController::DeleteFolderAsked(const feedlist::TListEntry* folder) {
    if (!folder || !folder->IsFolder() || !folder->Parent() || !AskDeleteFolder) return false;
    const int choice = AskDeleteFolder(*folder);
    if (choice != 1 && choice != 2) return false;
    if (FHost.FolderDeleting) FHost.FolderDeleting(folder, choice == 2);
    DeleteFolder(folder, choice == 2);
    return true;
}

bool TFeedListController::MoveNode(const feedlist::TListEntry* entry, const feedlist::TListEntry* parent, int index) {
    if (!entry || !entry->Parent() || !parent || parent->IsFeed() || parent->IsWithin(entry)) return false;
    if (!FHost.MayMove(entry, parent)) return false;
    if (!FTree.List().Move(*entry, *parent, index < 0 ? SIZE_MAX : static_cast<std::size_t>(index))) throw TooDeep();
    // A server's list moves many at once, and saves once at its end.
    if (FHost.ApplyingSync()) return true;
    FHost.Save();
    return true;
}

void TFeedListController::Rename(const feedlist::TListEntry* entry, const QString& text) {
    // The root is no folder of the user's: it keeps its name.
    if (!entry || !entry->Parent()) return;
    feedlist::TFeedList& list = FTree.List();
    const std::string oldCaption = entry->Caption();
    QTreeWidgetItem* row = FTree.RowOf(entry);
    if (entry->IsFolder()) {
        // A folder keeps a name: an emptied one stays as it was.
        if (!text.trimmed().isEmpty())
            list.UpdateFolder(*entry, [caption = text.trimmed().toStdString()](feedlist::TFolderEntry& folder) {
                folder.Caption = caption;
            });
        if (row) FTree.UpdateNodeCaption(row);
    } else {
        list.UpdateFeed(*entry, [caption = text.toStdString()](feedlist::TFeedEntry& feed) { feed.Caption = caption; });
        // The row shows the name as typed, not the count the list's change
        // would write while the editor closes; an emptied caption shows the
        // address again.
        if (row && text.isEmpty()) {
            FTree.UpdateNodeCaption(row);
        } else if (row) {
            row->setText(0, text);
            static_cast<TFeedNode*>(row)->SetEditText(std::nullopt);
        }
    }
    if (FHost.Renamed) FHost.Renamed(entry, oldCaption);
    FHost.Save();
}

void TFeedListController::FillMoveToMenu(QMenu& menu) {
    menu.clear();
    QTreeWidgetItem* moving = FTree.currentItem();
    if (!moving || moving == FTree.RootNode()) return;
    // The root and every folder, indented by depth; never the node itself,
    // its own folders or where it is already.
    TFeedTree::Walk(FTree.RootNode(), [&](QTreeWidgetItem* each) {
        if (TFeedTree::IsFeedNode(each) || TFeedTree::IsUnder(each, moving)) return;
        int depth = 0;
        for (QTreeWidgetItem* up = each->parent(); up; up = up->parent()) ++depth;
        const QString caption =
            each == FTree.RootNode() ? each->text(0) : Q(static_cast<TFolderNode*>(each)->Folder().Caption);
        QAction* action = menu.addAction(QString(depth * 4, QChar(' ')) + caption);
        action->setEnabled(each != moving->parent());
        QObject::connect(action, &QAction::triggered, &menu, [this, moving, each] {
            FHost.Guarded([&] { MoveNode(TFeedTree::EntryOf(moving), TFeedTree::EntryOf(each)); });
        });
    });
}

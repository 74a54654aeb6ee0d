// What the user does to the feed list: adding and deleting feeds, folders
// and moves, OPML in and out. Each change is made to the typed list, which
// the tree and config.xml follow. What a change means elsewhere (an
// account's server, the item store, the update cycle, saving) is asked of
// the host.
#pragma once

#include <QString>

#include <functional>
#include <string>
#include <vector>

class QMenu;
class QTreeWidgetItem;
class TFeedTree;
namespace feedlist {
class TListEntry;
}
namespace opml {
struct Outline;
}

// What an OPML import did. Skipped outlines were in the list already or
// not feeds; of them, `refused` are addresses Add Feed would not take
// either. `flattened` feeds went into a shallower folder than the file's,
// which nested deeper than a list may.
struct TImportResult {
    int added = 0;
    int skipped = 0;
    int refused = 0;
    int flattened = 0;
};
// The status line after an import, in the user's language.
QString ImportSummary(const TImportResult& result);

class TFeedListController {
public:
    struct THost {
        // Reads the list from config.xml again, dropping what is not saved.
        std::function<void()> Reload;
        // Writes config.xml now, or a few seconds after the first change.
        std::function<void()> Save;
        std::function<void()> ScheduleSave;
        // The account whose folder holds an entry ("" for a local one), its
        // folder, and what the account makes of a new feed, an import and a
        // move.
        std::function<std::string(const feedlist::TListEntry* entry)> AccountIdOf;
        std::function<const feedlist::TListEntry*(const std::string& accountId)> AccountNode;
        std::function<const feedlist::TListEntry*(const std::string& url, const feedlist::TListEntry* folder,
                                                  const std::string& caption)>
            AddAccountFeed;
        std::function<TImportResult(const std::vector<opml::Outline>& outlines, const feedlist::TListEntry* account)>
            ImportToAccount;
        // False refuses a move (out of an account).
        std::function<bool(const feedlist::TListEntry* entry, const feedlist::TListEntry* parent)> MayMove;
        // A folder is about to be deleted as the user asked (optional): an
        // account's server hears of it.
        std::function<void(const feedlist::TListEntry* folder, bool withContents)> FolderDeleting;
        // A feed or folder was renamed (optional): an account's server hears of it.
        std::function<void(const feedlist::TListEntry* entry, const std::string& oldCaption)> Renamed;
        // True while a server's list is applied: its moves save once at its end.
        std::function<bool()> ApplyingSync;
        // A new feed is fetched once.
        std::function<void(const std::string& id)> Update;
        // A feed is about to go: nobody may keep working on it.
        std::function<void(const std::string& id)> FeedDeleting;
        // The stored items of deleted feeds go, in one transaction.
        std::function<void(std::vector<std::string> ids)> ForgetItems;
        // Runs a handler, showing an error instead of letting it escape.
        std::function<void(const std::function<void()>& handler)> Guarded;
    };

    TFeedListController(TFeedTree& tree, THost host);

    // The list as config.xml holds it now, its rows made anew.
    void Reload() { FHost.Reload(); }

    // Entries are the list's; null stands for the root where a folder is
    // asked for, and a feed given as the folder stands for its own folder.
    //
    // Appends a feed for `url` (taken exactly as typed) to `folder`,
    // updates it once and saves config.xml; into an account, its server is
    // asked to subscribe. Returns the new entry.
    const feedlist::TListEntry* AddFeed(const std::string& url, const feedlist::TListEntry* folder = nullptr,
                                        const std::string& caption = std::string());
    // Appends a new feed with the next id to `folder` (the list's root when
    // null), nothing more; null when the folder takes no feed.
    const feedlist::TListEntry* AppendFeed(const std::string& url, const std::string& caption,
                                           const feedlist::TListEntry* folder = nullptr);
    // Deletes the stored copy and the feed, telling the host first. With `itemsToForget`, the feed's stored items are
    // left for the caller to forget with the others in one transaction.
    void DeleteFeed(const feedlist::TListEntry* feed, std::vector<std::string>* itemsToForget = nullptr);

    // A new folder at the end of `parent`.
    const feedlist::TListEntry* AddFolder(const std::string& caption, const feedlist::TListEntry* parent = nullptr);
    // Deletes a folder: its feeds and folders move up to its place, or are
    // deleted with it.
    void DeleteFolder(const feedlist::TListEntry* folder, bool withContents);
    // How the user wants a folder deleted: 0 cancels, 1 keeps its contents,
    // 2 deletes them. The window asks; tests answer.
    std::function<int(const feedlist::TListEntry& folder)> AskDeleteFolder;
    // Deletes a folder the way AskDeleteFolder answers; false when nothing
    // was deleted.
    bool DeleteFolderAsked(const feedlist::TListEntry* folder);
    // Moves a feed or folder into `parent` at child position `index` (the
    // end when out of range). Returns false for a move that cannot be (the
    // root, into itself or one of its own folders).
    bool MoveNode(const feedlist::TListEntry* entry, const feedlist::TListEntry* parent, int index = -1);
    // A confirmed edit of a row's label, saved at once. A feed takes the
    // text as typed (a count suffix left in place included; empty shows its
    // address again); a folder keeps its name when the text is blank; the
    // root and anything else are not renamed.
    void Rename(const feedlist::TListEntry* entry, const QString& text);
    // Fills a "Move to" menu with the root and every folder the current row
    // may go to.
    void FillMoveToMenu(QMenu& menu);

    // Adds the feeds of an OPML subscription list that are not in the list
    // yet, with their titles as captions, and saves; the polling thread
    // fetches them in turn. The file is read beside the window and the
    // feeds added a part at a time. With an account's folder as `target`, the
    // feeds are subscribed to on its server instead. A file that is not
    // OPML raises an error carrying the "InvalidOPML" message; an import
    // while another runs, "ImportOPMLBusy".
    TImportResult ImportOPML(const std::string& fileName, const feedlist::TListEntry* target = nullptr);
    // Writes the feed list (addresses and captions, in their folders) as an
    // OPML 2.0 file.
    void ExportOPML(const std::string& fileName);

private:
    // Where something added with `entry` chosen goes: the folder itself, or
    // the folder of a feed; the root for none.
    const feedlist::TListEntry& TargetFolder(const feedlist::TListEntry* entry) const;

    TFeedTree& FTree;
    THost FHost;
    bool FImportRunning = false;
};

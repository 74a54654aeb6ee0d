// The feed tree: the view of the typed feed list. Each row stands for one
// row of the list and follows it: the list tells the tree of every change
// and the tree makes, moves, removes and captions its rows (bold with a
// count while unread, folders with their sums), filters them and tells
// when the list's shape changed. Nothing outside this view reads a feed's
// state from a row: a row only leads to its list entry.
#pragma once

#include <QIcon>
#include <QString>
#include <QTreeWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "FeedListModel.h"

// A row of the tree: a handle to its entry in the feed list.
class TListRow : public QTreeWidgetItem {
public:
    TListRow(int type, const feedlist::TListEntry& entry, QIcon icon)
        : QTreeWidgetItem(type), FEntry(&entry), FIcon(std::move(icon)) {}
    const feedlist::TListEntry& Entry() const { return *FEntry; }

    // Every feed shows the same icon; it is handed out when a row is
    // painted instead of being stored as item data in each of possibly
    // thousands of nodes.
    QVariant data(int column, int role) const override;
    // What the row shows for a state (an update under way or failed, an
    // account's sync): an icon in place of its own (a null icon for none)
    // and a tooltip; what the icon means is said in words to a screen
    // reader: why the last update failed, else why the feed needs
    // attention. The row is repainted by the caller: announcing a change
    // of the item's data would also reset the label editor, throwing away
    // a new name being typed.
    void ShowState(QIcon icon, QString toolTip, QString failure = {}, QString attention = {}) {
        FStateIcon = std::move(icon);
        FToolTip = std::move(toolTip);
        FFailure = std::move(failure);
        FAttention = std::move(attention);
    }
    const QString& ToolTip() const { return FToolTip; }
    const QString& Failure() const { return FFailure; }

protected:
    // The text the label editor starts with; nullopt for the shown text.
    virtual std::optional<QString> EditText() const { return std::nullopt; }

private:
    const feedlist::TListEntry* FEntry;
    QIcon FIcon;
    QIcon FStateIcon;
    QString FToolTip;
    QString FFailure;
    QString FAttention;
};

// A feed's row.
class TFeedNode : public TListRow {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 1;
    TFeedNode(const feedlist::TListEntry& entry, QIcon icon) : TListRow(kType, entry, std::move(icon)) {}
    const feedlist::TFeedEntry& Feed() const { return Entry().Feed(); }

    // The text the label editor starts with when the row shows something
    // else than the feed's own caption (its address standing in for an
    // empty one); nullopt when the shown text is the one to edit.
    void SetEditText(std::optional<QString> text) { FEditText = std::move(text); }

protected:
    std::optional<QString> EditText() const override { return FEditText; }

private:
    std::optional<QString> FEditText;
};

// A folder's row; an account's folder is one too.
class TFolderNode : public TListRow {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 2;
    TFolderNode(const feedlist::TListEntry& entry, QIcon icon) : TListRow(kType, entry, std::move(icon)) {}
    const feedlist::TFolderEntry& Folder() const { return Entry().Folder(); }

protected:
    std::optional<QString> EditText() const override { return QString::fromStdString(Folder().Caption); }
};

// The root row, "Quillet": the list's own root.
class TRootNode : public TListRow {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 3;
    TRootNode(const feedlist::TListEntry& entry, QIcon icon) : TListRow(kType, entry, std::move(icon)) {}
};

class TFeedTree : public QTreeWidget, private feedlist::TFeedListObserver {
public:
    explicit TFeedTree(QWidget* parent = nullptr);
    ~TFeedTree() override;

    using QTreeWidget::itemFromIndex;
    bool Editing() const { return state() == EditingState; }

    // Shows `list` from now on (none: no rows), its rows made at once and
    // following every change the list tells of.
    void Follow(feedlist::TFeedList* list);
    feedlist::TFeedList& List() const { return *FList; }

    // A feed or folder dropped in the tree is moved by the caller, which
    // moves its entry; the view itself moves nothing.
    std::function<void(QTreeWidgetItem* node, QTreeWidgetItem* parent, int index)> OnMove;
    // An address or file dropped from another program.
    std::function<void(const QString& text)> OnDropFromOutside;
    // A feed's row shows a new caption.
    std::function<void(const feedlist::TFeedEntry& feed)> OnFeedCaptionShown;
    // The rows were made anew: rows of the view's own (not the list's) are
    // placed again.
    std::function<void()> OnRowsReset;

    // An icon drawn once at the tree's icon size.
    QIcon Icon(const QString& path) const;

    // ---- Rows and entries ----
    QTreeWidgetItem* RootNode() const { return FList ? RowOf(&FList->Root()) : nullptr; }
    // The list entry of any row (the root's is the list's root); null for none.
    static const feedlist::TListEntry* EntryOf(const QTreeWidgetItem* node);
    // The feed of a feed's row; null for any other row or none.
    static const feedlist::TFeedEntry* FeedOf(const QTreeWidgetItem* node);
    // The row of an entry; null for none.
    QTreeWidgetItem* RowOf(const feedlist::TListEntry* entry) const;
    // The id of a feed's row; "" for any other row or none.
    static std::string FeedIdOf(const QTreeWidgetItem* node);
    static bool IsFeedNode(const QTreeWidgetItem* node) { return node && node->type() == TFeedNode::kType; }
    static bool IsFolderNode(const QTreeWidgetItem* node) { return node && node->type() == TFolderNode::kType; }
    // Whether `node` is `ancestor` or lies under it.
    static bool IsUnder(const QTreeWidgetItem* node, const QTreeWidgetItem* ancestor);
    // Calls `visit` for `node` and everything under it, parents before
    // their children, in the tree's order.
    static void Walk(const QTreeWidgetItem* node, const std::function<void(QTreeWidgetItem*)>& visit);
    // Where something added with `node` selected goes: the folder or root
    // itself, or the folder of a feed.
    QTreeWidgetItem* TargetFolder(QTreeWidgetItem* node) const;
    // The row of the feed with this id, or nullptr.
    QTreeWidgetItem* FindFeedNodeById(const std::string& id) const;
    // The feed rows at or under `node`, in the tree's order.
    std::vector<QTreeWidgetItem*> FeedNodesUnder(QTreeWidgetItem* node) const;
    // The ids of the feeds at or under these rows, each once, in the tree's order.
    std::vector<std::string> FeedIdsUnder(const std::vector<QTreeWidgetItem*>& nodes) const;
    // The sum of the unread counts of the feeds under a row.
    static long long UnreadUnder(const QTreeWidgetItem* node);

    // Between these, changes of many rows (an import, a server's list, a
    // deletion of thousands) are shown at once: new rows enter their
    // parents in one go, and folders' sums and the filter are taken once
    // at the end instead of once per feed. Batches nest.
    void BeginBatch();
    void EndBatch();

    // ---- Captions ----
    // The text a feed's row shows.
    static QString FeedDisplayText(const feedlist::TFeedEntry& feed);
    // Its name alone, without the count: the caption, or the address
    // standing in for an empty one.
    static QString FeedName(const feedlist::TFeedEntry& feed);
    // "caption", followed by " (unread)" while unread is not 0; bold then.
    void UpdateNodeCaption(QTreeWidgetItem* node);
    // Brings the captions of the folders above `node` up to date.
    void UpdateFolderCaptions(QTreeWidgetItem* node);
    // Opens the folders under `node` as their entries say.
    void RestoreExpansion(QTreeWidgetItem* node);

    // ---- The filter ----
    // Shows only the feeds whose name holds `text` (any case), or whose
    // address does when the text looks like one (LooksLikeAddress), with
    // their folders; an empty text shows everything again.
    void SetFeedFilter(const QString& text);
    static bool LooksLikeAddress(const QString& text);
    static bool FilterMatches(const feedlist::TFeedEntry& feed, const QString& wanted, bool byAddress);
    const QString& FeedFilterText() const { return FFilter; }
    // Applies the filter again after rows came or moved; nothing without one.
    void ReapplyFilter();
    // True while the filter opens folders, which must not be remembered.
    bool Filtering() const { return FFiltering; }

    // Changes whenever the rows or a feed's own interval or address change:
    // the polling thread reads the feed list again only then.
    std::uint64_t ListVersion() const { return FListVersion; }
    void NoteListChanged() { ++FListVersion; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The list's changes.
    void EntryInserted(const feedlist::TListEntry& entry) override;
    void EntryRemoving(const feedlist::TListEntry& entry) override;
    void EntryMoved(const feedlist::TListEntry& entry, const feedlist::TListEntry& oldParent,
                    std::size_t oldIndex) override;
    void EntryChanged(const feedlist::TListEntry& entry) override;
    void ListReset() override;

    // Makes the rows of every entry under `parent`'s entry, depth first.
    void BuildRows(QTreeWidgetItem* parent);
    QTreeWidgetItem* NewRow(const feedlist::TListEntry& entry);
    // Enters the rows a batch made.
    void FlushNewRows();
    // After a change outside a batch: the folders above `node` and the filter.
    void Refresh(QTreeWidgetItem* node);
    void SetCaptionFont(QTreeWidgetItem* node, bool bold);

    feedlist::TFeedList* FList = nullptr;
    QIcon FFeedIcon;
    QIcon FFolderIcon;
    QIcon FRootIcon;
    std::unordered_map<const feedlist::TListEntry*, QTreeWidgetItem*> FRows;
    int FBatch = 0;
    // New rows by parent, in the order they came, while a batch lasts.
    std::vector<std::pair<QTreeWidgetItem*, QList<QTreeWidgetItem*>>> FNewRows;
    std::unordered_map<QTreeWidgetItem*, std::size_t> FNewRowsOf;
    std::vector<QTreeWidgetItem*> FNewFolders;
    QString FFilter;
    bool FFiltering = false;
    std::uint64_t FListVersion = 0;
};

// The feed tree: the view of the feed list in config.xml. A feed's row
// refers to its <item> element and a folder's row to its <folder> element,
// so the tree holds no second copy of the list; this class makes the rows,
// finds them by feed id, keeps their captions (bold with a count while
// unread, folders with their sums), filters them and tells when the list's
// shape changed. What a change means for the program (saving, the server of
// an account, the item store) is decided by its callers.
#pragma once

#include <QDateTime>
#include <QIcon>
#include <QString>
#include <QTreeWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "XmlDom.h"

// A feed's row: a handle to its <item> element and the state of its
// updates, which is kept in memory only.
class TFeedNode : public QTreeWidgetItem {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 1;
    TFeedNode(xml::Node item, QIcon icon) : QTreeWidgetItem(kType), FItem(std::move(item)), FIcon(std::move(icon)) {}
    const xml::Node& Item() const { return FItem; }

    // Every feed shows the same icon; it is handed out when a row is
    // painted instead of being stored as item data in each of possibly
    // thousands of nodes.
    QVariant data(int column, int role) const override {
        if (column == 0 && role == Qt::DecorationRole) return FStateIcon.isNull() ? FIcon : FStateIcon;
        if (column == 0 && role == Qt::ToolTipRole && !FToolTip.isEmpty()) return FToolTip;
        if (column == 0 && role == Qt::EditRole && FEditText) return *FEditText;
        return QTreeWidgetItem::data(column, role);
    }

    // Downloading now, and the last failure (its text and time) until the
    // next success.
    bool Busy() const { return FBusy; }
    bool Failed() const { return !FFailure.isEmpty(); }
    const QString& Failure() const { return FFailure; }
    const QDateTime& FailureTime() const { return FFailureTime; }
    void SetBusy(bool busy) { FBusy = busy; }
    void SetFailure(QString failure, QDateTime when) {
        FFailure = std::move(failure);
        FFailureTime = std::move(when);
    }
    // What the row shows for that state: an icon in place of the feed's
    // (a null icon for none) and a tooltip. The row is repainted by the
    // caller: announcing a change of the item's data would also reset the
    // label editor, throwing away a new name being typed.
    void ShowState(QIcon icon, QString toolTip) {
        FStateIcon = std::move(icon);
        FToolTip = std::move(toolTip);
    }
    // The text the label editor starts with when the row shows something
    // else than the feed's own caption (its address standing in for an
    // empty one); nullopt when the shown text is the one to edit.
    void SetEditText(std::optional<QString> text) { FEditText = std::move(text); }

private:
    xml::Node FItem;
    QIcon FIcon;
    QIcon FStateIcon;
    QString FToolTip;
    std::optional<QString> FEditText;
    bool FBusy = false;
    QString FFailure;
    QDateTime FFailureTime;
};

// A folder's row: a handle to its <folder> element, which holds the <item>
// and <folder> elements of what the folder contains.
class TFolderNode : public QTreeWidgetItem {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 2;
    TFolderNode(xml::Node folder, QIcon icon)
        : QTreeWidgetItem(kType), FFolder(std::move(folder)), FIcon(std::move(icon)) {}
    xml::Node Folder() const { return FFolder; }
    QVariant data(int column, int role) const override {
        if (column == 0 && role == Qt::DecorationRole) return FStateIcon.isNull() ? FIcon : FStateIcon;
        if (column == 0 && role == Qt::ToolTipRole && !FToolTip.isEmpty()) return FToolTip;
        if (column == 0 && role == Qt::EditRole)
            return QString::fromStdString(FFolder.Attribute("caption").value_or(""));
        return QTreeWidgetItem::data(column, role);
    }
    // An account's folder shows the state of its syncs as a feed row shows
    // its updates': an icon in place of the folder's and a tooltip.
    void ShowState(QIcon icon, QString toolTip) {
        FStateIcon = std::move(icon);
        FToolTip = std::move(toolTip);
    }
    const QString& ToolTip() const { return FToolTip; }

private:
    xml::Node FFolder;
    QIcon FIcon;
    QIcon FStateIcon;
    QString FToolTip;
};

class TFeedTree : public QTreeWidget {
public:
    explicit TFeedTree(QWidget* parent = nullptr);

    using QTreeWidget::itemFromIndex;
    bool Editing() const { return state() == EditingState; }

    // A feed or folder dropped in the tree is moved by the caller, which
    // moves its element too; the view itself moves nothing.
    std::function<void(QTreeWidgetItem* node, QTreeWidgetItem* parent, int index)> OnMove;
    // An address or file dropped from another program.
    std::function<void(const QString& text)> OnDropFromOutside;
    // A feed's row shows a new caption.
    std::function<void(const xml::Node& item)> OnFeedCaptionShown;

    // An icon drawn once at the tree's icon size.
    QIcon Icon(const QString& path) const;

    // ---- The rows ----
    // Makes the rows of the feed list element `list` (the root "Quillet"
    // and everything under it), replacing any there were.
    void Load(const xml::Node& list);
    QTreeWidgetItem* RootNode() const { return topLevelItem(0); }
    // The <item> element of a feed's row; null for any other row or none.
    static xml::Node GetFeedItem(QTreeWidgetItem* node);
    // The id of a feed's row; "" for any other row or none.
    static std::string FeedIdOf(QTreeWidgetItem* node);
    static bool IsFolderNode(const QTreeWidgetItem* node);
    // Whether `node` is `ancestor` or lies under it.
    static bool IsUnder(const QTreeWidgetItem* node, const QTreeWidgetItem* ancestor);
    // Calls `visit` for `node` and everything under it, parents before
    // their children, in the tree's order.
    static void Walk(const QTreeWidgetItem* node, const std::function<void(QTreeWidgetItem*)>& visit);
    // The element that holds what a row contains: a folder's <folder>, the
    // root's feed list; null for a feed or no row.
    xml::Node ContainerElement(QTreeWidgetItem* node) const;
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

    // Appends a row for an existing <item> element under `parent` (the
    // root when null).
    QTreeWidgetItem* AddFeedNode(xml::Node item, QTreeWidgetItem* parent = nullptr);
    // Appends a row for a new <folder> element under `parent`, open.
    QTreeWidgetItem* AddFolderNode(xml::Node folder, QTreeWidgetItem* parent);
    // The row of the list or of a <folder> element, its folder rows made
    // where they are missing.
    QTreeWidgetItem* NodeForContainer(const xml::Node& container);
    // Makes the rows of feeds just appended to the list (and of the folders
    // made for them), entering each parent's new rows in one go.
    void AttachNewFeeds(const std::vector<xml::Node>& items);
    // Drops a row that is about to be deleted from the id lookup.
    void ForgetFeedNode(QTreeWidgetItem* node, const std::string& id);

    // ---- Captions ----
    // The text a feed's row shows for its element.
    static QString FeedDisplayText(const xml::Node& item);
    // "caption", followed by " (unread)" while unread is not 0; bold then.
    void UpdateNodeCaption(QTreeWidgetItem* node);
    // Brings the captions of the folders above `node` up to date.
    void UpdateFolderCaptions(QTreeWidgetItem* node);
    // Between these, folders' sums and the filter wait: a batch of many
    // feeds (a server's list) takes each once at the end, for `node` and
    // everything under it, instead of once per feed.
    void BeginDeferredFolderCaptions() { FFolderCaptionsDeferred = true; }
    void EndDeferredFolderCaptions(QTreeWidgetItem* node);
    // Opens the folders under `node` as their elements say.
    void RestoreExpansion(QTreeWidgetItem* node);

    // ---- The filter ----
    // Shows only the feeds whose caption or address holds `text` (any
    // case), with their folders; an empty text shows everything again.
    void SetFeedFilter(const QString& text);
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
    std::unique_ptr<QTreeWidgetItem> NewFeedNode(xml::Node item);
    std::unique_ptr<QTreeWidgetItem> NewFolderNode(xml::Node folder);
    // Builds the rows of a container element's feeds and folders under
    // `parent`, indexing the feeds.
    void BuildNodes(QTreeWidgetItem* parent, const xml::Node& container);
    void RememberFeedNode(QTreeWidgetItem* node);
    void SetCaptionFont(QTreeWidgetItem* node, bool bold);

    xml::Node FList;
    QIcon FFeedIcon;
    QIcon FFolderIcon;
    QIcon FRootIcon;
    // The feed rows by their element's id.
    std::unordered_map<std::string, QTreeWidgetItem*> FFeedNodes;
    // Ids more than one row was given (a hand-edited list).
    std::set<std::string> FRepeatedFeedIds;
    bool FFolderCaptionsDeferred = false;
    QString FFilter;
    bool FFiltering = false;
    std::uint64_t FListVersion = 0;
};

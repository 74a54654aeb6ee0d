// The feed list as typed records: feeds, folders and the accounts' folders,
// nested as the user arranged them. It is the one source the tree, the
// counts, the tray and the save follow: every change goes through this class,
// which tells its observers, and config.xml is only its stored form
// (FeedListXml.h). No Qt and no widgets, so that decisions about feeds are
// tested without a window.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace feedlist {

// How deep folders may nest in the list. config.xml puts the list four
// elements below its root and libxml2 refuses documents deeper than 256, so
// a bound well below that keeps every list Quillet saves readable again.
inline constexpr int kMaxFolderDepth = 64;

// Attributes this version does not know, kept as written so that a list
// saved here still carries what a newer version put in it.
using TAttributes = std::vector<std::pair<std::string, std::string>>;

struct TFeedEntry {
    int Id = 0;  // 0 until the list gives one
    // The id as config.xml spells it when that is not the plain number
    // ("007"): it names the stored copy feeds/<id>.xml and the feed's items,
    // so it is kept. Empty for the plain spelling.
    std::string IdSpelling;
    std::string Url;
    std::string Caption;
    long long Unread = 0;
    std::string LastUpdate;
    bool Notify = true;                  // false: new items are counted, not announced
    bool FullArticle = false;            // true: each item's article is fetched and shown
    std::optional<int> IntervalSeconds;  // the feed's own interval, when it has one
    std::string Stopped;                 // why polling stopped ("gone"); empty while polled
    std::string Stream;                  // an account's feed: the server's stream id
    std::string ETag;                    // the validators of the last download
    std::string LastModified;
    TAttributes Other;
    // Every attribute name in the order read, so that a list loaded and
    // saved unchanged is written as it was.
    std::vector<std::string> Order;
};

// The feed's id as the rest of the program names it: its stored copy, its
// items and its health are filed under this text.
std::string IdText(const TFeedEntry& feed);

// Drops the validators of the last download: they belong to the answer of
// one address, and go with it (from config.xml too).
void ForgetValidators(TFeedEntry& feed);

// An attribute kept as written; null when there is none.
const std::string* FindAttribute(const TAttributes& attributes, const std::string& name);
// Sets or, with nullopt, removes an attribute kept as written.
void SetAttribute(TAttributes& attributes, const std::string& name, std::optional<std::string> value);

// A feed-server account shows as a top-level folder holding its feeds.
struct TAccountEntry {
    std::string Id;       // stable key: the sync state, the queue, the secret
    std::string Address;  // as typed: the API's base or the site's
    std::string User;
};

struct TFolderEntry {
    std::string Caption;
    bool Expanded = true;  // a folder is open unless it was closed
    std::optional<TAccountEntry> Account;
    TAttributes Other;
    std::vector<std::string> Order;
};

// A new folder's record: open, with its caption and state written out as a
// folder made here always was.
TFolderEntry NewFolder(std::string caption);

// One row of the list: a feed, or a folder with its children. Rows are
// owned by their parent and keep their address while they live, so a view
// may hold pointers to them between the changes it is told of.
class TListEntry {
public:
    explicit TListEntry(TFeedEntry feed) : FValue(std::move(feed)) {}
    explicit TListEntry(TFolderEntry folder) : FValue(std::move(folder)) {}

    bool IsFeed() const { return std::holds_alternative<TFeedEntry>(FValue); }
    bool IsFolder() const { return !IsFeed(); }
    bool IsAccount() const { return IsFolder() && Folder().Account.has_value(); }
    const TFeedEntry& Feed() const { return std::get<TFeedEntry>(FValue); }
    const TFolderEntry& Folder() const { return std::get<TFolderEntry>(FValue); }
    const std::string& Caption() const { return IsFeed() ? Feed().Caption : Folder().Caption; }

    TListEntry* Parent() const { return FParent; }
    const std::vector<std::unique_ptr<TListEntry>>& Children() const { return FChildren; }
    std::size_t ChildCount() const { return FChildren.size(); }
    TListEntry* Child(std::size_t index) const { return index < FChildren.size() ? FChildren[index].get() : nullptr; }
    // The row's place among its parent's children; 0 for the root.
    std::size_t Index() const;
    // Folders above the row, the list's own root not counted.
    int Depth() const;
    // The account folder the row lies in (itself for one); null for a local row.
    const TListEntry* AccountFolder() const;
    // Whether `ancestor` is this row or one of the folders it lies in.
    bool IsWithin(const TListEntry* ancestor) const;
    // The sum of the unread counts of the feeds at or under this row.
    long long UnreadUnder() const;

private:
    friend class TFeedList;
    std::variant<TFeedEntry, TFolderEntry> FValue;
    TListEntry* FParent = nullptr;
    std::vector<std::unique_ptr<TListEntry>> FChildren;
};

// What a view needs to follow the list. Each change is told once, after it
// is made, except a removal, told before, while the row still exists.
// The feeds at or under a row, in the list's order (depth first).
std::vector<const TListEntry*> FeedsUnder(const TListEntry& top, std::size_t expected = 0);

class TFeedListObserver {
public:
    virtual ~TFeedListObserver() = default;
    virtual void EntryInserted(const TListEntry& /*entry*/) {}
    virtual void EntryRemoving(const TListEntry& /*entry*/) {}
    virtual void EntryMoved(const TListEntry& /*entry*/, const TListEntry& /*oldParent*/, std::size_t /*oldIndex*/) {}
    virtual void EntryChanged(const TListEntry& /*entry*/) {}
    // The whole list was replaced (a load).
    virtual void ListReset() {}
};

class TFeedList {
public:
    TFeedList();
    TFeedList(const TFeedList&) = delete;
    TFeedList& operator=(const TFeedList&) = delete;

    // The list's own root: a folder that holds the top-level rows.
    const TListEntry& Root() const { return *FRoot; }
    TListEntry& Root() { return *FRoot; }

    // The feed with this id, or null.
    const TListEntry* FindFeed(int id) const;
    // The same for an id as text ("12", "007"); null for one that is no id.
    const TListEntry* FindFeed(const std::string& id) const;
    // The account's folder, or null.
    const TListEntry* FindAccount(const std::string& accountId) const;
    // Every feed in the list's order (depth first, as the tree shows them).
    std::vector<const TListEntry*> Feeds() const;
    std::size_t FeedCount() const { return FFeeds.size(); }

    // The id the next feed gets: never below one more than the largest id
    // in use, so an edited list does not hand out an id twice.
    int NextId() const { return FNextId; }
    void SetNextId(int id);

    // Adds a feed at `index` of `parent` (the end when out of range); a
    // feed without an id gets the next one. Returns the new row, or null
    // when the id is already in use or the parent is a feed.
    const TListEntry* AddFeed(const TListEntry& parent, TFeedEntry feed, std::size_t index = SIZE_MAX);
    // Adds a folder; null when it would nest deeper than kMaxFolderDepth.
    const TListEntry* AddFolder(const TListEntry& parent, TFolderEntry folder, std::size_t index = SIZE_MAX);
    // Moves a row into `parent` at `index` (the end when out of range).
    // False for a move that cannot be: the root, into itself or one of its
    // own folders, into a feed, or deeper than kMaxFolderDepth.
    bool Move(const TListEntry& entry, const TListEntry& parent, std::size_t index = SIZE_MAX);
    // Removes a row with everything under it.
    void Remove(const TListEntry& entry);
    // Removes many rows with everything under them, in time that grows
    // with them and their folders rather than with their product; each is
    // told before any goes.
    void RemoveAll(const std::vector<const TListEntry*>& entries);
    // Removes a folder and moves what it holds up to its place.
    void Dissolve(const TListEntry& folder);

    // Changes a row through `change` and tells the observers; a feed's id
    // cannot change.
    void UpdateFeed(const TListEntry& feed, const std::function<void(TFeedEntry&)>& change);
    void UpdateFolder(const TListEntry& folder, const std::function<void(TFolderEntry&)>& change);

    // Replaces the whole list with another's rows (the loader builds a list
    // of its own and hands it over); `from` is left empty.
    void Reset(TFeedList& from);

    void AddObserver(TFeedListObserver* observer);
    void RemoveObserver(TFeedListObserver* observer);

    // How deep the deepest folder under `entry` lies below it (0 for a feed
    // or an empty folder).
    static int FolderHeight(const TListEntry& entry);

private:
    TListEntry& Mutable(const TListEntry& entry) { return const_cast<TListEntry&>(entry); }
    // Puts a row at `index` of `parent` (the end when out of range).
    TListEntry* Insert(const TListEntry& parent, std::unique_ptr<TListEntry> row, std::size_t index);
    void Index(const TListEntry& entry);
    void Unindex(const TListEntry& entry);
    template <class F>
    void Tell(F&& call) {
        for (TFeedListObserver* observer : FObservers) call(*observer);
    }

    std::unique_ptr<TListEntry> FRoot;
    std::unordered_map<int, const TListEntry*> FFeeds;
    int FNextId = 1;
    std::vector<TFeedListObserver*> FObservers;
};

}  // namespace feedlist

#include "FeedListModel.h"

#include <algorithm>
#include <charconv>
#include <unordered_set>

namespace feedlist {

namespace {

// Calls `visit` for `top` and every row under it, depth first in the list's
// order, without recursion: folders nest as deep as an old list made them.
template <class Entry, class F>
void Walk(Entry& top, F&& visit) {
    std::vector<Entry*> pending{&top};
    while (!pending.empty()) {
        Entry* entry = pending.back();
        pending.pop_back();
        visit(*entry);
        const auto& children = entry->Children();
        for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back(it->get());
    }
}

}  // namespace

std::string IdText(const TFeedEntry& feed) {
    return feed.IdSpelling.empty() ? std::to_string(feed.Id) : feed.IdSpelling;
}

TFolderEntry NewFolder(std::string caption) {
    TFolderEntry folder;
    folder.Caption = std::move(caption);
    folder.Expanded = true;
    folder.Order = {"caption", "expanded"};
    return folder;
}

void ForgetValidators(TFeedEntry& feed) {
    feed.ETag.clear();
    feed.LastModified.clear();
    std::erase_if(feed.Order, [](const std::string& name) { return name == "etag" || name == "lastmodified"; });
}

const std::string* FindAttribute(const TAttributes& attributes, const std::string& name) {
    for (const auto& [key, value] : attributes)
        if (key == name) return &value;
    return nullptr;
}

void SetAttribute(TAttributes& attributes, const std::string& name, std::optional<std::string> value) {
    const auto it =
        std::find_if(attributes.begin(), attributes.end(), [&name](const auto& kept) { return kept.first == name; });
    if (!value) {
        if (it != attributes.end()) attributes.erase(it);
    } else if (it != attributes.end()) {
        it->second = std::move(*value);
    } else {
        attributes.emplace_back(name, std::move(*value));
    }
}

std::size_t TListEntry::Index() const {
    if (!FParent) return 0;
    const auto& siblings = FParent->FChildren;
    const auto it =
        std::find_if(siblings.begin(), siblings.end(), [this](const auto& row) { return row.get() == this; });
    return static_cast<std::size_t>(it - siblings.begin());
}

int TListEntry::Depth() const {
    int depth = 0;
    for (const TListEntry* above = FParent; above && above->FParent; above = above->FParent) ++depth;
    return depth;
}

const TListEntry* TListEntry::AccountFolder() const {
    for (const TListEntry* row = this; row; row = row->FParent)
        if (row->IsAccount()) return row;
    return nullptr;
}

bool TListEntry::IsWithin(const TListEntry* ancestor) const {
    for (const TListEntry* row = this; row; row = row->FParent)
        if (row == ancestor) return true;
    return false;
}

long long TListEntry::UnreadUnder() const {
    long long sum = 0;
    Walk(*this, [&sum](const TListEntry& row) {
        if (row.IsFeed()) sum += row.Feed().Unread;
    });
    return sum;
}

TFeedList::TFeedList() : FRoot(std::make_unique<TListEntry>(TFolderEntry{})) {}

const TListEntry* TFeedList::FindFeed(int id) const {
    const auto it = FFeeds.find(id);
    return it == FFeeds.end() ? nullptr : it->second;
}

const TListEntry* TFeedList::FindFeed(const std::string& id) const {
    int number = 0;
    const auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), number);
    if (error != std::errc() || end != id.data() + id.size() || number <= 0) return nullptr;
    const TListEntry* found = FindFeed(number);
    return found && IdText(found->Feed()) == id ? found : nullptr;
}

const TListEntry* TFeedList::FindAccount(const std::string& accountId) const {
    for (const auto& child : FRoot->Children())
        if (child->IsAccount() && child->Folder().Account->Id == accountId) return child.get();
    return nullptr;
}

std::vector<const TListEntry*> FeedsUnder(const TListEntry& top, std::size_t expected) {
    std::vector<const TListEntry*> feeds;
    feeds.reserve(expected);
    Walk(top, [&feeds](const TListEntry& row) {
        if (row.IsFeed()) feeds.push_back(&row);
    });
    return feeds;
}

std::vector<const TListEntry*> TFeedList::Feeds() const { return FeedsUnder(*FRoot, FFeeds.size()); }

void TFeedList::SetNextId(int id) {
    int largest = 0;
    for (const auto& [feedId, row] : FFeeds) largest = std::max(largest, feedId);
    FNextId = std::max(id, largest + 1);
}

TListEntry* TFeedList::Insert(const TListEntry& parent, std::unique_ptr<TListEntry> row, std::size_t index) {
    TListEntry& into = Mutable(parent);
    row->FParent = &into;
    TListEntry* inserted = row.get();
    into.FChildren.insert(into.FChildren.begin() + static_cast<std::ptrdiff_t>(std::min(index, into.FChildren.size())),
                          std::move(row));
    return inserted;
}

const TListEntry* TFeedList::AddFeed(const TListEntry& parent, TFeedEntry feed, std::size_t index) {
    if (!parent.IsFolder()) return nullptr;
    if (feed.Id <= 0) feed.Id = FNextId;
    if (FFeeds.count(feed.Id)) return nullptr;
    FNextId = std::max(FNextId, feed.Id + 1);
    TListEntry* added = Insert(parent, std::make_unique<TListEntry>(std::move(feed)), index);
    Index(*added);
    Tell([added](TFeedListObserver& o) { o.EntryInserted(*added); });
    return added;
}

const TListEntry* TFeedList::AddFolder(const TListEntry& parent, TFolderEntry folder, std::size_t index) {
    if (!parent.IsFolder() || parent.Depth() + (parent.Parent() ? 1 : 0) >= kMaxFolderDepth) return nullptr;
    TListEntry* added = Insert(parent, std::make_unique<TListEntry>(std::move(folder)), index);
    Tell([added](TFeedListObserver& o) { o.EntryInserted(*added); });
    return added;
}

int TFeedList::FolderHeight(const TListEntry& entry) {
    int height = 0;
    Walk(entry, [&](const TListEntry& row) {
        if (row.IsFolder() && &row != &entry) {
            int depth = 0;
            for (const TListEntry* above = &row; above != &entry; above = above->Parent()) ++depth;
            height = std::max(height, depth);
        }
    });
    return height;
}

bool TFeedList::Move(const TListEntry& entry, const TListEntry& parent, std::size_t index) {
    if (!entry.Parent() || !parent.IsFolder() || parent.IsWithin(&entry)) return false;
    if (entry.IsFolder()) {
        // The moved folder sits one below `parent`, its own folders further down.
        const int parentLevel = parent.Parent() ? parent.Depth() + 1 : 0;
        if (parentLevel + 1 + FolderHeight(entry) > kMaxFolderDepth) return false;
    }
    TListEntry& from = *entry.FParent;
    const std::size_t oldIndex = entry.Index();
    std::unique_ptr<TListEntry> row = std::move(from.FChildren[oldIndex]);
    from.FChildren.erase(from.FChildren.begin() + static_cast<std::ptrdiff_t>(oldIndex));
    TListEntry& into = Mutable(parent);
    // An index counted before the row left its own folder.
    if (&into == &from && index != SIZE_MAX && index > oldIndex) --index;
    Insert(into, std::move(row), index);
    Tell([&](TFeedListObserver& o) { o.EntryMoved(entry, from, oldIndex); });
    return true;
}

void TFeedList::Remove(const TListEntry& entry) {
    if (!entry.Parent()) return;
    Tell([&entry](TFeedListObserver& o) { o.EntryRemoving(entry); });
    Unindex(entry);
    TListEntry& from = *entry.FParent;
    from.FChildren.erase(from.FChildren.begin() + static_cast<std::ptrdiff_t>(entry.Index()));
}

void TFeedList::RemoveAll(const std::vector<const TListEntry*>& entries) {
    std::unordered_set<const TListEntry*> doomed;
    std::vector<const TListEntry*> rows;
    for (const TListEntry* entry : entries)
        if (entry && entry->Parent() && doomed.insert(entry).second) rows.push_back(entry);
    // A row under another doomed one goes with it.
    std::erase_if(rows, [&doomed](const TListEntry* row) {
        for (const TListEntry* above = row->Parent(); above; above = above->Parent())
            if (doomed.count(above)) return true;
        return false;
    });
    for (const TListEntry* row : rows) Tell([row](TFeedListObserver& o) { o.EntryRemoving(*row); });
    std::unordered_set<TListEntry*> parents;
    for (const TListEntry* row : rows) {
        Unindex(*row);
        parents.insert(row->FParent);
    }
    for (TListEntry* parent : parents)
        std::erase_if(parent->FChildren, [&doomed](const auto& child) { return doomed.count(child.get()) > 0; });
}

void TFeedList::Dissolve(const TListEntry& folder) {
    if (!folder.IsFolder() || !folder.Parent()) return;
    const TListEntry& parent = *folder.Parent();
    std::size_t index = folder.Index() + 1;
    while (!folder.Children().empty()) Move(*folder.Children().front(), parent, index++);
    Remove(folder);
}

void TFeedList::UpdateFeed(const TListEntry& feed, const std::function<void(TFeedEntry&)>& change) {
    if (!feed.IsFeed()) return;
    auto& value = std::get<TFeedEntry>(Mutable(feed).FValue);
    const int id = value.Id;
    change(value);
    value.Id = id;
    Tell([&feed](TFeedListObserver& o) { o.EntryChanged(feed); });
}

void TFeedList::UpdateFolder(const TListEntry& folder, const std::function<void(TFolderEntry&)>& change) {
    if (!folder.IsFolder() || !folder.Parent()) return;
    change(std::get<TFolderEntry>(Mutable(folder).FValue));
    Tell([&folder](TFeedListObserver& o) { o.EntryChanged(folder); });
}

void TFeedList::Reset(TFeedList& from) {
    if (&from == this) return;
    FRoot = std::exchange(from.FRoot, std::make_unique<TListEntry>(TFolderEntry{}));
    FFeeds = std::exchange(from.FFeeds, {});
    FNextId = std::exchange(from.FNextId, 1);
    Tell([](TFeedListObserver& o) { o.ListReset(); });
}

void TFeedList::AddObserver(TFeedListObserver* observer) {
    if (observer && std::find(FObservers.begin(), FObservers.end(), observer) == FObservers.end())
        FObservers.push_back(observer);
}

void TFeedList::RemoveObserver(TFeedListObserver* observer) {
    FObservers.erase(std::remove(FObservers.begin(), FObservers.end(), observer), FObservers.end());
}

void TFeedList::Index(const TListEntry& entry) {
    Walk(entry, [this](const TListEntry& row) {
        if (row.IsFeed()) FFeeds.emplace(row.Feed().Id, &row);
    });
}

void TFeedList::Unindex(const TListEntry& entry) {
    Walk(entry, [this](const TListEntry& row) {
        if (row.IsFeed()) {
            const auto it = FFeeds.find(row.Feed().Id);
            if (it != FFeeds.end() && it->second == &row) FFeeds.erase(it);
        }
    });
}

}  // namespace feedlist

#include "FeedListXml.h"

#include <algorithm>
#include <charconv>
#include <unordered_set>

#include "Convert.h"

namespace feedlist {

namespace {

constexpr const char* kFeedElement = "item";
constexpr const char* kFolderElement = "folder";

// The order a new feed's or folder's attributes are written in; what a
// loaded row carried keeps its own order.
constexpr const char* kFeedOrder[] = {"url",          "id",     "caption",  "unread",  "lastupdate", "etag",
                                      "lastmodified", "notify", "interval", "stopped", "stream",     "fullarticle"};
constexpr const char* kFolderOrder[] = {"caption", "expanded", "account", "address", "user"};

std::optional<long long> ReadLong(std::string_view text) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool Known(const std::string& name, const auto& order) {
    return std::any_of(std::begin(order), std::end(order), [&name](const char* known) { return name == known; });
}

TFeedEntry ReadFeed(const xml::Node& element) {
    TFeedEntry feed;
    for (auto& [name, value] : element.Attributes()) {
        feed.Order.push_back(name);
        if (name == "url")
            feed.Url = value;
        else if (name == "id") {
            feed.Id = plat::TryStrToInt(value).value_or(0);
            if (feed.Id > 0 && value != std::to_string(feed.Id)) feed.IdSpelling = value;
        } else if (name == "caption")
            feed.Caption = value;
        else if (name == "unread")
            feed.Unread = std::max(0LL, ReadLong(value).value_or(0));
        else if (name == "lastupdate")
            feed.LastUpdate = value;
        else if (name == "etag")
            feed.ETag = value;
        else if (name == "lastmodified")
            feed.LastModified = value;
        else if (name == "notify")
            feed.Notify = plat::TryStrToBool(value).value_or(true);
        else if (name == "stopped")
            feed.Stopped = value;
        else if (name == "stream")
            feed.Stream = value;
        else if (name == "fullarticle" && plat::TryStrToBool(value))
            feed.FullArticle = *plat::TryStrToBool(value);
        else if (name == "interval" && plat::TryStrToInt(value))
            feed.IntervalSeconds = plat::TryStrToInt(value);
        else
            feed.Other.emplace_back(std::move(name), std::move(value));  // unknown, or no number: as written
    }
    return feed;
}

TFolderEntry ReadFolder(const xml::Node& element) {
    TFolderEntry folder;
    TAccountEntry account;
    for (auto& [name, value] : element.Attributes()) {
        folder.Order.push_back(name);
        if (name == "caption")
            folder.Caption = value;
        else if (name == "expanded")
            folder.Expanded = value != "False";  // only a closed folder says so
        else if (name == "account")
            account.Id = value;
        else if (name == "address")
            account.Address = value;
        else if (name == "user")
            account.User = value;
        else
            folder.Other.emplace_back(std::move(name), std::move(value));
    }
    if (!account.Id.empty()) {
        folder.Account = std::move(account);
    } else {
        // No account without its id: what there is stays as written.
        for (auto& [name, value] : element.Attributes())
            if (name == "address" || name == "user" || name == "account") folder.Other.emplace_back(name, value);
    }
    return folder;
}

// The value a feed's known attribute has now; nullopt when it is not set.
std::optional<std::string> FeedValue(const TFeedEntry& feed, const std::string& name, bool wasWritten) {
    auto text = [&](const std::string& value) -> std::optional<std::string> {
        if (value.empty() && !wasWritten) return std::nullopt;
        return value;
    };
    if (name == "url") return feed.Url;
    if (name == "id") return IdText(feed);
    if (name == "caption") return feed.Caption;
    if (name == "unread") return std::to_string(feed.Unread);
    if (name == "lastupdate") return text(feed.LastUpdate);
    if (name == "etag") return text(feed.ETag);
    if (name == "lastmodified") return text(feed.LastModified);
    if (name == "stopped") return feed.Stopped.empty() ? std::nullopt : std::optional(feed.Stopped);
    // A feed that stopped being an account's has no stream at all.
    if (name == "stream") return feed.Stream.empty() ? std::nullopt : std::optional(feed.Stream);
    // Off by default: only a feed that shows full articles says so.
    if (name == "fullarticle") return feed.FullArticle ? std::optional<std::string>("True") : std::nullopt;
    if (name == "notify") {
        if (feed.Notify && !wasWritten) return std::nullopt;
        return plat::BoolToStr(feed.Notify);
    }
    if (name == "interval")
        return feed.IntervalSeconds ? std::optional(std::to_string(*feed.IntervalSeconds)) : std::nullopt;
    return std::nullopt;
}

std::optional<std::string> FolderValue(const TFolderEntry& folder, const std::string& name, bool wasWritten) {
    if (name == "caption") return folder.Caption;
    if (name == "expanded")
        return !folder.Expanded || wasWritten ? std::optional(plat::BoolToStr(folder.Expanded)) : std::nullopt;
    if (!folder.Account) return std::nullopt;
    if (name == "account") return folder.Account->Id;
    if (name == "address") return folder.Account->Address;
    if (name == "user") return folder.Account->User;
    return std::nullopt;
}

// Writes the known attributes in the order read, then those set since in
// their usual order, then the unknown ones.
template <class Entry, class Value, class Order>
void WriteAttributes(xml::Node element, const Entry& entry, const Order& usual, Value&& valueOf) {
    std::unordered_set<std::string> written;
    auto write = [&](const std::string& name, const std::optional<std::string>& value) {
        if (value && !written.count(name)) {
            element.SetAttribute(name, *value);
            written.insert(name);
        }
    };
    auto other = [&entry](const std::string& name) -> std::optional<std::string> {
        for (const auto& [otherName, value] : entry.Other)
            if (otherName == name) return value;
        return std::nullopt;
    };
    for (const std::string& name : entry.Order) {
        auto value = valueOf(name, true);
        write(name, value ? value : other(name));
    }
    for (const char* name : usual)
        if (std::find(entry.Order.begin(), entry.Order.end(), name) == entry.Order.end())
            write(name, valueOf(name, false));
    for (const auto& [name, value] : entry.Other) write(name, value);
}

// The attributes kept as written: the changed ones set, the dropped ones
// removed.
void WriteOther(const TAttributes& now, const TAttributes& stored, xml::Node element) {
    for (const auto& [name, value] : now) {
        const std::string* before = FindAttribute(stored, name);
        if (!before || *before != value) element.SetAttribute(name, value);
    }
    for (const auto& [name, value] : stored)
        if (!FindAttribute(now, name) && element.HasAttribute(name)) element.RemoveAttribute(name);
}

int LargestId(const xml::Node& items) {
    int largest = 0;
    std::vector<xml::Node> pending;
    if (items) pending.push_back(items);
    while (!pending.empty()) {
        const xml::Node container = pending.back();
        pending.pop_back();
        for (const xml::Node& child : container.ChildElements()) {
            if (child.Name() == kFolderElement)
                pending.push_back(child);
            else if (child.Name() == kFeedElement)
                largest = std::max(largest, plat::TryStrToInt(child.Attribute("id").value_or("")).value_or(0));
        }
    }
    return largest;
}

}  // namespace

TFeedEntry ReadFeedEntry(const xml::Node& element) { return ReadFeed(element); }

namespace {

// Writes back to a row's element only the known attributes whose value
// changed, then those kept as written.
template <class Entry, class Order, class Value>
void WriteChanged(const Entry& now, const Entry& stored, const Order& order, Value&& valueOf, xml::Node element) {
    auto listed = [](const Entry& entry, const char* name) {
        return std::find(entry.Order.begin(), entry.Order.end(), name) != entry.Order.end();
    };
    for (const char* name : order) {
        const std::optional<std::string> value = valueOf(now, name, listed(now, name));
        if (valueOf(stored, name, listed(stored, name)) == value) continue;
        if (value)
            element.SetAttribute(name, *value);
        else if (element.HasAttribute(name))
            element.RemoveAttribute(name);
    }
    WriteOther(now.Other, stored.Other, element);
}

}  // namespace

void WriteFeedEntry(const TFeedEntry& feed, xml::Node element) {
    WriteChanged(feed, ReadFeed(element), kFeedOrder, FeedValue, element);
}

void WriteFolderEntry(const TFolderEntry& folder, xml::Node element) {
    WriteChanged(folder, ReadFolder(element), kFolderOrder, FolderValue, element);
}

TLoadNotes LoadFeedList(TFeedList& list, const xml::Node& items, const xml::Node& counter) {
    TLoadNotes notes;
    TFeedList staging;
    // A feed without a usable id gets one above every id in the list, so
    // that it takes no other feed's stored copy.
    int largest = LargestId(items);
    struct Pending {
        xml::Node element;
        const TListEntry* parent;
    };
    std::vector<Pending> pending;
    auto pushChildren = [&pending](const xml::Node& container, const TListEntry* parent) {
        if (!container) return;
        const std::vector<xml::Node> children = container.ChildElements();
        for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back({*it, parent});
    };
    pushChildren(items, &staging.Root());
    // Depth first in document order, without recursion; rows are appended
    // to their parents in the same order.
    while (!pending.empty()) {
        Pending next = std::move(pending.back());
        pending.pop_back();
        const std::string name = next.element.Name();
        if (name == kFeedElement) {
            TFeedEntry feed = ReadFeed(next.element);
            if (feed.Id <= 0 || staging.FindFeed(feed.Id)) {
                notes.Renumbered.push_back(feed.Caption.empty() ? feed.Url : feed.Caption);
                feed.Id = ++largest;
                feed.IdSpelling.clear();
            }
            staging.AddFeed(*next.parent, std::move(feed));
        } else if (name == kFolderElement) {
            const TListEntry* folder = staging.AddFolder(*next.parent, ReadFolder(next.element));
            if (!folder) {
                ++notes.FlattenedFolders;
                folder = next.parent;  // its contents join the deepest folder kept
            }
            pushChildren(next.element, folder);
        }
        // Anything else in the list is not the list's: left out.
    }
    staging.SetNextId(counter ? plat::TryStrToInt(counter.Text()).value_or(1) : 1);
    list.Reset(staging);
    return notes;
}

void SaveFeedList(const TFeedList& list, xml::Node items, xml::Node counter) {
    for (xml::Node child : items.Children()) child.Remove();
    struct Pending {
        const TListEntry* entry;
        xml::Node container;
    };
    std::vector<Pending> pending;
    auto pushChildren = [&pending](const TListEntry& entry, const xml::Node& container) {
        const auto& children = entry.Children();
        for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back({it->get(), container});
    };
    pushChildren(list.Root(), items);
    while (!pending.empty()) {
        Pending next = pending.back();
        pending.pop_back();
        if (next.entry->IsFeed()) {
            const TFeedEntry& feed = next.entry->Feed();
            WriteAttributes(next.container.AppendElement(kFeedElement), feed, kFeedOrder,
                            [&feed](const std::string& name, bool written) { return FeedValue(feed, name, written); });
        } else {
            const TFolderEntry& folder = next.entry->Folder();
            xml::Node element = next.container.AppendElement(kFolderElement);
            WriteAttributes(element, folder, kFolderOrder, [&folder](const std::string& name, bool written) {
                return FolderValue(folder, name, written);
            });
            pushChildren(*next.entry, element);
        }
    }
    if (counter) counter.SetText(std::to_string(list.NextId()));
}

// ---------------------------------------------------------------------------
// The elements kept in step

TStoredFeedList::TStoredFeedList(TFeedList& list, xml::Node items, xml::Node counter)
    : FList(list), FItems(std::move(items)), FCounter(std::move(counter)) {
    FList.AddObserver(this);
}

TStoredFeedList::~TStoredFeedList() { FList.RemoveObserver(this); }

TLoadNotes TStoredFeedList::Load() {
    FLoading = true;
    TLoadNotes notes;
    try {
        notes = LoadFeedList(FList, FItems, FCounter);
    } catch (...) {
        FLoading = false;
        throw;
    }
    FLoading = false;
    if (!notes.Renumbered.empty() || notes.FlattenedFolders > 0 || !Bind()) Rewrite();
    return notes;
}

bool TStoredFeedList::Bind() {
    FElements.clear();
    FElements.emplace(&FList.Root(), FItems);
    struct Pending {
        const TListEntry* entry;
        xml::Node element;
    };
    std::vector<Pending> pending{{&FList.Root(), FItems}};
    while (!pending.empty()) {
        const Pending next = pending.back();
        pending.pop_back();
        std::vector<xml::Node> elements;
        for (const xml::Node& child : next.element.ChildElements())
            if (child.Name() == kFeedElement || child.Name() == kFolderElement) elements.push_back(child);
        const auto& rows = next.entry->Children();
        if (elements.size() != rows.size()) return false;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if ((elements[i].Name() == kFeedElement) != rows[i]->IsFeed()) return false;
            FElements.emplace(rows[i].get(), elements[i]);
            if (rows[i]->IsFolder()) pending.push_back({rows[i].get(), elements[i]});
        }
    }
    return true;
}

void TStoredFeedList::Rewrite() {
    if (!FItems) return;
    SaveFeedList(FList, FItems, FCounter);
    Bind();
}

void TStoredFeedList::ListReset() {
    if (!FLoading) Rewrite();
}

void TStoredFeedList::Place(const TListEntry& entry, xml::Node element) {
    const TListEntry& parent = *entry.Parent();
    const xml::Node container = FElements.at(&parent);
    // Rows are mostly appended: the end is tried before the row's place is
    // looked for among thousands of siblings.
    xml::Node before;
    if (parent.Children().back().get() != &entry) {
        if (const TListEntry* next = parent.Child(entry.Index() + 1)) before = FElements.at(next);
    }
    element.MoveTo(container, before);
}

void TStoredFeedList::WriteCounter() {
    if (FCounter) FCounter.SetText(std::to_string(FList.NextId()));
}

void TStoredFeedList::EntryInserted(const TListEntry& entry) {
    const auto parent = FElements.find(entry.Parent());
    if (parent == FElements.end()) return;
    xml::Node element = parent->second.AppendElement(entry.IsFeed() ? kFeedElement : kFolderElement);
    if (entry.IsFeed()) {
        const TFeedEntry& feed = entry.Feed();
        WriteAttributes(element, feed, kFeedOrder,
                        [&feed](const std::string& name, bool written) { return FeedValue(feed, name, written); });
        WriteCounter();
    } else {
        const TFolderEntry& folder = entry.Folder();
        WriteAttributes(element, folder, kFolderOrder, [&folder](const std::string& name, bool written) {
            return FolderValue(folder, name, written);
        });
    }
    FElements.emplace(&entry, element);
    Place(entry, element);
}

void TStoredFeedList::EntryRemoving(const TListEntry& entry) {
    const auto found = FElements.find(&entry);
    if (found == FElements.end()) return;
    xml::Node element = found->second;
    std::vector<const TListEntry*> pending{&entry};
    while (!pending.empty()) {
        const TListEntry* row = pending.back();
        pending.pop_back();
        FElements.erase(row);
        for (const auto& child : row->Children()) pending.push_back(child.get());
    }
    element.Remove();
}

void TStoredFeedList::EntryMoved(const TListEntry& entry, const TListEntry&, std::size_t) {
    const auto found = FElements.find(&entry);
    if (found != FElements.end()) Place(entry, found->second);
}

void TStoredFeedList::EntryChanged(const TListEntry& entry) {
    const auto found = FElements.find(&entry);
    if (found == FElements.end()) return;
    if (entry.IsFeed())
        WriteFeedEntry(entry.Feed(), found->second);
    else
        WriteFolderEntry(entry.Folder(), found->second);
}

}  // namespace feedlist

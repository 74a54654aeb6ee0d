#include "FeedList.h"

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_set>

#include "Convert.h"

namespace feedlist {

namespace {

std::optional<int> ReadInt(const xml::Node& node) {
    try {
        return plat::TryStrToInt(node.Text());
    } catch (const std::exception&) {
        return std::nullopt;  // an element with element children
    }
}

// Calls `visit(element, folderPath)` for every feed, depth first in the
// list's order, without recursion: folders nest as deep as a hand-edited
// or imported list makes them.
void ForEachFeed(const xml::Node& items,
                 const std::function<void(const xml::Node&, const std::vector<std::string>&)>& visit) {
    struct Pending {
        xml::Node element;
        std::vector<std::string> path;
    };
    std::vector<Pending> pending;
    auto pushChildren = [&pending](const xml::Node& container, const std::vector<std::string>& path) {
        const std::vector<xml::Node> children = container.ChildElements();
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            if (IsFeed(*it) || IsFolder(*it)) pending.push_back({*it, path});
    };
    pushChildren(items, {});
    while (!pending.empty()) {
        Pending next = std::move(pending.back());
        pending.pop_back();
        if (IsFeed(next.element)) {
            visit(next.element, next.path);
            continue;
        }
        next.path.push_back(next.element.Attribute("caption").value_or(""));
        pushChildren(next.element, next.path);
    }
}

}  // namespace

bool IsFeed(const xml::Node& element) { return element.IsElement() && element.Name() == "item"; }
bool IsFolder(const xml::Node& element) { return element.IsElement() && element.Name() == "folder"; }

std::vector<xml::Node> AllFeeds(const xml::Node& items) {
    std::vector<xml::Node> feeds;
    ForEachFeed(items, [&feeds](const xml::Node& item, const std::vector<std::string>&) { feeds.push_back(item); });
    return feeds;
}

int NextFeedId(const xml::Node& counter, const xml::Node& items) {
    int largest = 0;
    for (const xml::Node& item : AllFeeds(items))
        if (auto id = plat::TryStrToInt(item.Attribute("id").value_or(""))) largest = std::max(largest, *id);
    return std::max(ReadInt(counter).value_or(0), largest + 1);
}

TFeedIds::TFeedIds(const xml::Node& items, xml::Node counter)
    : FCounter(std::move(counter)), FNext(NextFeedId(FCounter, items)) {}

int TFeedIds::Take() {
    // Another writer of the list moves the counter on too: never below it.
    FNext = std::max(FNext, ReadInt(FCounter).value_or(0));
    const int id = FNext++;
    FCounter.SetText(std::to_string(FNext));
    return id;
}

xml::Node AppendFeed(TFeedIds& ids, xml::Node container, const std::string& url, const std::string& caption,
                     const std::string& lastUpdate) {
    xml::Node item = container.AppendElement("item");
    item.SetAttribute("url", url);
    item.SetAttribute("id", std::to_string(ids.Take()));
    item.SetAttribute("caption", caption);
    item.SetAttribute("unread", "0");
    item.SetAttribute("lastupdate", lastUpdate);
    return item;
}

xml::Node AppendFeed(const xml::Node& items, xml::Node counter, xml::Node container, const std::string& url,
                     const std::string& caption, const std::string& lastUpdate) {
    TFeedIds ids(items, std::move(counter));
    return AppendFeed(ids, std::move(container), url, caption, lastUpdate);
}

int FolderDepth(const xml::Node& container) {
    int depth = 0;
    for (xml::Node up = container; up && IsFolder(up); up = up.Parent()) ++depth;
    return depth;
}

bool FitsInto(const xml::Node& element, const xml::Node& container) {
    if (!IsFolder(element) || FolderDepth(container) <= FolderDepth(element.Parent())) return true;
    // The folders the element brings: its own deepest chain, walked without
    // recursion and given up on as soon as it cannot fit.
    const int room = kMaxFolderDepth - FolderDepth(container);
    std::vector<std::pair<xml::Node, int>> pending{{element, 1}};
    while (!pending.empty()) {
        auto [folder, depth] = std::move(pending.back());
        pending.pop_back();
        if (depth > room) return false;
        for (const xml::Node& child : folder.ChildElements())
            if (IsFolder(child)) pending.emplace_back(child, depth + 1);
    }
    return true;
}

xml::Node FolderNamed(xml::Node container, const std::string& caption) {
    for (const xml::Node& child : container.ChildElements())
        if (IsFolder(child) && child.Attribute("caption") == caption) return child;
    xml::Node folder = container.AppendElement("folder");
    folder.SetAttribute("caption", caption);
    folder.SetAttribute("expanded", plat::BoolToStr(true));
    return folder;
}

TImport Import(const xml::Node& items, const xml::Node& counter, const std::vector<opml::Outline>& outlines,
               const std::string& lastUpdate) {
    const opml::ImportPlan plan = opml::PlanImport(outlines, FeedAddresses(items));
    TImport result;
    result.Skipped = plan.skipped;
    result.Refused = plan.refused;
    TImportWriter writer(items, counter, lastUpdate);
    result.Added = writer.Write(plan.toAdd, 0, plan.toAdd.size());
    result.Flattened = writer.Flattened();
    return result;
}

std::vector<std::string> FeedAddresses(const xml::Node& items) {
    std::vector<std::string> addresses;
    for (const xml::Node& item : AllFeeds(items)) addresses.push_back(item.Attribute("url").value_or(""));
    return addresses;
}

TImportWriter::TImportWriter(xml::Node items, const xml::Node& counter, std::string lastUpdate)
    : FItems(items), FIds(items, counter), FLastUpdate(std::move(lastUpdate)) {}

std::vector<xml::Node> TImportWriter::Write(const std::vector<opml::Outline>& outlines, std::size_t from,
                                            std::size_t to) {
    std::vector<xml::Node> added;
    for (std::size_t i = from; i < std::min(to, outlines.size()); ++i) {
        const opml::Outline& outline = outlines[i];
        std::vector<std::string> path = outline.folders;
        if (path.size() > static_cast<std::size_t>(kMaxFolderDepth)) {
            path.resize(kMaxFolderDepth);
            ++FFlattened;
        }
        xml::Node container = FItems;
        std::vector<std::string> prefix;
        for (const std::string& name : path) {
            prefix.push_back(name);
            auto found = FContainers.find(prefix);
            if (found == FContainers.end()) found = FContainers.emplace(prefix, FolderNamed(container, name)).first;
            container = found->second;
        }
        added.push_back(AppendFeed(FIds, container, outline.url, outline.caption, FLastUpdate));
    }
    return added;
}

std::vector<opml::Outline> Outlines(const xml::Node& items,
                                    const std::function<std::string(const xml::Node& item)>& titleOf) {
    std::vector<opml::Outline> outlines;
    ForEachFeed(items, [&](const xml::Node& item, const std::vector<std::string>& path) {
        std::string caption = item.Attribute("caption").value_or("");
        if (caption.empty() && titleOf) caption = titleOf(item);
        outlines.push_back({item.Attribute("url").value_or(""), caption, path});
    });
    return outlines;
}

}  // namespace feedlist

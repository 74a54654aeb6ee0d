#include "FeedList.h"

#include <algorithm>
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

xml::Node AppendFeed(const xml::Node& items, xml::Node counter, xml::Node container, const std::string& url,
                     const std::string& caption, const std::string& lastUpdate) {
    const int id = NextFeedId(counter, items);
    xml::Node item = container.AppendElement("item");
    item.SetAttribute("url", url);
    item.SetAttribute("id", std::to_string(id));
    item.SetAttribute("caption", caption);
    item.SetAttribute("unread", "0");
    item.SetAttribute("lastupdate", lastUpdate);
    counter.SetText(std::to_string(id + 1));
    return item;
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
    std::vector<std::string> existing;
    for (const xml::Node& item : AllFeeds(items)) existing.push_back(item.Attribute("url").value_or(""));
    const opml::ImportPlan plan = opml::PlanImport(outlines, existing);
    TImport result;
    result.Skipped = plan.skipped;
    for (const opml::Outline& outline : plan.toAdd) {
        xml::Node container = items;
        for (const std::string& name : outline.folders) container = FolderNamed(container, name);
        result.Added.push_back(AppendFeed(items, counter, container, outline.url, outline.caption, lastUpdate));
    }
    return result;
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

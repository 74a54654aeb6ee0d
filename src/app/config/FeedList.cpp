#include "FeedList.h"

#include <algorithm>

namespace feedlist {

TFeedEntry NewFeed(const std::string& url, const std::string& caption, const std::string& lastUpdate) {
    TFeedEntry feed;
    feed.Url = url;
    feed.Caption = caption;
    feed.LastUpdate = lastUpdate;
    return feed;
}

const TListEntry* FolderNamed(TFeedList& list, const TListEntry& container, const std::string& caption) {
    for (const auto& child : container.Children())
        if (child->IsFolder() && child->Folder().Caption == caption) return child.get();
    return list.AddFolder(container, NewFolder(caption));
}

std::vector<std::string> FeedAddresses(const TFeedList& list) {
    std::vector<std::string> addresses;
    for (const TListEntry* feed : list.Feeds()) addresses.push_back(feed->Feed().Url);
    return addresses;
}

TImportWriter::TImportWriter(TFeedList& list, std::string lastUpdate)
    : FList(list), FLastUpdate(std::move(lastUpdate)) {}

std::vector<const TListEntry*> TImportWriter::Write(const std::vector<opml::Outline>& outlines, std::size_t from,
                                                    std::size_t to) {
    std::vector<const TListEntry*> added;
    for (std::size_t i = from; i < std::min(to, outlines.size()); ++i) {
        const opml::Outline& outline = outlines[i];
        std::vector<std::string> path = outline.folders;
        if (path.size() > static_cast<std::size_t>(kMaxFolderDepth)) {
            path.resize(kMaxFolderDepth);
            ++FFlattened;
        }
        const TListEntry* container = &FList.Root();
        std::vector<std::string> prefix;
        for (const std::string& name : path) {
            prefix.push_back(name);
            auto found = FContainers.find(prefix);
            if (found == FContainers.end()) {
                const TListEntry* folder = FolderNamed(FList, *container, name);
                if (!folder) break;  // deeper than the list takes: the deepest one kept
                found = FContainers.emplace(prefix, folder).first;
            }
            container = found->second;
        }
        if (const TListEntry* feed = FList.AddFeed(*container, NewFeed(outline.url, outline.caption, FLastUpdate)))
            added.push_back(feed);
    }
    return added;
}

TImport Import(TFeedList& list, const std::vector<opml::Outline>& outlines, const std::string& lastUpdate) {
    const opml::ImportPlan plan = opml::PlanImport(outlines, FeedAddresses(list));
    TImport result;
    result.Skipped = plan.skipped;
    result.Refused = plan.refused;
    TImportWriter writer(list, lastUpdate);
    result.Added = writer.Write(plan.toAdd, 0, plan.toAdd.size());
    result.Flattened = writer.Flattened();
    return result;
}

std::vector<opml::Outline> Outlines(const TFeedList& list,
                                    const std::function<std::string(const TFeedEntry& feed)>& titleOf) {
    std::vector<opml::Outline> outlines;
    // Depth first in the list's order, without recursion, with each row's
    // folder path.
    std::vector<std::pair<const TListEntry*, std::vector<std::string>>> pending;
    const auto pushChildren = [&pending](const TListEntry& container, const std::vector<std::string>& path) {
        const auto& children = container.Children();
        for (auto it = children.rbegin(); it != children.rend(); ++it) pending.emplace_back(it->get(), path);
    };
    pushChildren(list.Root(), {});
    while (!pending.empty()) {
        auto [entry, path] = std::move(pending.back());
        pending.pop_back();
        if (entry->IsFeed()) {
            const TFeedEntry& feed = entry->Feed();
            std::string caption = feed.Caption;
            if (caption.empty() && titleOf) caption = titleOf(feed);
            outlines.push_back({feed.Url, caption, path});
            continue;
        }
        path.push_back(entry->Folder().Caption);
        pushChildren(*entry, path);
    }
    return outlines;
}

}  // namespace feedlist

#include "Opml.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <unordered_set>

#include "Address.h"
#include "Text.h"
#include "XmlDom.h"

namespace opml {

namespace {

bool IsNamed(const xml::Node& node, std::string_view name) { return plat::EqualsNoCase(node.LocalName(), name); }

std::vector<Outline> ReadDocument(const xml::Document& doc) {
    xml::Node root = doc.DocumentElement();
    if (!IsNamed(root, "opml")) throw OpmlError("not an OPML file: the root element is '" + root.Name() + "'");
    xml::Node body;
    for (const xml::Node& child : root.ChildElements())
        if (IsNamed(child, "body")) body = child;
    if (!body) throw OpmlError("not an OPML file: it has no body");

    // Depth-first in document order, without recursion: folders may nest
    // arbitrarily deep in a hostile file.
    std::vector<Outline> result;
    struct Pending {
        xml::Node outline;
        std::shared_ptr<const std::vector<std::string>> folders;
    };
    std::vector<Pending> pending;
    auto pushChildrenOf = [&pending](const xml::Node& parent, std::shared_ptr<const std::vector<std::string>> folders) {
        auto children = parent.ChildElements();
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            if (IsNamed(*it, "outline")) pending.push_back({*it, folders});
    };
    auto captionOf = [](const xml::Node& outline) {
        std::string caption = outline.Attribute("text").value_or("");
        return caption.empty() ? outline.Attribute("title").value_or("") : caption;
    };
    pushChildrenOf(body, std::make_shared<const std::vector<std::string>>());
    while (!pending.empty()) {
        Pending next = std::move(pending.back());
        pending.pop_back();
        auto url = next.outline.Attribute("xmlUrl");
        bool isFolder = !url && !next.outline.ChildElements().empty();
        if (isFolder) {
            auto inner = std::make_shared<std::vector<std::string>>(*next.folders);
            inner->push_back(captionOf(next.outline));
            pushChildrenOf(next.outline, std::move(inner));
            continue;
        }
        result.push_back({url.value_or(""), captionOf(next.outline), *next.folders});
    }
    return result;
}

}  // namespace

std::vector<Outline> ReadString(std::string_view text) {
    xml::Document doc;
    try {
        doc.LoadFromString(text);
    } catch (const xml::XmlError& e) {
        throw OpmlError(e.what());
    }
    return ReadDocument(doc);
}

std::vector<Outline> ReadFile(const std::string& fileName) {
    xml::Document doc;
    try {
        doc.LoadFromFile(fileName);
    } catch (const xml::XmlError& e) {
        throw OpmlError(e.what());
    }
    return ReadDocument(doc);
}

void WriteFile(const std::string& fileName, const std::vector<Outline>& feeds, std::string_view title) {
    xml::Document doc;
    doc.AppendProcessingInstruction("xml", "version=\"1.0\"");
    xml::Node root = doc.CreateDocumentElement("opml");
    root.SetAttribute("version", "2.0");
    root.AppendElement("head").AppendElement("title").SetText(title);
    xml::Node body = root.AppendElement("body");
    // The folder outlines made so far, by their path.
    std::map<std::vector<std::string>, xml::Node> folders;
    auto folderFor = [&](const std::vector<std::string>& path) {
        xml::Node parent = body;
        std::vector<std::string> prefix;
        for (const std::string& name : path) {
            prefix.push_back(name);
            auto found = folders.find(prefix);
            if (found == folders.end()) {
                xml::Node folder = parent.AppendElement("outline");
                folder.SetAttribute("text", name);
                folder.SetAttribute("title", name);
                found = folders.emplace(prefix, folder).first;
            }
            parent = found->second;
        }
        return parent;
    };
    for (const Outline& feed : feeds) {
        xml::Node outline = folderFor(feed.folders).AppendElement("outline");
        outline.SetAttribute("type", "rss");
        outline.SetAttribute("text", feed.caption);
        outline.SetAttribute("title", feed.caption);
        outline.SetAttribute("xmlUrl", feed.url);
    }
    doc.SaveToFile(fileName);
}

std::optional<std::string> FeedAddress(std::string_view xmlUrl) {
    // Add Feed guesses a scheme for a bare host a person types; in a file a
    // text without one is a reference relative to the file.
    const std::string_view text = plat::TrimLeft(xmlUrl, plat::Blanks::Xml);
    const bool absolute = text.find("://") != std::string_view::npos || text.substr(0, 2) == "//" ||
                          plat::StartsWithNoCase(text, "feed:");
    if (!absolute) return std::nullopt;
    return discover::NormalizeAddress(xmlUrl);
}

ImportPlan PlanImport(const std::vector<Outline>& outlines, const std::vector<std::string>& existingUrls) {
    ImportPlan plan;
    std::unordered_set<std::string> known(existingUrls.begin(), existingUrls.end());
    for (const Outline& outline : outlines) {
        if (outline.url.empty()) {
            ++plan.skipped;
            continue;
        }
        std::optional<std::string> address = FeedAddress(outline.url);
        if (!address) ++plan.refused;
        if (!address || !known.insert(*address).second) {
            ++plan.skipped;
            continue;
        }
        plan.toAdd.push_back(outline);
        plan.toAdd.back().url = std::move(*address);
    }
    return plan;
}

}  // namespace opml

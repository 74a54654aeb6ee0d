#include "Metadata.h"

#include <nlohmann/json.hpp>

#include <array>
#include <vector>

#include "FeedUtils.h"
#include "Page.h"
#include "Url.h"

namespace extract {

namespace {

// JSON-LD blocks are read only this far: real ones are a few kilobytes,
// and a page must not make the parser build a huge tree.
constexpr std::size_t kMaxJsonLd = 256 * 1024;
constexpr std::size_t kMaxJsonLdBlocks = 16;

struct TFacts {
    std::string title, firstHeading, timeDate, authorElement;
    std::string base;
    std::vector<std::string> jsonLd;
    // <meta> name or property (lower case) to content, first one kept.
    std::vector<std::pair<std::string, std::string>> meta;
    std::string Meta(std::string_view key) const {
        for (const auto& [name, content] : meta)
            if (name == key && !content.empty()) return content;
        return {};
    }
};

bool IsArticleType(const std::string& type) {
    static const std::array<std::string_view, 10> kTypes = {"article",
                                                            "newsarticle",
                                                            "blogposting",
                                                            "reportagenewsarticle",
                                                            "analysisnewsarticle",
                                                            "opinionnewsarticle",
                                                            "techarticle",
                                                            "scholarlyarticle",
                                                            "report",
                                                            "socialmediaposting"};
    const std::string lower = AsciiLower(type);
    for (const std::string_view known : kTypes)
        if (lower == known) return true;
    return false;
}

bool HasArticleType(const nlohmann::json& object) {
    const auto type = object.find("@type");
    if (type == object.end()) return false;
    if (type->is_string()) return IsArticleType(type->get<std::string>());
    if (type->is_array())
        for (const auto& one : *type)
            if (one.is_string() && IsArticleType(one.get<std::string>())) return true;
    return false;
}

std::string StringOf(const nlohmann::json& value) {
    if (value.is_string()) return CollapseBlanks(value.get<std::string>());
    if (value.is_object() && value.contains("name")) return StringOf(value["name"]);
    if (value.is_array()) {
        std::string joined;
        for (const auto& one : value)
            if (std::string text = StringOf(one); !text.empty()) joined += (joined.empty() ? "" : ", ") + text;
        return joined;
    }
    return {};
}

// The first article object in a JSON-LD block, looked for without
// recursion (arrays and @graph lists nest).
void ReadJsonLd(const std::string& text, TPageMetadata& metadata) {
    const nlohmann::json root = nlohmann::json::parse(text, nullptr, false);
    if (root.is_discarded()) return;
    std::vector<const nlohmann::json*> pending = {&root};
    while (!pending.empty()) {
        const nlohmann::json& value = *pending.back();
        pending.pop_back();
        if (value.is_array()) {
            for (auto it = value.rbegin(); it != value.rend(); ++it) pending.push_back(&*it);
            continue;
        }
        if (!value.is_object()) continue;
        if (const auto graph = value.find("@graph"); graph != value.end()) pending.push_back(&*graph);
        if (!HasArticleType(value)) continue;
        metadata.Article = true;
        if (metadata.Title.empty() && value.contains("headline")) metadata.Title = StringOf(value["headline"]);
        if (metadata.Title.empty() && value.contains("name")) metadata.Title = StringOf(value["name"]);
        if (metadata.Byline.empty() && value.contains("author"))
            metadata.Byline = CleanByline(StringOf(value["author"]));
        if (metadata.Date.empty() && value.contains("datePublished")) metadata.Date = StringOf(value["datePublished"]);
        if (const auto body = value.find("articleBody");
            metadata.ArticleBody.empty() && body != value.end() && body->is_string())
            metadata.ArticleBody = body->get<std::string>();
        return;
    }
}

bool NamesAuthor(const xmlNode* node) {
    const std::string names = AsciiLower(Attribute(node, "class") + " " + Attribute(node, "id"));
    return AsciiLower(Attribute(node, "rel")) == "author" || AsciiLower(Attribute(node, "itemprop")) == "author" ||
           names.find("byline") != std::string::npos || names.find("author") != std::string::npos;
}

void CollectFacts(xmlNode* root, TFacts& facts) {
    std::size_t jsonLdBytes = 0;
    Walk(root, [&](xmlNode* node) {
        const std::string_view name = NameOf(node);
        if (name == "title" && facts.title.empty() && !HasAncestor(node, "svg")) {
            facts.title = TextOf(node);
        } else if (name == "meta") {
            std::string key = AsciiLower(Attribute(node, "property"));
            if (key.empty()) key = AsciiLower(Attribute(node, "name"));
            if (key.empty()) key = AsciiLower(Attribute(node, "itemprop"));
            if (!key.empty()) facts.meta.emplace_back(key, CollapseBlanks(Attribute(node, "content")));
        } else if (name == "base" && facts.base.empty()) {
            facts.base = CollapseBlanks(Attribute(node, "href"));
        } else if (name == "script") {
            if (AsciiLower(Attribute(node, "type")).find("ld+json") != std::string::npos &&
                facts.jsonLd.size() < kMaxJsonLdBlocks) {
                std::string text;
                for (xmlNode* child = node->children; child != nullptr; child = child->next)
                    if (child->content != nullptr) text += reinterpret_cast<const char*>(child->content);
                if (text.size() <= kMaxJsonLd && (jsonLdBytes += text.size()) <= 4 * kMaxJsonLd)
                    facts.jsonLd.push_back(std::move(text));
            }
            return false;
        } else if (name == "style") {
            return false;
        } else if (name == "h1" && facts.firstHeading.empty()) {
            facts.firstHeading = TextOf(node);
        } else if (name == "time" && facts.timeDate.empty()) {
            facts.timeDate = CollapseBlanks(Attribute(node, "datetime"));
        } else if (facts.authorElement.empty() && NamesAuthor(node)) {
            if (std::string text = TextOf(node, 100); text.size() < 100) facts.authorElement = CleanByline(text);
        }
        return true;
    });
}

// "Headline | Site" or "Site - Headline": the longer part is the headline
// when the separator splits off a short site name, unless the page's
// first <h1> repeats the shorter first part ("Caching - Tool 3.2
// documentation"; a permalink mark may follow the heading's text).
std::string TitleWithoutSite(const std::string& title, const std::string& firstHeading) {
    for (const std::string_view separator : {" | ", " - ", " \xE2\x80\x93 ", " \xE2\x80\x94 ", " :: ", " \xC2\xBB "}) {
        const std::size_t at = title.rfind(separator);
        if (at == std::string::npos) continue;
        std::string first = title.substr(0, at), last = title.substr(at + separator.size());
        if (first.find(separator) != std::string::npos) first = title.substr(0, title.find(separator));
        const auto words = [](const std::string& text) { return std::count(text.begin(), text.end(), ' ') + 1; };
        const std::string heading = AsciiLower(firstHeading);
        if (words(first) >= 3 || words(first) >= words(last) ||
            (heading.rfind(AsciiLower(first), 0) == 0 && heading.size() <= first.size() + 4))
            return first;
        return last;
    }
    return title;
}

}  // namespace

std::string CleanByline(std::string_view text) {
    std::string byline = CollapseBlanks(text);
    const std::string lower = AsciiLower(byline);
    if (lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0) return {};
    for (const std::string_view lead : {"by ", "posted by ", "written by "})
        if (lower.rfind(lead, 0) == 0) {
            byline.erase(0, lead.size());
            break;
        }
    while (!byline.empty() && (byline.back() == ',' || byline.back() == '|')) byline.pop_back();
    return CollapseBlanks(byline);
}

TPageMetadata ReadMetadata(xmlDoc* document, const std::string& pageUrl) {
    TPageMetadata metadata;
    metadata.BaseUrl = pageUrl;
    xmlNode* root = xmlDocGetRootElement(document);
    if (root == nullptr) return metadata;
    TFacts facts;
    CollectFacts(root, facts);
    for (const std::string& block : facts.jsonLd) ReadJsonLd(block, metadata);

    if (!facts.base.empty())
        if (std::string base = feed::ResolveURL(pageUrl, facts.base); IsWebAddress(base)) metadata.BaseUrl = base;
    if (AsciiLower(facts.Meta("og:type")) == "article") metadata.Article = true;

    const auto firstOf = [&](std::initializer_list<std::string_view> keys) {
        for (const std::string_view key : keys)
            if (std::string value = facts.Meta(key); !value.empty()) return value;
        return std::string();
    };
    if (metadata.Title.empty()) metadata.Title = firstOf({"og:title", "twitter:title", "dc.title"});
    if (metadata.Title.empty()) metadata.Title = TitleWithoutSite(facts.title, facts.firstHeading);
    if (metadata.Title.empty()) metadata.Title = facts.firstHeading;
    if (metadata.Byline.empty())
        metadata.Byline = CleanByline(firstOf(
            {"author", "article:author", "byl", "parsely-author", "sailthru.author", "dc.creator", "dcterms.creator"}));
    if (metadata.Byline.empty()) metadata.Byline = facts.authorElement;
    if (metadata.Date.empty())
        metadata.Date = firstOf({"article:published_time", "datepublished", "date", "pubdate", "publishdate", "dc.date",
                                 "dcterms.created", "dc.date.issued", "og:published_time"});
    if (metadata.Date.empty()) metadata.Date = facts.timeDate;
    return metadata;
}

}  // namespace extract

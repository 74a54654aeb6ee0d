#include "Hints.h"

#include <array>
#include <cctype>
#include <string>
#include <string_view>

#include "Page.h"

namespace extract {

namespace {

// Words found anywhere in a class or id ("sidebar" in "left-sidebar").
constexpr std::array<std::string_view, 40> kUnlikely = {
    "banner",  "breadcrumb", "combx",      "comment",    "community",  "cover-wrap", "disqus",       "extra",
    "footer",  "gdpr",       "discussion", "legends",    "menu",       "related",    "remark",       "replies",
    "rss",     "shoutbox",   "sidebar",    "skyscraper", "social",     "sponsor",    "supplemental", "ad-break",
    "agegate", "pagination", "pager",      "popup",      "yom-remote", "cookie",     "consent",      "newsletter",
    "share",   "sharing",    "outbrain",   "taboola",    "navbox",     "catlinks",   "editsection",  "hatnote"};
constexpr std::array<std::string_view, 7> kLikely = {"and", "article", "body", "column", "content", "main", "shadow"};
constexpr std::array<std::string_view, 28> kClutter = {
    "share",     "sharing",    "social",   "newsletter", "subscribe", "signup",    "sign-up",
    "related",   "recommend",  "promo",    "advert",     "sponsor",   "cookie",    "consent",
    "popup",     "modal",      "outbrain", "taboola",    "read-more", "readmore",  "more-stories",
    "follow-us", "author-bio", "tags",     "byline",     "toolbar",   "signature", "button"};
constexpr std::array<std::string_view, 19> kPositive = {
    "article",     "body",      "content",  "entry", "hentry", "h-entry", "main",     "page",
    "pagination",  "post",      "text",     "blog",  "story",  "prose",   "markdown", "mw-parser-output",
    "articlebody", "rich-text", "e-content"};
// Not "footnote": notes are the article's own.
constexpr std::array<std::string_view, 28> kNegative = {
    "hidden",   "banner", "combx",    "comment",  "com-",    "contact",    "contributor",
    "footer",   "gdpr",   "masthead", "media",    "meta",    "outbrain",   "promo",
    "related",  "scroll", "share",    "shoutbox", "sidebar", "skyscraper", "sponsor",
    "shopping", "tags",   "tool",     "widget",   "byline",  "author",     "dateline"};
// Whole words only: short names that occur inside longer, innocent ones.
constexpr std::array<std::string_view, 6> kUnlikelyWords = {"ad", "ads", "nav", "navbar", "advert", "hide"};

bool ContainsAny(const std::string& names, const auto& words) {
    for (const std::string_view word : words)
        if (names.find(word) != std::string::npos) return true;
    return false;
}

bool HasWord(const std::string& names, const auto& words) {
    std::size_t i = 0;
    while (i < names.size()) {
        std::size_t end = i;
        while (end < names.size() && (std::isalnum(static_cast<unsigned char>(names[end])))) ++end;
        const std::string_view word = std::string_view(names).substr(i, end - i);
        for (const std::string_view wanted : words)
            if (word == wanted) return true;
        i = end + 1;
    }
    return false;
}

std::string NamesOf(const xmlNode* node) { return AsciiLower(Attribute(node, "class") + " " + Attribute(node, "id")); }

int WeightOf(const std::string& name) {
    if (name.empty()) return 0;
    const std::string lower = AsciiLower(name);
    int weight = 0;
    if (ContainsAny(lower, kNegative)) weight -= 25;
    if (ContainsAny(lower, kPositive)) weight += 25;
    return weight;
}

}  // namespace

bool NamedUnlikely(const xmlNode* node, bool inArticle) {
    const std::string names = NamesOf(node);
    // The page's header is furniture; an article's header holds its standfirst.
    return ContainsAny(names, kUnlikely) || HasWord(names, kUnlikelyWords) ||
           (!inArticle && names.find("header") != std::string::npos);
}

bool NamedCommentsOrRelated(const xmlNode* node) {
    static constexpr std::array<std::string_view, 5> kAround = {"comment", "disqus", "discussion", "replies",
                                                                "related"};
    return ContainsAny(NamesOf(node), kAround);
}

bool NamedLikely(const xmlNode* node) { return ContainsAny(NamesOf(node), kLikely); }

bool NamedClutter(const xmlNode* node) {
    const std::string names = NamesOf(node);
    return ContainsAny(names, kClutter) || HasWord(names, kUnlikelyWords);
}

int ClassWeight(const xmlNode* node) { return WeightOf(Attribute(node, "class")) + WeightOf(Attribute(node, "id")); }

}  // namespace extract

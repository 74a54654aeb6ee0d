#include "Prepare.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <vector>

#include "Page.h"

namespace extract {

namespace {

// A page without <body> keeps its text in <head> (libxml2 knows no HTML5
// elements), so <head> itself stays and only its furniture goes.
constexpr std::array<std::string_view, 26> kNeverArticle = {
    "script", "style", "template", "iframe", "frame",  "frameset", "object",   "embed", "applet",
    "svg",    "math",  "canvas",   "input",  "button", "select",   "textarea", "link",  "meta",
    "nav",    "aside", "dialog",   "audio",  "map",    "footer",   "title",    "base"};
constexpr std::array<std::string_view, 10> kNeverArticleRoles = {
    "navigation",  "menu",   "menubar", "complementary", "alert",
    "alertdialog", "dialog", "search",  "banner",        "contentinfo"};

bool OneOf(std::string_view value, const auto& list) {
    for (const std::string_view item : list)
        if (value == item) return true;
    return false;
}

bool Hidden(const xmlNode* node) {
    if (HasAttribute(node, "hidden")) return true;
    if (AsciiLower(Attribute(node, "aria-hidden")) == "true" &&
        AsciiLower(Attribute(node, "class")).find("fallback") == std::string::npos)
        return true;
    std::string style;
    for (const char c : AsciiLower(Attribute(node, "style")))
        if (!IsBlank(static_cast<unsigned char>(c))) style += c;
    return style.find("display:none") != std::string::npos || style.find("visibility:hidden") != std::string::npos;
}

// A paragraph of real text somewhere below: a <header> or <form> that
// holds one is a wrapper of the article, not furniture.
bool HoldsProse(xmlNode* node, std::size_t paragraphs) {
    std::size_t found = 0;
    Walk(node, [&](xmlNode* element) {
        if (Named(element, "p") && TextOf(element).size() >= 80) ++found;
        return found < paragraphs;
    });
    return found >= paragraphs;
}

bool IsByline(const xmlNode* node) {
    const std::string names = AsciiLower(Attribute(node, "class") + " " + Attribute(node, "id"));
    const bool inline_ = Named(node, "span") || Named(node, "a");
    const bool named =
        names.find("byline") != std::string::npos ||
        (!inline_ &&
         (AsciiLower(Attribute(node, "rel")) == "author" || AsciiLower(Attribute(node, "itemprop")) == "author")) ||
        (names.find("author") != std::string::npos && AsciiLower(TextOf(node, 100)).rfind("by ", 0) == 0);
    return named && TextOf(node, 100).size() < 100;
}

// The mark beside a heading that links to it ("¶", "#", "§").
bool IsPermalinkMark(xmlNode* node) {
    if (!Named(node, "a") || Attribute(node, "href").rfind('#', 0) != 0) return false;
    const std::string text = TextOf(node);
    return text.size() <= 4 && std::none_of(text.begin(), text.end(), [](unsigned char c) { return std::isalnum(c); });
}

// AMP pages write their images as <amp-img>; every other amp- element is
// an advertisement, a menu, a share button or a script's.
bool IsAmpFurniture(std::string_view name) {
    return name.rfind("amp-", 0) == 0 && name != "amp-img" && name != "amp-anim";
}

bool NeverArticle(xmlNode* node, TCleanedFacts& facts) {
    const std::string_view name = NameOf(node);
    if (IsAmpFurniture(name) || IsPermalinkMark(node)) return true;
    if (name == "input" && AsciiLower(Attribute(node, "type")) == "password") facts.passwordField = true;
    if (OneOf(name, kNeverArticle) || Hidden(node) || OneOf(AsciiLower(Attribute(node, "role")), kNeverArticleRoles) ||
        AsciiLower(Attribute(node, "aria-modal")) == "true")
        return true;
    if (name == "header") return !HoldsProse(node, 1);
    // Some sites wrap the whole page in one form.
    if (name == "form") {
        if (FindFirst(node, "input") != nullptr && AsciiLower(TextOf(node)).find("password") != std::string::npos)
            facts.passwordField = true;
        return !HoldsProse(node, 3);
    }
    return IsByline(node);
}

// ---- Lazy images -----------------------------------------------------------

bool LooksLikeImageAddress(std::string_view value) {
    const std::string lower = AsciiLower(value.substr(0, 2048));
    for (const std::string_view extension : {".jpg", ".jpeg", ".png", ".webp", ".gif", ".avif"}) {
        const std::size_t at = lower.find(extension);
        if (at == std::string::npos) continue;
        const std::size_t after = at + extension.size();
        if (after == lower.size() || lower[after] == '?' || lower[after] == '#' || IsBlank(lower[after])) return true;
    }
    return false;
}

// The widest candidate of a srcset ("a.jpg 480w, b.jpg 1080w").
std::string WidestOf(std::string_view srcset) {
    std::string best;
    double bestSize = -1;
    std::size_t i = 0;
    while (i < srcset.size()) {
        while (i < srcset.size() && (IsBlank(srcset[i]) || srcset[i] == ',')) ++i;
        std::size_t end = i;
        while (end < srcset.size() && !IsBlank(srcset[end])) ++end;
        std::string url(srcset.substr(i, end - i));
        // A comma right after the address ends the candidate.
        const bool bare = !url.empty() && url.back() == ',';
        if (bare) url.pop_back();
        std::size_t next = bare ? end : srcset.find(',', end);
        if (next == std::string_view::npos) next = srcset.size();
        const std::string descriptor = CollapseBlanks(srcset.substr(end, next - end));
        const double size = descriptor.empty() ? 1 : std::atof(descriptor.c_str());
        if (!url.empty() && size > bestSize) {
            best = url;
            bestSize = size;
        }
        i = next + 1;
    }
    return best;
}

bool IsPlaceholder(std::string_view src) {
    const std::string lower = AsciiLower(CollapseBlanks(src.substr(0, 512)));
    if (lower.empty() || lower.rfind("data:", 0) == 0) return true;
    for (const std::string_view word :
         {"placeholder", "blank.gif", "spacer", "lazy", "1x1", "pixel.gif", "transparent"})
        if (lower.find(word) != std::string::npos) return true;
    return false;
}

// The real address of a lazy image, "" when it names none.
std::string LazyAddress(const xmlNode* image) {
    for (const char* name : {"data-src", "data-lazy-src", "data-original", "data-url", "data-hi-res-src",
                             "data-full-src", "data-lazy", "data-img-src", "data-orig-file"})
        if (std::string value = CollapseBlanks(Attribute(image, name)); !value.empty() && !IsPlaceholder(value))
            return value;
    for (const xmlAttr* a = image->properties; a != nullptr; a = a->next) {
        const std::string name = AsciiLower(reinterpret_cast<const char*>(a->name));
        if (name.rfind("data-", 0) != 0 || name.find("srcset") != std::string::npos) continue;
        if (std::string value = CollapseBlanks(Attribute(image, name.c_str()));
            LooksLikeImageAddress(value) && value.find(' ') == std::string::npos)
            return value;
    }
    for (const char* name : {"data-srcset", "data-lazy-srcset", "srcset"})
        if (std::string value = WidestOf(Attribute(image, name)); !value.empty() && !IsPlaceholder(value)) return value;
    if (Named(image->parent, "picture"))
        for (xmlNode* source = FirstElementChild(image->parent); source != nullptr; source = NextElement(source))
            for (const char* name : {"srcset", "data-srcset"})
                if (std::string value = WidestOf(Attribute(source, name));
                    Named(source, "source") && !value.empty() && !IsPlaceholder(value))
                    return value;
    return {};
}

// Gives a lazy image its real address; false for an image that is only a
// placeholder (a blurred inline preview) with none.
bool LoadLazyImage(xmlNode* image) {
    if (!IsPlaceholder(Attribute(image, "src"))) return true;
    if (std::string address = LazyAddress(image); !address.empty()) {
        SetAttribute(image, "src", address);
        return true;
    }
    const std::string names = AsciiLower(Attribute(image, "class") + " " + Attribute(image, "id"));
    for (const std::string_view word : {"thumb", "placeholder", "lazy", "blur", "preview", "progressive"})
        if (names.find(word) != std::string::npos) return false;
    return true;
}

bool HasRealImage(xmlNode* node) {
    bool found = false;
    Walk(node, [&](xmlNode* element) {
        if (Named(element, "img") && !IsPlaceholder(Attribute(element, "src"))) found = true;
        return !found && !Named(element, "noscript");
    });
    return found;
}

void Unwrap(xmlNode* node) {
    while (xmlNode* child = node->children) {
        xmlUnlinkNode(child);
        xmlAddPrevSibling(node, child);
    }
    Remove(node);
}

// <noscript> holds the image that a script would have put in place of the
// placeholder before it; with no real image beside it, it is the image.
void UseNoscriptImages(const std::vector<xmlNode*>& noscripts) {
    for (xmlNode* noscript : noscripts) {
        if (!HasRealImage(noscript)) {
            Remove(noscript);
            continue;
        }
        xmlNode* previous = noscript->prev;
        while (previous != nullptr && !IsElement(previous)) previous = previous->prev;
        const bool placeholderBefore =
            previous != nullptr && !HasRealImage(previous) &&
            (Named(previous, "img") || (FindFirst(previous, "img") != nullptr && TextOf(previous).empty()));
        if (placeholderBefore) Remove(previous);
        if (placeholderBefore || !HasRealImage(noscript->parent))
            Unwrap(noscript);
        else
            Remove(noscript);
    }
}

}  // namespace

TCleanedFacts CleanDocument(xmlNode* root) {
    TCleanedFacts facts;
    std::vector<xmlNode*> drop, noscripts, images;
    Walk(root, [&](xmlNode* node) {
        for (xmlNode* child = node->children; child != nullptr; child = child->next)
            if (child->type == XML_COMMENT_NODE || child->type == XML_PI_NODE) drop.push_back(child);
        if (node != root && NeverArticle(node, facts)) {
            drop.push_back(node);
            return false;
        }
        if (Named(node, "noscript")) {
            noscripts.push_back(node);
            return false;
        }
        if (Named(node, "img")) images.push_back(node);
        return true;
    });
    for (xmlNode* node : drop) Remove(node);
    for (xmlNode* image : images)
        if (!LoadLazyImage(image)) Remove(image);
    // In document order: a placeholder removed before a <noscript> holds
    // none of those still to come.
    UseNoscriptImages(noscripts);
    return facts;
}

}  // namespace extract

#include "Output.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "Text.h"
#include "Page.h"
#include "Url.h"

namespace extract {

namespace {

constexpr std::array<std::string_view, 51> kKept = {
    "p",       "br",         "hr",  "h1",    "h2",    "h3",     "h4",    "h5",    "h6",         "ul", "ol",
    "li",      "dl",         "dt",  "dd",    "table", "thead",  "tbody", "tfoot", "tr",         "th", "td",
    "caption", "colgroup",   "col", "pre",   "code",  "kbd",    "samp",  "var",   "blockquote", "q",  "cite",
    "figure",  "figcaption", "img", "a",     "em",    "strong", "b",     "i",     "u",          "s",  "del",
    "ins",     "sub",        "sup", "small", "mark",  "abbr",   "time"};
constexpr std::array<std::string_view, 8> kAsDivision = {"div",    "section", "article", "main",
                                                         "header", "address", "details", "center"};
constexpr std::array<std::string_view, 25> kDropped = {
    "script", "style", "noscript", "template", "iframe", "frame", "frameset", "object", "embed",
    "applet", "svg",   "math",     "canvas",   "form",   "input", "button",   "select", "textarea",
    "title",  "meta",  "link",     "base",     "audio",  "video", "dialog"};
constexpr std::array<std::string_view, 4> kVoid = {"br", "hr", "img", "col"};

bool OneOf(std::string_view value, const auto& list) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool IsNumber(const std::string& text) {
    return !text.empty() && text.size() < 6 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

void AppendAttribute(std::string& out, const char* name, std::string_view value) {
    out += ' ';
    out += name;
    out += "=\"";
    plat::AppendMarkupEscaped(out, value, true);
    out += '"';
}

class TWriter {
public:
    TWriter(const TBlocks& blocks, const std::string& baseUrl) : FBlocks(blocks), FBase(baseUrl) {}

    void Write(const xmlNode* root) {
        FRoot = root;
        const xmlNode* at = root;
        for (;;) {
            if ((at->type == XML_TEXT_NODE || at->type == XML_CDATA_SECTION_NODE) && at->content != nullptr) {
                WriteText(reinterpret_cast<const char*>(at->content));
            } else if (IsElement(at)) {
                const std::string_view tag = Open(at);
                if (tag != kSkip && !OneOf(tag, kVoid)) {
                    if (at->children != nullptr) {
                        FOpen.push_back(tag);
                        at = at->children;
                        continue;
                    }
                    Close(tag);
                }
            }
            for (;;) {
                if (at == root) return;
                if (at->next != nullptr) {
                    at = at->next;
                    break;
                }
                at = at->parent;
                Close(FOpen.back());
                FOpen.pop_back();
            }
        }
    }

    TArticleHtml Result() && { return std::move(FResult); }

private:
    static constexpr std::string_view kSkip = "-";
    static constexpr std::string_view kUnwrap = "";

    // The tag written for node ("" for none, its contents only; kSkip for
    // nothing at all), its start tag already written.
    std::string_view Open(const xmlNode* node) {
        const TBlockFacts& facts = FBlocks[node];
        const std::string_view name = AsWritten(node);
        if (facts.skipped || OneOf(name, kDropped)) return kSkip;
        const bool division = OneOf(name, kAsDivision);
        if ((name == "p" || division) && facts.text == 0 && facts.images == 0) return kSkip;
        if (!division && !OneOf(name, kKept)) return kUnwrap;
        std::string& out = FResult.html;
        if (name == "img") {
            const auto src = ResolveImageAddress(FBase, Attribute(node, "src"));
            const std::string width = Attribute(node, "width"), height = Attribute(node, "height");
            if (!src || width == "1" || height == "1") return kSkip;
            out += "<img";
            AppendAttribute(out, "src", *src);
            for (const char* kept : {"alt", "title"})
                if (HasAttribute(node, kept)) AppendAttribute(out, kept, Attribute(node, kept));
            if (IsNumber(width)) AppendAttribute(out, "width", width);
            if (IsNumber(height)) AppendAttribute(out, "height", height);
            out += '>';
            return name;
        }
        std::optional<std::string> href;
        if (name == "a") {
            href = ResolveWebAddress(FBase, Attribute(node, "href"));
            if (!href) return kUnwrap;
        }
        const std::string_view tag = division ? "div" : name;
        out += '<';
        out += tag;
        if (href) AppendAttribute(out, "href", *href);
        if (name == "blockquote" || name == "q")
            if (auto cite = ResolveWebAddress(FBase, Attribute(node, "cite"))) AppendAttribute(out, "cite", *cite);
        for (const char* number : {"colspan", "rowspan", "start"})
            if (std::string value = Attribute(node, number); IsNumber(value)) AppendAttribute(out, number, value);
        if (name == "time" && HasAttribute(node, "datetime"))
            AppendAttribute(out, "datetime", Attribute(node, "datetime"));
        if ((name == "abbr" || name == "a") && HasAttribute(node, "title"))
            AppendAttribute(out, "title", Attribute(node, "title"));
        out += '>';
        return tag;
    }

    void Close(std::string_view tag) {
        if (tag.empty()) return;
        FResult.html += "</";
        FResult.html += tag;
        FResult.html += '>';
        if (tag == "p" || tag == "div" || tag == "li" || tag == "tr" || tag == "figure" || tag == "pre" ||
            tag == "blockquote" || tag[0] == 'h' || tag == "ul" || tag == "ol" || tag == "table") {
            FResult.html += '\n';
            if (FResult.text.size() < kTextKept) FResult.text += ' ';
        }
    }

    void WriteText(std::string_view text) {
        plat::AppendMarkupEscaped(FResult.html, text, false);
        FResult.textLength += VisibleLength(text);
        if (FResult.text.size() < kTextKept) FResult.text.append(text.substr(0, kTextKept - FResult.text.size()));
    }

    // The element as it is written: a chosen cell, row or item stands alone,
    // outside its table or list, and an AMP image is an image.
    std::string_view AsWritten(const xmlNode* node) const {
        const std::string_view name = NameOf(node);
        if (node == FRoot &&
            OneOf(name, std::array<std::string_view, 9>{"td", "th", "tr", "tbody", "thead", "tfoot", "li", "dd", "dt"}))
            return "div";
        return name == "amp-img" || name == "amp-anim" ? "img" : name;
    }

    const TBlocks& FBlocks;
    const std::string& FBase;
    const xmlNode* FRoot = nullptr;
    std::vector<std::string_view> FOpen;
    TArticleHtml FResult;
};

}  // namespace

TArticleHtml WriteText(std::string_view text) {
    TArticleHtml result;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        if (const std::string line = CollapseBlanks(text.substr(at, end - at)); !line.empty()) {
            result.html += "<p>";
            plat::AppendMarkupEscaped(result.html, line, false);
            result.html += "</p>\n";
            result.textLength += VisibleLength(line) + (result.text.empty() ? 0 : 1);
            if (result.text.size() < kTextKept)
                (result.text += result.text.empty() ? "" : " ") += line.substr(0, kTextKept);
        }
        at = end + 1;
    }
    return result;
}

TArticleHtml WriteArticle(const TBlocks& blocks, const std::vector<xmlNode*>& chosen, const std::string& baseUrl) {
    TWriter writer(blocks, baseUrl);
    for (const xmlNode* root : chosen) writer.Write(root);
    TArticleHtml result = std::move(writer).Result();
    result.text = CollapseBlanks(result.text);
    return result;
}

}  // namespace extract

#include "FeedParserJSON.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "Convert.h"
#include "FeedUtils.h"
#include "Text.h"

namespace feed {

using nlohmann::json;

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Version 1's address; the 1.0 text itself says "https", yet feeds written
// before the site moved to https (and generators copying them) say "http".
constexpr std::string_view kVersionSite = "jsonfeed.org/version/1";

// The library's message without its internal tag ("[json.exception.
// parse_error.101] "), and cut short: it quotes the text it stopped in,
// which in a hostile document may be a string of megabytes.
std::string ParseErrorMessage(const json::exception& error) {
    std::string_view message = error.what();
    if (message.starts_with('[')) {
        if (const auto end = message.find("] "); end != std::string_view::npos) message.remove_prefix(end + 2);
    }
    constexpr std::size_t kMaxMessage = 300;
    if (message.size() <= kMaxMessage) return "JSON " + std::string(message);
    std::size_t cut = kMaxMessage;
    while (cut > 0 && (static_cast<unsigned char>(message[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    return "JSON " + std::string(message.substr(0, cut)) + "...";
}

// Builds the tree from the parser's events, the way the library's own
// builder does, but refusing to open a container deeper than the bound
// before anything inside it is read, and moving each string into the tree
// instead of copying it.
class TBoundedTreeBuilder {
public:
    explicit TBoundedTreeBuilder(json& root) : FRoot(root) { FStack.reserve(16); }

    bool null() { return Put(nullptr); }
    bool boolean(bool value) { return Put(value); }
    bool number_integer(json::number_integer_t value) { return Put(value); }
    bool number_unsigned(json::number_unsigned_t value) { return Put(value); }
    bool number_float(json::number_float_t value, const json::string_t&) { return Put(value); }
    // The parser reuses its buffer only after clearing it.
    bool string(json::string_t& value) { return Put(std::move(value)); }
    bool binary(json::binary_t&) { return false; }  // binary formats only, never JSON text
    bool start_object(std::size_t) { return Open(json::value_t::object); }
    bool key(json::string_t& name) {
        FMember = &FStack.back()->get_ref<json::object_t&>()[std::move(name)];
        return true;
    }
    bool end_object() { return Close(); }
    bool start_array(std::size_t) { return Open(json::value_t::array); }
    bool end_array() { return Close(); }
    bool parse_error(std::size_t, const std::string&, const json::exception& error) {
        FError = ParseErrorMessage(error);
        return false;
    }

    bool TooDeep() const { return FTooDeep; }
    const std::string& Error() const { return FError; }

private:
    // Where the next value goes: the root, the end of the open array, or
    // the member whose key came last. Containers on the stack are never
    // moved while open: a parent only grows once its open child is closed.
    json* Place(json&& value) {
        if (FStack.empty()) {
            FRoot = std::move(value);
            return &FRoot;
        }
        json& parent = *FStack.back();
        if (parent.is_array()) return &parent.get_ref<json::array_t&>().emplace_back(std::move(value));
        *FMember = std::move(value);
        return FMember;
    }
    bool Put(json&& value) {
        Place(std::move(value));
        return true;
    }
    bool Open(json::value_t type) {
        if (FStack.size() >= static_cast<std::size_t>(TFeedParserJSON::kMaxDepth)) {
            FTooDeep = true;
            return false;
        }
        FStack.push_back(Place(json(type)));
        return true;
    }
    bool Close() {
        FStack.pop_back();
        return true;
    }

    json& FRoot;
    std::vector<json*> FStack;
    json* FMember = nullptr;
    bool FTooDeep = false;
    std::string FError;
};

json* Member(json& object, const char* name) {
    if (!object.is_object()) return nullptr;
    const auto it = object.find(name);
    return it == object.end() ? nullptr : &*it;
}

// A value as text: a string as written, a number as its decimal text
// (JSON Feed ids are often numbers); nullopt for anything else. Strings are
// moved out of the tree, which is read only once.
std::optional<std::string> TextOf(json& value) {
    if (value.is_string()) return std::move(value.get_ref<std::string&>());
    if (value.is_number_unsigned()) return std::to_string(value.get<std::uint64_t>());
    if (value.is_number_integer()) return std::to_string(value.get<std::int64_t>());
    if (value.is_number_float()) return value.dump();
    return std::nullopt;
}

std::optional<std::string> TakeText(json& object, const char* name) {
    json* value = Member(object, name);
    return value ? TextOf(*value) : std::nullopt;
}

// Addresses, types and dates are strings or nothing: a number is no address.
std::optional<std::string> TakeString(json& object, const char* name) {
    json* value = Member(object, name);
    if (!value || !value->is_string()) return std::nullopt;
    return std::move(value->get_ref<std::string&>());
}

bool HasText(const std::optional<std::string>& text) { return text && !text->empty(); }

// A size in bytes as the model keeps it: 0, unknown, for anything that is
// not a positive whole number that fits.
int SizeOf(const json* value) {
    constexpr auto kMax = std::numeric_limits<int>::max();
    if (!value) return 0;
    if (value->is_number_unsigned()) {
        const auto size = value->get<std::uint64_t>();
        return size <= static_cast<std::uint64_t>(kMax) ? static_cast<int>(size) : 0;
    }
    if (value->is_number_float()) {
        const double size = value->get<double>();
        return size > 0 && size <= kMax && std::floor(size) == size ? static_cast<int>(size) : 0;
    }
    if (value->is_string()) {
        const auto size = plat::TryStrToInt(value->get_ref<const std::string&>());
        return size && *size > 0 ? *size : 0;
    }
    return 0;  // negative integers too
}

// Plain text as the HTML a reader shows: markup characters escaped, each
// paragraph (text between blank lines) in a <p>, other line breaks as <br>.
std::string TextAsHtml(std::string_view text) {
    std::string html;
    html.reserve(text.size() + text.size() / 16 + 8);
    bool open = false;
    int newlines = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') continue;
            c = '\n';
        }
        if (c == '\n') {
            ++newlines;
            continue;
        }
        // Blanks at the start of a line show as nothing; skipping them lets
        // a line of spaces still part paragraphs.
        if ((newlines > 0 || !open) && (c == ' ' || c == '\t')) continue;
        if (!open) {
            html += "<p>";
            open = true;
        } else if (newlines > 0) {
            html += newlines > 1 ? "</p>\n<p>" : "<br>\n";
        }
        newlines = 0;
        switch (c) {
            case '&':
                html += "&amp;";
                break;
            case '<':
                html += "&lt;";
                break;
            case '>':
                html += "&gt;";
                break;
            default:
                html += c;
        }
    }
    if (open) html += "</p>";
    return html;
}

}  // namespace

bool TFeedParserJSON::LooksLikeJSON(std::string_view text) {
    text = plat::SkipByteOrderMarkAndBlanks(text, plat::Blanks::Xml);  // JSON's blanks are XML's
    return text.starts_with('{') || text.starts_with('[');
}

TFeedParserJSON::TFeedParserJSON(TFeedDocument& rss, std::string_view text)
    : TFeedParserBase(rss), FRoot(std::make_unique<json>()) {
    if (text.size() > kMaxDocumentSize) throw TFeedException("JSON document too large: a feed may not exceed 32 MiB");
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    TBoundedTreeBuilder builder(*FRoot);
    try {
        if (json::sax_parse(text.data(), text.data() + text.size(), &builder)) return;
    } catch (const json::exception& error) {
        throw TFeedException(ParseErrorMessage(error));
    }
    if (builder.TooDeep())
        throw TFeedException("JSON document nested too deeply (more than " + std::to_string(kMaxDepth) + " levels)");
    throw TFeedException(builder.Error().empty() ? std::string("JSON parse error") : builder.Error());
}

TFeedParserJSON::~TFeedParserJSON() = default;

bool TFeedParserJSON::IsJSONFeedVersion(std::string_view version) {
    if (version.starts_with("https://"))
        version.remove_prefix(8);
    else if (version.starts_with("http://"))
        version.remove_prefix(7);
    else
        return false;
    if (!version.starts_with(kVersionSite)) return false;
    version.remove_prefix(kVersionSite.size());
    return version.empty() || version == "/" || version[0] == '.';
}

bool TFeedParserJSON::IsJSONFeed() const {
    if (!FRoot->is_object()) return false;
    const auto version = FRoot->find("version");
    return version != FRoot->end() && version->is_string() && IsJSONFeedVersion(version->get_ref<const std::string&>());
}

void TFeedParserJSON::Parse() {
    json& feed = *FRoot;
    if (auto title = TakeText(feed, "title")) ChannelReq().SetTitle(*title);
    if (auto link = TakeString(feed, "home_page_url")) ChannelReq().SetLink(Resolved(std::move(*link)));
    if (auto description = TakeText(feed, "description")) ChannelReq().SetDesc(*description);
    // Language tags are written "en-US"; the table knows "en-us".
    if (auto language = TakeString(feed, "language"); HasText(language)) {
        const std::string lowered = plat::AsciiLower(*language);
        ReadLanguageCode(LanguageFromCode(lowered) != langX ? lowered : *language);
    }
    ReadChannelImage(feed);
    // An item without authors has the feed's.
    const TAuthor feedAuthor = ReadAuthor(feed);
    json* items = Member(feed, "items");
    if (!items || !items->is_array()) return;
    for (json& entry : *items) ReadItem(entry, feedAuthor);
}

// The icon is the feed's picture (512 pixels square); the favicon stands in
// when there is none.
void TFeedParserJSON::ReadChannelImage(json& feed) {
    auto url = TakeString(feed, "icon");
    if (!HasText(url)) url = TakeString(feed, "favicon");
    if (!HasText(url)) return;
    TRSSImage& image = ChannelOpt().Image();
    image.SetInclude(true);
    image.Required().SetURL(Resolved(std::move(*url)));
    image.Required().SetTitle(ChannelReq().Title());
    image.Required().SetLink(ChannelReq().Link());
}

void TFeedParserJSON::ReadItem(json& entry, const TAuthor& feedAuthor) {
    if (!entry.is_object()) return;
    TRSSItem& item = RSS.Items().Add();
    if (auto title = TakeText(entry, "title")) item.SetTitle(std::move(*title));
    // A link post's url may be missing, its external_url naming the page.
    auto url = TakeString(entry, "url");
    if (!HasText(url)) url = TakeString(entry, "external_url");
    if (HasText(url)) item.SetLink(Resolved(std::move(*url)));
    ReadBodies(entry, item);
    TAuthor author = ReadAuthor(entry);
    if (author.name.empty() && author.url.empty()) author = feedAuthor;
    SetAuthorName(item, author.name);
    item.Author().URL = std::move(author.url);
    // An unreadable publication date gives way to the modification date;
    // an undated item is dated by the time it was read, which is not stored.
    for (const char* name : {"date_published", "date_modified"}) {
        if (item.PubDate().Modified()) break;
        if (auto date = TakeString(entry, name)) item.PubDate().ParseISO8601(*date);
    }
    if (!item.PubDate().Modified()) item.PubDate().StampNow();
    // Ids are opaque, even those that look like addresses.
    if (auto id = TakeText(entry, "id"); HasText(id)) {
        item.GUID().SetInclude(true);
        item.GUID().SetGUID(std::move(*id));
        item.GUID().SetIsPermaLink(false);
    }
    ReadEnclosure(entry, item);
    if (json* tags = Member(entry, "tags"); tags && tags->is_array()) {
        for (json& tag : *tags) {
            if (auto text = TextOf(tag); HasText(text)) item.Categories().Add().SetTitle(std::move(*text));
        }
    }
}

// The summary is the description and the content the full body beside it;
// with only one of them, that one is the description. Plain text content
// becomes HTML, which is what the model's bodies hold.
void TFeedParserJSON::ReadBodies(json& entry, TRSSItem& item) {
    auto body = TakeText(entry, "content_html");
    if (!HasText(body)) {
        if (auto text = TakeText(entry, "content_text")) body = TextAsHtml(*text);
    }
    if (HasText(body)) item.SetContentType(ctHTML);
    auto summary = TakeText(entry, "summary");
    if (HasText(summary)) {
        item.SetDescription(std::move(*summary));
        if (HasText(body) && *body != item.Description()) item.SetContent(std::move(*body));
    } else if (body) {
        item.SetDescription(std::move(*body));
    }
}

// The first attachment with an address (a podcast's episode); without
// one, the post's picture, as a media thumbnail stands in for RSS.
void TFeedParserJSON::ReadEnclosure(json& entry, TRSSItem& item) const {
    TRSSItemEnclosure& enclosure = item.Enclosure();
    if (json* attachments = Member(entry, "attachments"); attachments && attachments->is_array()) {
        for (json& attachment : *attachments) {
            auto url = TakeString(attachment, "url");
            if (!HasText(url)) continue;
            enclosure.SetURL(Resolved(std::move(*url)));
            enclosure.SetEnclosureType(TakeString(attachment, "mime_type").value_or(""));
            enclosure.SetLength(SizeOf(Member(attachment, "size_in_bytes")));
            enclosure.SetInclude(true);
            return;
        }
    }
    if (auto image = TakeString(entry, "image"); HasText(image)) {
        enclosure.SetURL(Resolved(std::move(*image)));
        enclosure.SetEnclosureType("image/*");
        enclosure.SetLength(0);
        enclosure.SetInclude(true);
    }
}

// The first author with a name or address: 1.1 lists them in authors, 1.0
// wrote one author, which 1.1 feeds often keep beside the list for older
// readers. A bare text is taken as the name.
TFeedParserJSON::TAuthor TFeedParserJSON::ReadAuthor(json& object) {
    const auto read = [](json& author) {
        TAuthor result;
        if (author.is_object()) {
            result.name = TakeText(author, "name").value_or("");
            result.url = TakeString(author, "url").value_or("");
        } else if (author.is_string()) {
            result.name = std::move(author.get_ref<std::string&>());
        }
        return result;
    };
    if (json* authors = Member(object, "authors"); authors && authors->is_array()) {
        for (json& author : *authors) {
            TAuthor result = read(author);
            if (!result.name.empty() || !result.url.empty()) return result;
        }
    }
    if (json* author = Member(object, "author")) return read(*author);
    return {};
}

std::string TFeedParserJSON::Resolved(std::string reference) const {
    const std::string& base = RSS.DocumentURL();
    if (reference.empty() || IsAbsoluteURL(reference) || !IsAbsoluteURL(base)) return reference;
    return ResolveURL(base, reference);
}

}  // namespace feed

#include "FeedPageFunctions.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTimeZone>

#include <libxml/xpathInternals.h>
#include <libxslt/extensions.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "AlertWords.h"
#include "DateTime.h"
#include "HtmlSanitizer.h"
#include "ItemIdentity.h"
#include "PaneProtocol.h"

namespace quillet {

namespace {

// The last argument as a string; nullopt (with the XPath error set) when
// it cannot be one.
std::optional<std::string> PopStringArgument(xmlXPathParserContextPtr ctxt) {
    xmlChar* text = xmlXPathPopString(ctxt);
    std::optional<std::string> result;
    if (!xmlXPathCheckError(ctxt)) result = text ? reinterpret_cast<const char*>(text) : "";
    if (text) xmlFree(text);
    return result;
}

// A page function of one string argument and one string result. A wrong
// call is an XPath error, as for any built-in function.
template <typename Transform>
void StringFunction(xmlXPathParserContextPtr ctxt, int nargs, Transform transform) {
    if (nargs != 1) {
        xmlXPathSetArityError(ctxt);
        return;
    }
    const std::optional<std::string> input = PopStringArgument(ctxt);
    if (!input) return;
    const std::string result = transform(*input);
    valuePush(ctxt, xmlXPathNewString(reinterpret_cast<const xmlChar*>(result.c_str())));
}

// local-date(text)
void LocalDateFunction(xmlXPathParserContextPtr ctxt, int nargs) {
    StringFunction(ctxt, nargs,
                   [](const std::string& text) { return LocalDateText(QString::fromStdString(text)).toStdString(); });
}

// file-name(address)
void FileNameFunction(xmlXPathParserContextPtr ctxt, int nargs) {
    StringFunction(ctxt, nargs, [](const std::string& address) { return FileNameText(address); });
}

thread_local const TPageMarks* tMarks = nullptr;

// The key of the item last asked about: the item template asks several
// functions about one item in a row, and the key is computed once.
thread_local const xmlNode* tKeyedItem = nullptr;
thread_local std::string tItemKey;

const std::string& MarkedItemKey(const xmlNode* item) {
    if (item != tKeyedItem) {
        tItemKey = PageItemKey(item);
        tKeyedItem = item;
    }
    return tItemKey;
}

constexpr const char* kContentNamespace = "http://purl.org/rss/1.0/modules/content/";

// The first node of a node-set argument; null for an empty set or another
// kind of value (then an XPath type error is raised).
const xmlNode* PopFirstNode(xmlXPathParserContextPtr ctxt) {
    if (!ctxt->value || ctxt->value->type != XPATH_NODESET) {
        xmlXPathSetTypeError(ctxt);
        return nullptr;
    }
    xmlNodeSetPtr nodes = xmlXPathPopNodeSet(ctxt);
    const xmlNode* first = nodes && nodes->nodeNr > 0 ? nodes->nodeTab[0] : nullptr;
    if (nodes) xmlXPathFreeNodeSet(nodes);
    return first;
}

// is-new(item): true when the item's key is among the page's unread ones.
void IsNewFunction(xmlXPathParserContextPtr ctxt, int nargs) {
    if (nargs != 1) {
        xmlXPathSetArityError(ctxt);
        return;
    }
    const xmlNode* item = PopFirstNode(ctxt);
    if (xmlXPathCheckError(ctxt)) return;
    const bool fresh = item && tMarks && !tMarks->Unread.empty() && tMarks->Unread.count(MarkedItemKey(item)) != 0;
    valuePush(ctxt, xmlXPathNewBoolean(fresh));
}

// item-anchor(item[, 'always']): the id of the item's element.
void ItemAnchorFunction(xmlXPathParserContextPtr ctxt, int nargs) {
    if (nargs != 1 && nargs != 2) {
        xmlXPathSetArityError(ctxt);
        return;
    }
    bool always = false;
    if (nargs == 2) {
        xmlChar* how = xmlXPathPopString(ctxt);
        always = how && xmlStrEqual(how, BAD_CAST "always");
        xmlFree(how);
    }
    const xmlNode* item = PopFirstNode(ctxt);
    if (xmlXPathCheckError(ctxt)) return;
    // Anchors serve the marks of a page (its "N new" link, an item to bring
    // into view); a page without marks gets none, and costs what it did,
    // unless they are asked for always (the light pane keeps the reader's
    // place by the item it is in).
    const bool marked = always || (tMarks && (!tMarks->Unread.empty() || !tMarks->Target.empty()));
    const std::string anchor = item && marked ? ItemAnchor(MarkedItemKey(item)) : std::string();
    valuePush(ctxt, xmlXPathNewString(reinterpret_cast<const xmlChar*>(anchor.c_str())));
}

// new-label(count): the page's "N new" line.
void NewLabelFunction(xmlXPathParserContextPtr ctxt, int nargs) {
    if (nargs != 1) {
        xmlXPathSetArityError(ctxt);
        return;
    }
    const double count = xmlXPathPopNumber(ctxt);
    if (xmlXPathCheckError(ctxt)) return;
    std::string label = tMarks ? tMarks->NewLabel : std::string("%d new");
    const std::string number = std::isfinite(count) ? std::to_string(static_cast<long long>(count)) : "0";
    if (const std::size_t at = label.find("%d"); at != std::string::npos)
        label.replace(at, 2, number);
    else
        label = number + " " + label;
    valuePush(ctxt, xmlXPathNewString(reinterpret_cast<const xmlChar*>(label.c_str())));
}

// feed-name(title): the feed's name as the reader gave it, else `title`.
void FeedNameFunction(xmlXPathParserContextPtr ctxt, int nargs) {
    StringFunction(ctxt, nargs, [](const std::string& title) {
        return tMarks && !tMarks->Caption.empty() ? tMarks->Caption : title;
    });
}

// article(item, field): one item's article, note or request address.
void ArticleFunction(xmlXPathParserContextPtr ctxt, int nargs) {
    if (nargs != 2) {
        xmlXPathSetArityError(ctxt);
        return;
    }
    const std::optional<std::string> field = PopStringArgument(ctxt);
    if (!field) return;
    const std::string& name = *field;
    const xmlNode* item = PopFirstNode(ctxt);
    if (xmlXPathCheckError(ctxt)) return;
    std::string result;
    // Only the program's own pages have articles; others pay nothing.
    const bool request = name == "request" && tMarks && !tMarks->FeedId.empty();
    const bool stored = (name == "html" || name == "note") && tMarks && !tMarks->Articles.empty();
    if (item && (request || stored)) {
        const std::string& key = MarkedItemKey(item);
        if (request) {
            result = pane::ArticleRequestAddress(QString::fromStdString(tMarks->FeedId), QString::fromStdString(key))
                         .toStdString();
        } else if (const auto found = tMarks->Articles.find(key); found != tMarks->Articles.end()) {
            // The window's copy was cleaned when it was fetched; the page
            // takes nothing on trust from another process all the same.
            result = name == "html" ? html::SanitizeFragment(found->second.Html) : found->second.Note;
        }
    }
    valuePush(ctxt, xmlXPathNewString(reinterpret_cast<const xmlChar*>(result.c_str())));
}

// article-label(name): the text of an item's article links.
void ArticleLabelFunction(xmlXPathParserContextPtr ctxt, int nargs) {
    StringFunction(ctxt, nargs, [](const std::string& name) {
        const TPageMarks defaults;
        const TPageMarks& marks = tMarks ? *tMarks : defaults;
        return name == "original" ? marks.OriginalLabel : marks.ReadLabel;
    });
}

// star(item, field): the item's star link.
void StarFunction(xmlXPathParserContextPtr ctxt, int nargs) {
    if (nargs != 2) {
        xmlXPathSetArityError(ctxt);
        return;
    }
    const std::optional<std::string> field = PopStringArgument(ctxt);
    if (!field) return;
    const xmlNode* item = PopFirstNode(ctxt);
    if (xmlXPathCheckError(ctxt)) return;
    std::string feedId, key, result;
    if (item && tMarks && tMarks->StarredView) {
        // Attributes written by the program for its own Starred page only.
        for (const auto& [name, out] : {std::pair{"feed", &feedId}, {"key", &key}})
            if (xmlChar* value = xmlGetNoNsProp(item, BAD_CAST name)) {
                *out = reinterpret_cast<const char*>(value);
                xmlFree(value);
            }
    } else if (item && tMarks && !tMarks->FeedId.empty()) {
        feedId = tMarks->FeedId;
        key = MarkedItemKey(item);
    }
    if (!feedId.empty() && !key.empty()) {
        const bool starred = tMarks->StarredView || tMarks->Starred.count(key) != 0;
        if (*field == "href")
            result = pane::StarRequestAddress(QString::fromStdString(feedId), QString::fromStdString(key), !starred)
                         .toStdString();
        else if (*field == "text")
            result = StarLinkText(starred, *tMarks);
        else if (*field == "state" && starred)
            result = "starred";
    }
    valuePush(ctxt, xmlXPathNewString(reinterpret_cast<const xmlChar*>(result.c_str())));
}

// view-link(name): the Starred view's links to its other pages.
void ViewLinkFunction(xmlXPathParserContextPtr ctxt, int nargs) {
    StringFunction(ctxt, nargs, [](const std::string& name) {
        if (!tMarks || !tMarks->StarredView) return std::string();
        if (name == "newer") return tMarks->NewerPage;
        if (name == "older") return tMarks->OlderPage;
        if (name == "newer-label") return tMarks->NewerLabel;
        return name == "older-label" ? tMarks->OlderLabel : std::string();
    });
}

// The text of the first child element `name` (in namespace `ns`, or none).
std::string ChildText(const xmlNode* parent, const char* name, const char* ns = nullptr) {
    for (const xmlNode* child = parent->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || xmlStrcmp(child->name, BAD_CAST name) != 0) continue;
        const xmlChar* href = child->ns ? child->ns->href : nullptr;
        if (ns ? (!href || xmlStrcmp(href, BAD_CAST ns) != 0) : href != nullptr) continue;
        xmlChar* text = xmlNodeGetContent(child);
        std::string result = text ? reinterpret_cast<const char*>(text) : "";
        if (text) xmlFree(text);
        return result;
    }
    return {};
}

// The last segment of a path, as the stylesheet has always shown it: with
// its slash when the path ends in one ("http://host/dir/" gives "dir/").
std::string_view LastSegment(std::string_view path) {
    const std::size_t last = path.rfind('/');
    if (last == std::string_view::npos) return path;
    if (last + 1 < path.size()) return path.substr(last + 1);
    const std::size_t before = last == 0 ? std::string_view::npos : path.rfind('/', last - 1);
    return before == std::string_view::npos ? path : path.substr(before + 1);
}

// The alert words of the pages built on this thread, compiled once for as
// long as they stay the same.
const TAlertMatcher& PageAlertMatcher(const std::vector<std::string>& words) {
    thread_local std::unique_ptr<TAlertMatcher> matcher;
    if (!matcher || matcher->Words() != words) matcher = std::make_unique<TAlertMatcher>(words);
    return *matcher;
}

// item-state(item): the item's state in words.
void ItemStateFunction(xmlXPathParserContextPtr ctxt, int nargs) {
    if (nargs != 1) {
        xmlXPathSetArityError(ctxt);
        return;
    }
    const xmlNode* item = PopFirstNode(ctxt);
    if (xmlXPathCheckError(ctxt)) return;
    std::string state;
    if (item && tMarks) {
        if (!tMarks->Unread.empty() && tMarks->Unread.count(MarkedItemKey(item)) != 0) state = tMarks->NewWord;
        if (!tMarks->AlertWords.empty()) {
            std::string body = ChildText(item, "encoded", kContentNamespace);
            if (body.empty()) body = ChildText(item, "description");
            if (PageAlertMatcher(tMarks->AlertWords).Matches(ChildText(item, "title"), body))
                state += (state.empty() ? "" : ", ") + tMarks->AlertWord;
        }
    }
    valuePush(ctxt, xmlXPathNewString(reinterpret_cast<const xmlChar*>(state.c_str())));
}

}  // namespace

void RegisterFeedPageFunctions() {
    static std::once_flag once;
    std::call_once(once, [] {
        xsltRegisterExtModuleFunction(BAD_CAST "local-date", BAD_CAST kFeedPageNamespace, LocalDateFunction);
        xsltRegisterExtModuleFunction(BAD_CAST "file-name", BAD_CAST kFeedPageNamespace, FileNameFunction);
        xsltRegisterExtModuleFunction(BAD_CAST "is-new", BAD_CAST kFeedPageNamespace, IsNewFunction);
        xsltRegisterExtModuleFunction(BAD_CAST "item-anchor", BAD_CAST kFeedPageNamespace, ItemAnchorFunction);
        xsltRegisterExtModuleFunction(BAD_CAST "item-state", BAD_CAST kFeedPageNamespace, ItemStateFunction);
        xsltRegisterExtModuleFunction(BAD_CAST "new-label", BAD_CAST kFeedPageNamespace, NewLabelFunction);
        xsltRegisterExtModuleFunction(BAD_CAST "feed-name", BAD_CAST kFeedPageNamespace, FeedNameFunction);
        xsltRegisterExtModuleFunction(BAD_CAST "article", BAD_CAST kFeedPageNamespace, ArticleFunction);
        xsltRegisterExtModuleFunction(BAD_CAST "article-label", BAD_CAST kFeedPageNamespace, ArticleLabelFunction);
        xsltRegisterExtModuleFunction(BAD_CAST "star", BAD_CAST kFeedPageNamespace, StarFunction);
        xsltRegisterExtModuleFunction(BAD_CAST "view-link", BAD_CAST kFeedPageNamespace, ViewLinkFunction);
    });
}

std::string FileNameText(std::string_view address) {
    const std::string_view name = LastSegment(address.substr(0, address.find_first_of("?#")));
    // Cut by characters, never inside one: count the bytes that start one.
    std::size_t end = 0;
    int characters = 0;
    while (end < name.size()) {
        if ((static_cast<unsigned char>(name[end]) & 0xC0) != 0x80 && ++characters > kMaxShownAddress)
            return std::string(name.substr(0, end)) + "\xE2\x80\xA6";  // an ellipsis
        ++end;
    }
    return std::string(name);
}

QString LocalDateText(const QString& date, const QLocale& locale, const QTimeZone& zone) {
    const auto parsed = plat::ParseFeedDateTime(date.toStdString());
    if (!parsed) return date;
    const plat::DateTimeParts utc = plat::DecodeDateTime(parsed->Instant());
    const QDateTime instant(QDate(utc.year, utc.month, utc.day), QTime(utc.hour, utc.minute, utc.second),
                            QTimeZone::utc());
    const QDateTime local = instant.toTimeZone(zone);
    return locale.toString(local.date(), QLocale::LongFormat) + QLatin1Char(' ') +
           locale.toString(local.time(), QLocale::ShortFormat);
}

TPageMarks TPageMarks::FromJson(const QJsonObject& marks) {
    TPageMarks result;
    for (const QJsonValue& key : marks.value(QStringLiteral("unread")).toArray()) {
        if (key.isString()) result.Unread.insert(key.toString().toStdString());
    }
    result.Target = marks.value(QStringLiteral("target")).toString().toStdString();
    const QString label = marks.value(QStringLiteral("newLabel")).toString();
    if (!label.isEmpty()) result.NewLabel = label.toStdString();
    result.Caption = marks.value(QStringLiteral("caption")).toString().toStdString();
    result.Serial = static_cast<qint64>(marks.value(QStringLiteral("serial")).toDouble());
    const QJsonObject articles = marks.value(QStringLiteral("articles")).toObject();
    for (auto it = articles.begin(); it != articles.end(); ++it)
        result.Articles.emplace(it.key().toStdString(), ArticleFromJson(it.value().toObject()));
    result.FeedId = marks.value(QStringLiteral("feed")).toString().toStdString();
    for (const auto& [field, label] : {std::pair{"readLabel", &result.ReadLabel},
                                       {"originalLabel", &result.OriginalLabel},
                                       {"starLabel", &result.StarLabel},
                                       {"newWord", &result.NewWord},
                                       {"alertWord", &result.AlertWord},
                                       {"starredLabel", &result.StarredLabel},
                                       {"newerPage", &result.NewerPage},
                                       {"olderPage", &result.OlderPage},
                                       {"newerLabel", &result.NewerLabel},
                                       {"olderLabel", &result.OlderLabel}})
        if (const QString text = marks.value(QLatin1String(field)).toString(); !text.isEmpty())
            *label = text.toStdString();
    for (const QJsonValue& key : marks.value(QStringLiteral("starred")).toArray())
        if (key.isString()) result.Starred.insert(key.toString().toStdString());
    result.StarredView = marks.value(QStringLiteral("starredView")).toBool();
    for (const QJsonValue& word : marks.value(QStringLiteral("alertWords")).toArray())
        if (word.isString()) result.AlertWords.push_back(word.toString().toStdString());
    return result;
}

TPageArticle TPageMarks::ArticleFromJson(const QJsonObject& article) {
    return {article.value(QStringLiteral("html")).toString().toStdString(),
            article.value(QStringLiteral("note")).toString().toStdString()};
}

TPageMarksScope::TPageMarksScope(const TPageMarks* marks) : FPrevious(tMarks) { tMarks = marks; }

TPageMarksScope::~TPageMarksScope() { tMarks = FPrevious; }

// A node's address names an item only within one page build.
void BeginPageBuild() { tKeyedItem = nullptr; }

std::string PageItemKey(const xmlNode* item) {
    // The stored copy is RSS 2.0 written by the program: the same fields,
    // in the same form, as the download's items had when they were stored.
    items::TStoredItem stored;
    stored.Guid = ChildText(item, "guid");
    stored.Link = ChildText(item, "link");
    stored.Title = ChildText(item, "title");
    const std::string date = ChildText(item, "pubDate");
    if (const auto parsed = plat::ParseFeedDateTime(date)) {
        stored.DateText = date;
        stored.DateUTC = static_cast<std::int64_t>(std::llround((parsed->Instant() - 25569.0) * 86400.0));
    }
    // The body names an item only when nothing else does; copying it for
    // every item would double what a page of large bodies takes to build.
    stored.Body = "-";
    const std::string key = items::ItemKey(stored);
    if (key.rfind("b:", 0) != 0) return key;
    stored.Body = ChildText(item, "encoded", kContentNamespace);
    if (stored.Body.empty()) stored.Body = ChildText(item, "description");
    return items::ItemKey(stored);
}

std::string StarLinkText(bool starred, const TPageMarks& marks) {
    // A black star for a starred item, a white one to star it.
    return starred ? "\xE2\x98\x85\xC2\xA0" + marks.StarredLabel : "\xE2\x98\x86\xC2\xA0" + marks.StarLabel;
}

std::string ItemAnchor(const std::string& key) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(items::IdentityHash(key)));
    return std::string(kItemAnchorPrefix) + hex;
}

}  // namespace quillet

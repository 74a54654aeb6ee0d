// Functions the feed page stylesheet (rss.xsl) may call while the program
// renders a stored copy. XSLT 1.0 cannot convert time zones, so the date of
// an item is turned into the reader's own zone and format here.
//
// In the namespace kFeedPageNamespace:
//   local-date(text)  an RFC 822 or ISO date as the reader's local time in
//                     the locale's format; any other text unchanged.
//   file-name(address) the last segment of an address's path (query and
//                     fragment left out), cut to kMaxShownAddress
//                     characters: what an enclosure's link shows. XSLT 1.0
//                     finds it only by recursing once per "/", copying the
//                     rest of the address each time, which a hostile
//                     address turns into gigabytes.
//
//   is-new(item)      whether an <item> of the stored copy is unread in the
//                     item store: the page marks it.
//   item-anchor(item) the id of an item's element in the page, from the
//                     item store's key, so the program can show one item.
//   new-label(count)  "N new" in the reader's language.
//   item-state(item)  the item's state in words for its heading ("new",
//                     "alert", "new, alert"), "" for none.
//   feed-name(title)  the feed's name as the reader gave it, else `title`.
//   article(item, field)
//                     the item's full article from the item store: 'html'
//                     its HTML (cleaned by the allow-list here, whatever
//                     the sender did), 'note' why the page shows the feed's
//                     body instead, 'request' the address of its "Read the
//                     full article" link; "" for none.
//   article-label(name) the text of the article links, 'read' or 'original'.
//   star(item, field) the item's star link: 'href' its address ("" on a page
//                     that cannot star), 'text' its symbol and word, 'state'
//                     'starred' or "".
//   view-link(name)   the Starred view's 'newer' and 'older' page addresses
//                     and their words ('newer-label', 'older-label').
// The item functions compute the store's key (items::ItemKey) from the
// item's elements, as the store computed it from the same item when it was
// downloaded.
//
// Stored copies keep their raw dates, so another browser shows those (the
// stylesheet asks function-available() first).
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTimeZone>

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct _xmlNode;
class QJsonObject;

namespace quillet {

inline constexpr const char* kFeedPageNamespace = "urn:quillet:page";

// Registers the functions with libxslt for every transformation of this
// process; later calls do nothing.
void RegisterFeedPageFunctions();
// Called before each transformation on its thread: what the functions
// remember of one page's items goes.
void BeginPageBuild();

// What local-date gives: `date` as local time in `locale`'s format, or the
// text unchanged when it is no date. For tests, `zone` names the reader's
// zone.
QString LocalDateText(const QString& date, const QLocale& locale = QLocale(),
                      const QTimeZone& zone = QTimeZone::systemTimeZone());

// The most characters of an address the page shows as text; longer ones
// end in an ellipsis. The stylesheet's own fallback uses the same figure.
inline constexpr int kMaxShownAddress = 200;

// What file-name gives for `address` (UTF-8): "" when the address has no
// path at all.
std::string FileNameText(std::string_view address);

// What the item store holds of one item's full article for its page.
struct TPageArticle {
    std::string Html;  // "" when the page shows the feed's body
    std::string Note;  // why it does, in the reader's words; "" for no reason to give
};

// What the page of one feed marks: the keys of its unread items, the item
// to bring into view, the text of the "N new" line ("%d" for N), the
// feed's name and its items' articles.
struct TPageMarks {
    std::unordered_set<std::string> Unread;
    std::string Target;
    std::string NewLabel = "%d new";
    // The word an unread item's heading carries, for a screen reader (the
    // eye has the mark before it).
    std::string NewWord = "new";
    // The alert words (as ParseAlertWords splits them): an item holding one
    // says so in its heading, with AlertWord.
    std::vector<std::string> AlertWords;
    std::string AlertWord = "alert";
    // The feed's name in the program (renamed there, say), over its own.
    std::string Caption;
    // The main window's number for the navigation, reported back once its
    // page has been shown; 0 for none.
    qint64 Serial = 0;
    // By item key; items without a row show their feed's body.
    std::unordered_map<std::string, TPageArticle> Articles;
    // The feed's id, for its items' "Read the full article" links: none
    // without it.
    std::string FeedId;
    std::string ReadLabel = "Read the full article";
    std::string OriginalLabel = "Original page";
    // The keys of the feed's starred items, and the words of the star link.
    std::unordered_set<std::string> Starred;
    std::string StarLabel = "Star";
    std::string StarredLabel = "Starred";
    // The page lists starred items of many feeds (the Starred view): each
    // <item> names its feed and key in its attributes "feed" and "key", and
    // every one is starred.
    bool StarredView = false;
    // The Starred view's links to its newer and older pages ("" for none)
    // and their words.
    std::string NewerPage, OlderPage, NewerLabel, OlderLabel;

    bool Empty() const { return Unread.empty() && Target.empty(); }
    // From the fields the main window sends with a navigation ("unread",
    // "target", "newLabel", "articles"...); anything malformed is left out.
    static TPageMarks FromJson(const QJsonObject& marks);
    // One item's article as the "article" line or the "articles" field
    // carries it ({html, note}).
    static TPageArticle ArticleFromJson(const QJsonObject& article);
};

// While alive, pages built on this thread are marked with `marks` (which
// must outlive it); without one nothing is new.
class TPageMarksScope {
public:
    explicit TPageMarksScope(const TPageMarks* marks);
    ~TPageMarksScope();
    TPageMarksScope(const TPageMarksScope&) = delete;
    TPageMarksScope& operator=(const TPageMarksScope&) = delete;

private:
    const TPageMarks* FPrevious;
};

// The key the item store gives the stored copy's <item> element `item`.
std::string PageItemKey(const _xmlNode* item);
// The id of an item's element in the page, for its store key.
inline constexpr const char* kItemAnchorPrefix = "quillet-item-";
std::string ItemAnchor(const std::string& key);
// The text of an item's star link: a symbol for the eye and the word for
// everyone, screen readers included.
std::string StarLinkText(bool starred, const TPageMarks& marks);

}  // namespace quillet

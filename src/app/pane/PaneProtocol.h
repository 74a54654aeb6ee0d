// The conversation between the main window and its reading-pane process.
//
// The browser engine lives in a process of its own (quillet-pane) that the
// main window starts when a page is to be shown and ends when the window
// has been hidden for a while, so a program waiting in the tray holds no
// engine at all. The two talk over the helper's standard input and output:
// one JSON object per line, each naming its kind in "op".
//
// Main window to pane:
//   unread {keys}           item keys for the next navigate to mark as new,
//                           in as many lines as they need (a feed's keys can
//                           pass the line bound many times over)
//   article {key, html, note}
//                           an item's fetched article (sanitised HTML) or the
//                           plain note that says why the page shows the
//                           feed's body, for the next navigate; one line per
//                           item
//   navigate {address, scheme, marks}
//                           show a stored copy or address; the pane asks back.
//                           scheme: "light" or "dark", the desktop's colour
//                           scheme the page is built for. marks (optional):
//                           {unread: [item keys], target: item key,
//                           newLabel: "%d new", caption: the feed's name,
//                           serial: number, feed: the feed's id,
//                           readLabel, originalLabel: the texts of an item's
//                           article links}; the keys sent by "unread" since
//                           the last navigate join marks.unread, and the
//                           items sent by "article" its articles
//   open {address, scheme}  the main window allowed this navigation: load it
//   images {on}             whether http/https images of descriptions load
//   style {fontFamily, fontSize, lineChars, userCss, zoom}
//                           how the reader wants pages set, for the pages
//                           built from now on (PageBuild.h's TPageStyle)
//   bodyStyle {property, value}
//   show {embedded}         the pane's window was taken into the main window
//                           (or could not be, and shows on its own)
//   hide {}                 a window on its own goes with the main window
//   pageText {}             reply with the shown page's text (for tests)
//   items {}                reply with the page's items (ItemCursor.h)
//   current {anchor}        the item of this anchor is the current one:
//                           marked, near the top, focused
//   itemNew {anchor, on, word}
//                           the item's new mark and state word set or taken
//                           away
//   follow {address}        an item's link opened by a key: the pane asks
//                           about it as for a click
// Pane to main window:
//   window {id}             the native window to embed, sent once at start
//   ask {address}           may the pane go to this address? An item's
//                           "Read the full article" link asks for an
//                           ArticleRequestAddress.
//   complete {address, ok}  a navigation finished
//   status {text}           the hovered link, "" when the pointer left it
//   focus {}                the user clicked into the pane while it did not
//                           have the keyboard: the main window hands it over
//   key {key, modifiers, text}
//                           a key pressed in the pane that belongs to the
//                           main window (KeyBelongsToWindow): its shortcuts,
//                           menus and focus keys act on it there
//   pageText {text}
//   items {items: [{anchor, star, link, new}], at}
//                           the page's items, and the current one, else the
//                           one the reader is at
//   shown {serial}          the stored copy's page of the navigate with this
//                           serial has loaded: the main window counts what it
//                           marked as seen. Nothing else counts as seen.
//
// Neither side trusts the other's bytes: a line longer than kMaxLineBytes,
// or one that is not a JSON object, is dropped.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <vector>

namespace quillet {
struct TPageStyle;
}

namespace pane {

inline constexpr qsizetype kMaxLineBytes = 1 << 20;

// The hovered address as the pane sends it: its start and end, with an
// ellipsis for the middle when it has more than kMaxStatusChars characters.
// A status bar shows far less, and a longer address could pass the line
// bound, be dropped, and leave the previous address on show.
inline constexpr qsizetype kMaxStatusChars = 4000;
QString StatusText(const QString& hovered);

// One message as a line, ready to write.
QByteArray Encode(const QString& op, QJsonObject fields = {});

// Item keys as "unread" lines of at most about `budget` bytes each. A key
// that alone passes the line bound cannot be sent and is left out: its item
// shows, only not marked as new.
std::vector<QByteArray> EncodeUnreadKeys(const QJsonArray& keys, qsizetype budget = kMaxLineBytes / 2);

// Items' articles as "article" lines, given as {key: {html, note}}. An
// article whose line would pass the bound is left out (the sender keeps
// articles well below it): its item shows the feed's body.
std::vector<QByteArray> EncodeArticles(const QJsonObject& articles);

// The address of an item's "Read the full article" link: a scheme of the
// program's own that the pane only ever asks the main window about.
inline constexpr const char* kArticleRequestScheme = "quillet-article";
QString ArticleRequestAddress(const QString& feedId, const QString& key);
// The feed and item an address of that form names; false for any other.
bool ParseArticleRequest(const QString& address, QString& feedId, QString& key);

// The address of an item's star link: a request to the main window to star
// (`star`) or unstar the item, never loaded by a pane.
inline constexpr const char* kStarRequestScheme = "quillet-star";
QString StarRequestAddress(const QString& feedId, const QString& key, bool star);
// The feed (a decimal id), item and wish an address of that form names;
// false for any other.
bool ParseStarRequest(const QString& address, QString& feedId, QString& key, bool& star);
// The address of a page of the Starred view (0: the newest stars), and
// the page an address of that form names.
QString StarredPageAddress(int page);
bool ParseStarredPage(const QString& address, int& page);

// The fields of a "style" message and back.
QJsonObject PageStyleJson(const quillet::TPageStyle& style);
quillet::TPageStyle PageStyleFromJson(const QJsonObject& fields);

// Whether a key pressed in the page is the main window's rather than the
// page's. The page keeps what reads it: scrolling and moving keys, copying
// and selecting all; every other key may be a shortcut of the window (a
// single letter such as N among them: the page has no fields to type in),
// a menu's Alt key or a key that moves the focus out of the page.
bool KeyBelongsToWindow(int key, Qt::KeyboardModifiers modifiers);

// Splits a byte stream into messages. Bytes arrive in any pieces; each
// complete line gives one object, with "op" among its fields.
class TLineReader {
public:
    std::vector<QJsonObject> Feed(const QByteArray& bytes);

private:
    QByteArray FPartial;
    // Inside a line that grew too long: skipped up to its end.
    bool FSkipping = false;
};

}  // namespace pane

// The item the reader is on in a feed's page, for moving from item to item
// by keys in either pane: the page's items in order (read from the page
// itself, so the light pane and the engine agree), which one is current,
// and what marking it read or unread changes. No widgets: the panes find
// the items and show the mark, the window's controller drives the rules.
#pragma once

#include <QJsonArray>
#include <QString>
#include <QUrl>

#include <optional>
#include <vector>

namespace pane {

struct TPageItem {
    QString Anchor;    // the id (engine) or anchor name (light pane) of the item
    QString StarLink;  // its star link: the feed and key; "" where the page cannot star
    QString Link;      // its title's address, resolved; "" for none
    bool New = false;  // the page marks it new
    QString Title;     // its heading as read: the title and its state words
};

class TItemCursor {
public:
    // A page's items; `current` is the item the reader is at (-1: the
    // first, if any).
    void Reset(std::vector<TPageItem> items, int current = -1);
    void Clear() { Reset({}); }

    const std::vector<TPageItem>& Items() const { return FItems; }
    int Current() const { return FCurrent; }
    const TPageItem* CurrentItem() const;

    // Each moves the current item and says whether it moved; at the ends
    // nothing changes.
    bool Next();
    bool Previous();
    bool MoveTo(int index);
    // To the next item marked new after the current one; false when none
    // is left on this page (the reader goes on to the next feed).
    bool NextNew();
    // The first item marked new, -1 for none.
    int FirstNew() const;
    int IndexOfAnchor(const QString& anchor) const;
    int IndexOfStarLink(const QString& starLink) const;

    // What toggling the current item's read state asks of the store and
    // the page.
    struct TMark {
        QString FeedId;
        QString Key;
        QString Anchor;
        bool Read = false;  // true: it was new and is read now
    };
    // Toggles the current item's new mark; nothing without a current item
    // or one the page cannot name (no star link).
    std::optional<TMark> ToggleRead();

    // A feed's unread count after one item changed, for a feed without an
    // item store: never below zero.
    static long long CountAfter(long long count, bool read) { return read ? (count > 0 ? count - 1 : 0) : count + 1; }
    // An item heading's state in words ("new", "new, alert") with the new
    // word put in or taken out; the other words stay in their order.
    static QString StateWithNew(const QString& state, const QString& newWord, bool isNew);
    // Whether an item's link may be opened by the keyboard: the web and
    // mail only, never a local file or a script.
    static bool Openable(const QUrl& url);

private:
    std::vector<TPageItem> FItems;
    int FCurrent = -1;
};

// A page's items as the engine pane sends them ({anchor, star, link, new}),
// at most about `budget` bytes of them: a line past the protocol's bound
// would be dropped and its answer never come. Items that are not objects,
// or have no anchor, are left out on the way back.
QJsonArray PageItemsJson(const std::vector<TPageItem>& items, qsizetype budget);
std::vector<TPageItem> PageItemsFromJson(const QJsonArray& items);

}  // namespace pane

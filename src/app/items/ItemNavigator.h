// Moving from item to item in the page on show, by the window's actions:
// next and previous item, the next new item (in the next feed with unread
// items once the page has none left), the item's link, and marking it read
// or unread. The rules are TItemCursor's; the page's items come from the
// pane each time (they change as the page is built, restyled or marked),
// the controller keeping only which item is current on which page. It
// reaches the pane, the read state and the status line through its host.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "ItemCursor.h"

struct TItemNavigatorHost {
    using TItemsReply = std::function<void(std::vector<pane::TPageItem> items, const QString& anchorInView)>;
    // The pane: its items (the reply may come later, or never), which page
    // it shows (a number that changes with every page and pane), the
    // current item's mark, an item's new mark and its link opened.
    std::function<void(TItemsReply reply)> PageItems;
    std::function<qint64()> PageKey;
    std::function<void(const QString& anchor)> ShowItem;
    std::function<void(const QString& anchor, const QString& key, bool isNew)> SetItemNew;
    std::function<void(const QString& address)> OpenLink;
    // The read state: one item of a feed read or unread (false when it
    // could not be changed), and the next feed with unread items shown.
    std::function<bool(const std::string& feedId, const std::string& key, bool read)> MarkItem;
    std::function<bool()> ShowNextUnreadFeed;
    std::function<void(const QString& text)> ShowStatus;
    // Says the item the reader moved to (its heading) to a screen reader,
    // wherever the keyboard is.
    std::function<void(const QString& text)> Speak;
};

class TItemNavigator : public QObject {
    Q_OBJECT
public:
    explicit TItemNavigator(TItemNavigatorHost host, QObject* parent = nullptr);

    void Next();
    void Previous();
    void NextUnread();
    void OpenLink();
    void ToggleRead();
    // A page came on show: after a hand-over to the next feed, its first
    // new item becomes the current one.
    void PageShown();

    // The current item's anchor on the page it was chosen on.
    const QString& CurrentAnchor() const { return FAnchor; }

private:
    // Runs `act` on the cursor over the page's items as they are now, the
    // current item kept while the page is the same, else the one the
    // reader is at (`fresh`). Nothing runs for a page without items.
    void WithCursor(std::function<void(pane::TItemCursor& cursor, bool fresh)> act);
    // Shows the cursor's current item, kept for the next action.
    void Show(const pane::TItemCursor& cursor);

    TItemNavigatorHost FHost;
    QString FAnchor;
    qint64 FPage = -1;
    bool FHandOver = false;
};

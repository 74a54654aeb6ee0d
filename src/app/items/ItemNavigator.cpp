#include "ItemNavigator.h"

#include <QPointer>

#include <algorithm>

#include "uvxLanguage.h"

TItemNavigator::TItemNavigator(TItemNavigatorHost host, QObject* parent) : QObject(parent), FHost(std::move(host)) {
    setObjectName("ItemNavigator");
}

void TItemNavigator::WithCursor(std::function<void(pane::TItemCursor&, bool fresh)> act) {
    const qint64 page = FHost.PageKey();
    FHost.PageItems([self = QPointer<TItemNavigator>(this), page, act = std::move(act)](
                        std::vector<pane::TPageItem> items, const QString& inView) {
        if (!self || page != self->FHost.PageKey()) return;  // another page since
        if (items.empty()) {
            self->FHost.ShowStatus(LangTextQ("NoPageItems", {}, QStringLiteral("The page shows no items.")));
            return;
        }
        pane::TItemCursor cursor;
        cursor.Reset(std::move(items));
        const int kept = page == self->FPage ? cursor.IndexOfAnchor(self->FAnchor) : -1;
        cursor.MoveTo(kept >= 0 ? kept : std::max(0, cursor.IndexOfAnchor(inView)));
        self->FPage = page;
        self->FAnchor = cursor.CurrentItem()->Anchor;
        act(cursor, kept < 0);
    });
}

void TItemNavigator::Show(const pane::TItemCursor& cursor) {
    if (const pane::TPageItem* item = cursor.CurrentItem()) {
        FAnchor = item->Anchor;
        FHost.ShowItem(FAnchor);
        if (FHost.Speak && !item->Title.isEmpty()) FHost.Speak(item->Title);
    }
}

void TItemNavigator::Next() {
    FHandOver = false;
    WithCursor([this](pane::TItemCursor& cursor, bool fresh) {
        // On a page without a current item the first key shows the item
        // the reader is at; the next ones move.
        if (!fresh) cursor.Next();
        Show(cursor);
    });
}

void TItemNavigator::Previous() {
    FHandOver = false;
    WithCursor([this](pane::TItemCursor& cursor, bool fresh) {
        if (!fresh) cursor.Previous();
        Show(cursor);
    });
}

void TItemNavigator::NextUnread() {
    FHandOver = false;
    WithCursor([this](pane::TItemCursor& cursor, bool fresh) {
        const pane::TPageItem* at = cursor.CurrentItem();
        if ((fresh && at->New) || cursor.NextNew()) {
            Show(cursor);
            return;
        }
        // None left here: the next feed with unread items, at its first new
        // item once its page is on show.
        FHandOver = FHost.ShowNextUnreadFeed();
    });
}

void TItemNavigator::PageShown() {
    if (!FHandOver) return;
    FHandOver = false;
    WithCursor([this](pane::TItemCursor& cursor, bool) {
        cursor.MoveTo(std::max(0, cursor.FirstNew()));
        Show(cursor);
    });
}

void TItemNavigator::OpenLink() {
    FHandOver = false;
    WithCursor([this](pane::TItemCursor& cursor, bool) {
        Show(cursor);
        // The pane opens only what may be opened (TItemCursor::Openable).
        if (const QString& link = cursor.CurrentItem()->Link; !link.isEmpty()) FHost.OpenLink(link);
    });
}

void TItemNavigator::ToggleRead() {
    FHandOver = false;
    WithCursor([this](pane::TItemCursor& cursor, bool) {
        Show(cursor);
        const std::optional<pane::TItemCursor::TMark> mark = cursor.ToggleRead();
        if (!mark || !FHost.MarkItem(mark->FeedId.toStdString(), mark->Key.toStdString(), mark->Read)) return;
        FHost.SetItemNew(mark->Anchor, mark->Key, !mark->Read);
    });
}

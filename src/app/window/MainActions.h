// The main window's actions, made in one place with the names the language
// files find their texts by, their icons, shortcuts and first state. The
// window places them in its menus and toolbar and connects them; the parts
// it hands them to enable and trigger them.
#pragma once

class QAction;
class QWidget;

struct TMainActions {
    QAction* AddFeed = nullptr;
    QAction* DeleteFeed = nullptr;
    QAction* EditFeed = nullptr;
    QAction* RenameFeed = nullptr;
    QAction* UpdateFeed = nullptr;
    QAction* UpdateAll = nullptr;
    QAction* CopyURL = nullptr;
    QAction* ImportOPML = nullptr;
    QAction* ExportOPML = nullptr;
    QAction* ShowQuillet = nullptr;
    QAction* HideQuillet = nullptr;
    QAction* Options = nullptr;
    QAction* Exit = nullptr;
    QAction* Help = nullptr;
    QAction* About = nullptr;
    QAction* HomePage = nullptr;
    QAction* Support = nullptr;
    QAction* NewFolder = nullptr;
    QAction* FilterFeeds = nullptr;
    QAction* MarkRead = nullptr;
    QAction* MarkAllRead = nullptr;
    QAction* MarkUnread = nullptr;
    QAction* NextUnread = nullptr;
    QAction* FindInFeeds = nullptr;
    QAction* StarItem = nullptr;
    QAction* ExportStarred = nullptr;
    // From item to item in the page, with single keys as Next Unread.
    QAction* NextItem = nullptr;
    QAction* PreviousItem = nullptr;
    QAction* NextUnreadItem = nullptr;
    QAction* OpenItemLink = nullptr;
    QAction* ToggleItemRead = nullptr;
    QAction* Accounts = nullptr;  // made with the accounts' part

    // Makes every action as a child of `window`; the window-wide shortcuts
    // (Next Unread, Star Item, the item keys, Help,
    // Online Support) are added to it.
    static TMainActions Make(QWidget* window);
};

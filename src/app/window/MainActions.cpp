#include "MainActions.h"

#include <QAction>
#include <QIcon>
#include <QKeySequence>
#include <QWidget>

#include <utility>

TMainActions TMainActions::Make(QWidget* window) {
    auto make = [window](const char* name, const QString& caption, const char* icon = nullptr) {
        auto* action = new QAction(caption, window);
        action->setObjectName(name);
        if (icon) action->setIcon(QIcon(QString(":/icons/%1.svg").arg(icon)));
        return action;
    };
    TMainActions a;
    a.AddFeed = make("ActionAddFeed", "Add Feed", "add");
    a.DeleteFeed = make("ActionDeleteFeed", "Delete Feed", "delete");
    a.EditFeed = make("ActionEditFeed", "Edit Feed", "edit");
    a.RenameFeed = make("ActionRenameFeed", "Rename");
    a.UpdateFeed = make("ActionUpdateFeed", "Update Feed", "update");
    a.UpdateAll = make("ActionUpdateAll", "Update All", "update-all");
    a.CopyURL = make("ActionCopyURL", "Copy URL");
    a.ImportOPML = make("ActionImportOPML", "Import OPML...");
    a.ExportOPML = make("ActionExportOPML", "Export OPML...");
    a.ShowQuillet = make("ActionShowQuillet", "Show Quillet");
    a.HideQuillet = make("ActionHideQuillet", "Hide Quillet");
    a.Options = make("ActionOptions", "Options", "options");
    a.Exit = make("ActionExit", "Exit");
    a.Help = make("ActionHelp", "Help", "help");
    a.About = make("ActionAbout", "About Quillet...");
    a.HomePage = make("ActionHomePage", "Home Page");
    a.Support = make("ActionSupport", "Online Support");
    a.NewFolder = make("ActionNewFolder", "New Folder");
    a.FilterFeeds = make("ActionFilterFeeds", "Filter Feeds");
    a.MarkRead = make("ActionMarkRead", "Mark as Read");
    a.MarkAllRead = make("ActionMarkAllRead", "Mark All as Read");
    a.MarkUnread = make("ActionMarkUnread", "Mark as Unread");
    a.NextUnread = make("ActionNextUnread", "Next Unread", "next-unread");
    a.FindInFeeds = make("ActionFindInFeeds", "Find in Feeds...");
    a.StarItem = make("ActionStarItem", "Star Item", "star");
    a.ExportStarred = make("ActionExportStarred", "Export Starred Items...");
    a.NextItem = make("ActionNextItem", "Next Item");
    a.PreviousItem = make("ActionPreviousItem", "Previous Item");
    a.NextUnreadItem = make("ActionNextUnreadItem", "Next Unread Item");
    a.OpenItemLink = make("ActionOpenItemLink", "Open Item Link");
    a.ToggleItemRead = make("ActionToggleItemRead", "Mark Item Read or Unread");

    a.HomePage->setToolTip("Browse Home Page");
    a.HomePage->setStatusTip("Browse Home Page");
    a.Support->setToolTip("Online Support");
    a.Support->setStatusTip("Online Support");

    // Feed actions follow the selection; nothing is selected yet.
    for (QAction* action : {a.DeleteFeed, a.EditFeed, a.RenameFeed, a.UpdateFeed, a.CopyURL, a.MarkRead, a.MarkUnread})
        action->setEnabled(false);
    a.ShowQuillet->setVisible(false);

    a.Help->setShortcut(QKeySequence::HelpContents);
    a.AddFeed->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    a.Exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // Feed shortcuts act where the feeds are (tree, toolbar, menus), never
    // while the browser has the keyboard.
    a.RenameFeed->setShortcut(QKeySequence(Qt::Key_F2));
    a.RenameFeed->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    a.DeleteFeed->setShortcut(QKeySequence::Delete);
    a.DeleteFeed->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    a.FilterFeeds->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    a.FindInFeeds->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    // A single key: a line edit with the keyboard takes it as typing (it
    // claims printable keys before shortcuts), everywhere else in the
    // window it moves on.
    a.NextUnread->setShortcut(QKeySequence(Qt::Key_N));
    a.NextUnread->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    window->addAction(a.NextUnread);
    // The same for the item the reader is at in the page.
    a.StarItem->setShortcut(QKeySequence(Qt::Key_S));
    a.StarItem->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    window->addAction(a.StarItem);
    // And for moving from item to item in it.
    for (const auto& [action, key] : {std::pair{a.NextItem, QKeyCombination(Qt::Key_J)},
                                      {a.PreviousItem, QKeyCombination(Qt::Key_K)},
                                      {a.NextUnreadItem, QKeyCombination(Qt::SHIFT | Qt::Key_N)},
                                      {a.OpenItemLink, QKeyCombination(Qt::Key_O)},
                                      {a.ToggleItemRead, QKeyCombination(Qt::Key_M)}}) {
        action->setShortcut(QKeySequence(key));
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        window->addAction(action);
    }
    // Help and Online Support sit in no menu; the window holds them so their
    // shortcuts work.
    window->addAction(a.Help);
    window->addAction(a.Support);
    return a;
}

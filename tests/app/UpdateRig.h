// The update cycle with no window: the controller and the parts it works
// with (read state, notifications, feed health, the feed tree and the
// feed-list controller) over a feed list read from the current folder's
// config.xml, as the program would have left it. The tree is a bare widget
// showing the list as the window's would; the rest of what the window would
// show is recorded: the status line, each feed row's update state, the
// pages reloaded.
#pragma once

#include <QIcon>
#include <QString>
#include <QWidget>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FeedHealthController.h"
#include "FeedListController.h"
#include "FeedList.h"
#include "FeedListXml.h"
#include "NotifyController.h"
#include "Options.h"
#include "ReadStateController.h"
#include "FeedTree.h"
#include "UpdateController.h"

class TAccountController;

namespace apptest {

class TUpdateRig {
public:
    // Polling is stopped: the test drives the updates.
    TUpdateRig();
    virtual ~TUpdateRig();
    TUpdateRig(const TUpdateRig&) = delete;
    TUpdateRig& operator=(const TUpdateRig&) = delete;

    TUpdateController& Updates() { return *FUpdates; }
    TReadStateController& Items() { return *FItems; }
    TNotifyController& Notify() { return *FNotify; }
    TFeedHealthController& Health() { return *FHealth; }
    TOptions& Options() { return *FOptions; }
    feedlist::TFeedList& List() { return FList; }
    // The list's view, and the user's changes to the list.
    TFeedTree& Tree() { return *FTree; }
    TFeedListController& Feeds() { return *FFeeds; }
    // Writes config.xml as the window does when it closes.
    void Save();

    // A feed as config.xml would have held it with these attributes (under
    // `folder`, the root when null); its id is the list's next one when the
    // stored one is taken.
    const feedlist::TListEntry* AddStoredFeed(const std::vector<std::pair<std::string, std::string>>& attributes,
                                              const feedlist::TListEntry* folder = nullptr);
    const feedlist::TFeedEntry& Feed(const std::string& id) const;
    // The feed's row in the tree; throws when it has none.
    TFeedNode& RowOf(const std::string& id) const;
    // The text the feed's row shows.
    std::string Caption(const std::string& id) const { return RowOf(id).text(0).toStdString(); }

    // What the window would show.
    struct TRowState {
        QIcon Icon;
        QString ToolTip;
    };
    const QString& Status() const { return FStatus; }
    TRowState Row(const std::string& id) const;
    const std::vector<std::string>& Refreshed() const { return FRefreshed; }
    // The Update All action's state: disabled while a pass runs.
    bool UpdateAllEnabled() const { return FUpdateAllEnabled; }
    // The feed whose page is on show (none when empty).
    std::string Selected;
    // Shows the feed's page as the pane would and reports it shown, which
    // marks its items read; false when nothing was marked.
    bool ShowOnPage(const std::string& id);

protected:
    void ShowStatus(const QString& text) { FStatus = text; }
    // What stands for the window: the parent of the parts and the dialogs.
    QWidget& Window() { return FWindow; }
    // What the window does when a feed goes: nobody keeps working on it.
    void FeedGone(const std::string& id);
    // Set by a rig with accounts: the update cycle and the list's changes
    // reach them through it, as the window wires them.
    TAccountController* FAccounts = nullptr;

private:
    std::unique_ptr<TOptions> FOptions;
    feedlist::TFeedList FList;
    std::unique_ptr<feedlist::TStoredFeedList> FStored;
    QWidget FWindow;
    TFeedTree* FTree = nullptr;
    std::unique_ptr<TFeedListController> FFeeds;
    std::unique_ptr<TReadStateController> FItems;
    TNotifyController* FNotify = nullptr;
    TFeedHealthController* FHealth = nullptr;
    std::unique_ptr<TUpdateController> FUpdates;
    QString FStatus;
    std::map<std::string, TRowState> FRows;
    std::vector<std::string> FRefreshed;
    bool FUpdateAllEnabled = true;
    qint64 FPageSerial = 0;
};

}  // namespace apptest

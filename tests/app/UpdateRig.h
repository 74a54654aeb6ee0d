// The update cycle with no window: the controller and the parts it works
// with (read state, notifications, feed health) over a feed list read from
// the current folder's config.xml, as the program would have left it. What
// the window would show is recorded: the status line, each feed row's update
// state, the pages reloaded.
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
#include "FeedList.h"
#include "FeedListXml.h"
#include "NotifyController.h"
#include "Options.h"
#include "ReadStateController.h"
#include "UpdateController.h"

namespace apptest {

class TUpdateRig {
public:
    // Polling is stopped: the test drives the updates.
    TUpdateRig();
    ~TUpdateRig();

    TUpdateController& Updates() { return *FUpdates; }
    TReadStateController& Items() { return *FItems; }
    TNotifyController& Notify() { return *FNotify; }
    TFeedHealthController& Health() { return *FHealth; }
    TOptions& Options() { return *FOptions; }
    feedlist::TFeedList& List() { return FList; }
    // Writes config.xml as the window does when it closes.
    void Save();

    // A feed as config.xml would have held it with these attributes (under
    // `folder`, the root when null); its id is the list's next one when the
    // stored one is taken.
    const feedlist::TListEntry* AddStoredFeed(const std::vector<std::pair<std::string, std::string>>& attributes,
                                              const feedlist::TListEntry* folder = nullptr);
    const feedlist::TFeedEntry& Feed(const std::string& id) const;

    // What the window would show.
    struct TRowState {
        QIcon Icon;
        QString ToolTip;
    };
    const QString& Status() const { return FStatus; }
    TRowState Row(const std::string& id) const;
    const std::vector<std::string>& Refreshed() const { return FRefreshed; }
    // The feed whose page is on show (none when empty).
    std::string Selected;

private:
    class TVersion;
    std::unique_ptr<TOptions> FOptions;
    feedlist::TFeedList FList;
    std::unique_ptr<feedlist::TStoredFeedList> FStored;
    std::unique_ptr<TVersion> FVersion;
    QWidget FWindow;
    std::unique_ptr<TReadStateController> FItems;
    TNotifyController* FNotify = nullptr;
    TFeedHealthController* FHealth = nullptr;
    std::unique_ptr<TUpdateController> FUpdates;
    QString FStatus;
    std::map<std::string, TRowState> FRows;
    std::vector<std::string> FRefreshed;
};

}  // namespace apptest

// A feed's properties: the Feed Properties dialog filled from the feed's
// entry in the feed list, and what OK gives applied to it: its name and
// address, its folder, whether it announces news, whether it shows the full
// articles fetched from its items' links, and an interval of its own.
//
// Feeds are known by id and folders by their entry (the list's root for the
// top level); the window moves rows and shows states through THost.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "FeedListModel.h"

class QWidget;
struct TFeedProperties;

class TFeedPropertiesController : public QObject {
    Q_OBJECT
public:
    // Where a feed can be: the top of the list first, then every folder in
    // the list's order, with its depth (the top's folders are at 1).
    struct TFolderChoice {
        const feedlist::TListEntry* Folder = nullptr;
        QString Caption;
        int Depth = 0;
    };

    struct THost {
        // The feed list the feeds are edited in.
        feedlist::TFeedList* FeedList = nullptr;
        // The caption the list's top shows.
        QString TopCaption;
        // Why the feed needs attention ("" for nothing) and the failure of
        // its last update ("" for none).
        std::function<QString(const std::string& id)> HealthCause;
        std::function<QString(const std::string& id)> LastFailure;
        // The feed is to be fetched from a new address: what was kept about
        // the old one (back-off, failure, health) goes.
        std::function<void(const std::string& id)> AddressReplaced;
        // The feed's own interval or address changed: polling reads the list
        // again.
        std::function<void()> FeedListChanged;
        // An account's feed renamed or given a new address (its entry holds
        // the new values already), for its server.
        std::function<void(const std::string& id, const std::string& oldCaption)> AccountFeedRenamed;
        std::function<void(const std::string& id, const std::string& oldUrl, const feedlist::TListEntry* folder)>
            AccountFeedReaddressed;
        // The feed moves to a folder.
        std::function<void(const std::string& id, const feedlist::TListEntry& folder)> MoveTo;
        // Saves config.xml and refreshes what the health view shows.
        std::function<void()> Save;
        // The dialog's owner.
        std::function<QWidget*()> Window;
    };

    explicit TFeedPropertiesController(THost host, QObject* parent = nullptr);

    // Opens the dialog of a feed and applies what OK gives; the feed may go
    // or the folders change while it is open.
    void Open(const std::string& id);
    // Applies edited properties to a feed and saves config.xml. `folder` is
    // where the feed is to be (null keeps it where it is). A changed address
    // drops the validators and the failure state of the old one, so the
    // next fetch starts afresh.
    void Apply(const std::string& id, const TFeedProperties& values, const feedlist::TListEntry* folder);

    // Every place a feed can be, in the list's order.
    std::vector<TFolderChoice> Folders() const;

private:
    // The places the feed can go: an account's feed stays in the account.
    std::vector<TFolderChoice> FoldersFor(const std::string& id) const;

    THost FHost;
};

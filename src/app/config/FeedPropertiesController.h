// A feed's properties: the Feed Properties dialog filled from the feed's
// <item> element, and what OK gives applied to it.
//
// The element keeps optional attributes for it: notify="False" silences
// a feed's announcements (absent or "True" announces), and interval holds
// the seconds between two fetches of this feed (absent follows the options);
// fullarticle="True" shows articles fetched from the items' links
// (FullArticleSwitch.h).
// Attributes are written only when their value changes, so a list from
// before them is saved as it was read.
//
// Feeds are known by id and folders by their element (the feed list's own
// for the top level); the window moves nodes and shows states through THost.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "XmlDom.h"

class QWidget;
struct TFeedProperties;

class TFeedPropertiesController : public QObject {
    Q_OBJECT
public:
    // Where a feed can be: the top of the list first, then every folder in
    // the list's order, with its depth (the top's folders are at 1).
    struct TFolderChoice {
        xml::Node Folder;
        QString Caption;
        int Depth = 0;
    };

    struct THost {
        // The feed's <item> element; null for an unknown id.
        std::function<xml::Node(const std::string& id)> FeedItem;
        // The element of the folder the feed is in.
        std::function<xml::Node(const std::string& id)> FolderOf;
        // Every place a feed can be.
        std::function<std::vector<TFolderChoice>()> Folders;
        // The account whose folder holds the feed ("" for a local one), and
        // that account's folder.
        std::function<std::string(const std::string& id)> AccountOf;
        std::function<xml::Node(const std::string& accountId)> AccountFolder;
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
        // An account's feed renamed or given a new address (its element holds
        // the new values already), for its server.
        std::function<void(const std::string& id, const std::string& oldCaption)> AccountFeedRenamed;
        std::function<void(const std::string& id, const std::string& oldUrl, const xml::Node& folder)>
            AccountFeedReaddressed;
        // The feed's row shows its caption again; the feed moves to a folder.
        std::function<void(const std::string& id)> ShowCaption;
        std::function<void(const std::string& id, const xml::Node& folder)> MoveTo;
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
    void Apply(const std::string& id, const TFeedProperties& values, xml::Node folder);

private:
    // The places the feed can go: an account's feed stays in the account.
    std::vector<TFolderChoice> FoldersFor(const std::string& id) const;

    THost FHost;
};

// What the reading pane shows and where its links go: a feed's stored copy
// as its page, links to the web handed to the desktop when the options say
// so, the help file, and the pane's status texts.
//
// The pane itself stays a widget of the window; the controller reaches it,
// the feed list and the item store through THost, knowing feeds by id.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <string>

#include "XmlDom.h"

namespace feedlist {
struct TFeedEntry;
}

class TFeedPageController : public QObject {
    Q_OBJECT
public:
    struct THost {
        // The option store's element at a path, made when missing.
        std::function<xml::Node(const std::string& path)> ConfigNode;
        // The feed with this id; null for an unknown one.
        std::function<const feedlist::TFeedEntry*(const std::string& id)> Feed;
        // Makes the feed the selection of the list, its folders open and its
        // row in view. True when selecting it has shown its page already.
        std::function<bool(const std::string& id)> SelectFeed;
        // The item store's side of showing a page: `navigate` hands the
        // page's marks to the pane and returns the pane's serial for it.
        std::function<void(const feedlist::TFeedEntry& feed,
                           const std::function<qint64(const QJsonObject& marks)>& navigate)>
            ShowPage;
        // True when the deleted feed's page was the one on show.
        std::function<bool(const std::string& id)> DropShownPage;
        // The pane.
        std::function<void(const QString& file, const QJsonObject& marks)> Navigate;
        std::function<qint64()> PageSerial;
        std::function<void(bool show)> SetShowWebImages;
        std::function<void(const QString& property, const QString& value)> SetBodyStyle;
        std::function<void()> ClearPane;
        // A status-bar panel: 0 for messages, 1 for the pane's texts.
        std::function<void(int panel, const QString& text)> SetStatusText;
    };

    explicit TFeedPageController(THost host, QObject* parent = nullptr);

    // Selects a feed and shows its stored copy; nothing for an unknown id.
    // The unread count goes only once the pane reports the page on show.
    void Show(const std::string& id);
    // Feed deleted: its page goes with it.
    void FeedDeleted(const QString& id);

    // The pane's events.
    void BeforePaneNavigates(const QString& address, bool& cancel);
    void PaneDocumentComplete();
    void PaneStatusTextChanged(const QString& text);
    void PaneFailed(const QString& reason);

    // Help > Help: the help page in the desktop's browser.
    void ActionHelpExecute();
    // Hands an address or a document to the desktop.
    void OpenExternally(const QUrl& url) const;
    // Tests replace where addresses go.
    void SetOpenExternally(std::function<void(const QUrl&)> open) { FOpenExternally = std::move(open); }

private:
    THost FHost;
    std::function<void(const QUrl&)> FOpenExternally;
};

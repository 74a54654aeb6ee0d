// The reading-pane process's side of the conversation with the main window:
// one browser, driven by the messages of PaneProtocol.h.
//
// The browser asks the main window before every navigation it did not get
// an "open" for, because only the main window knows the user's choices
// (such as opening web pages in the desktop's browser). Until the answer
// comes, the current page stays.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QStringList>

#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "FeedPageFunctions.h"
#include "PaneProtocol.h"

class TWebBrowser;

class TPaneServer : public QObject {
    Q_OBJECT
public:
    using TSend = std::function<void(const QByteArray& line)>;

    // `send` writes one encoded line to the main window.
    explicit TPaneServer(TSend send, QObject* parent = nullptr);
    ~TPaneServer() override;

    // Bytes from the main window, in any pieces.
    void Receive(const QByteArray& bytes);

    // Announces the browser's native window; call once the event loop runs.
    void AnnounceWindow();

    TWebBrowser* Browser() const { return FBrowser; }

protected:
    // Clicks into the pane, which ask for the keyboard.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Handle(const QJsonObject& message);
    void Send(const QString& op, QJsonObject fields = {});

    TSend FSend;
    pane::TLineReader FReader;
    TWebBrowser* FBrowser = nullptr;
    // The keys "unread" brought for the next navigate, within a bound: a
    // main window gone wrong cannot fill the pane's memory.
    static constexpr std::size_t kMaxUnreadBytes = std::size_t(256) << 20;
    std::unordered_set<std::string> FUnread;
    std::size_t FUnreadBytes = 0;
    // The items' articles sent for the next navigate, within the same bound.
    std::unordered_map<std::string, quillet::TPageArticle> FArticles;
    std::size_t FArticleBytes = 0;
    // Addresses asked about and not yet answered. "open" is taken only for
    // one of them, so every navigation has passed the browser's own check.
    QStringList FAsked;
};

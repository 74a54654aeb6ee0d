#include "PaneServer.h"

#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "ItemCursor.h"
#include "WebBrowser.h"

TPaneServer::TPaneServer(TSend send, QObject* parent) : QObject(parent), FSend(std::move(send)) {
    FBrowser = new TWebBrowser;
    FBrowser->setObjectName("WebBrowserView");
    FBrowser->setWindowTitle(QStringLiteral("Quillet"));
    // A window made with no size stays without one: the main window's
    // container resizes it once it is taken in.
    FBrowser->resize(640, 480);
    FBrowser->OnBeforeNavigate = [this](const QString& address, bool& cancel) {
        cancel = true;
        // An unanswered ask is forgotten after a while: the main window
        // answers only those it allows.
        if (FAsked.size() >= 16) FAsked.removeFirst();
        FAsked.append(address);
        Send(QStringLiteral("ask"), {{"address", address}});
    };
    connect(FBrowser, &TWebBrowser::NavigateComplete, this, [this](const QString& address, bool ok) {
        Send(QStringLiteral("complete"), {{"address", address}, {"ok", ok}});
    });
    connect(FBrowser, &TWebBrowser::PageShown, this, [this](qint64 serial) {
        Send(QStringLiteral("shown"), {{"serial", serial}});
    });
    connect(FBrowser, &TWebBrowser::StatusTextChange, this, [this](const QString& text) {
        Send(QStringLiteral("status"), {{"text", pane::StatusText(text)}});
    });
    if (QCoreApplication* application = QCoreApplication::instance()) application->installEventFilter(this);
}

bool TPaneServer::eventFilter(QObject* watched, QEvent* event) {
    // The window sits inside another program's window, so the window
    // manager gives the keyboard to that program on a click. Only the main
    // window can pass it on, by giving the input focus to the pane's window.
    if (event->type() == QEvent::MouseButtonPress && !QGuiApplication::focusWindow()) Send(QStringLiteral("focus"));
    // The window's shortcuts, menus and focus keys are the main window's:
    // the key goes back there and the page never sees it. Taken on its way
    // to the first object, it reaches no other.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (pane::KeyBelongsToWindow(key->key(), key->modifiers())) {
            if (event->type() == QEvent::KeyPress)
                Send(QStringLiteral("key"), {{"key", key->key()},
                                             {"modifiers", static_cast<int>(key->modifiers().toInt())},
                                             {"text", key->text()}});
            event->accept();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

TPaneServer::~TPaneServer() { delete FBrowser; }

void TPaneServer::AnnounceWindow() {
    Send(QStringLiteral("window"), {{"id", QString::number(quint64(FBrowser->winId()))}});
}

void TPaneServer::Receive(const QByteArray& bytes) {
    for (const QJsonObject& message : FReader.Feed(bytes)) Handle(message);
}

void TPaneServer::Handle(const QJsonObject& message) {
    const QString op = message.value("op").toString();
    // A page request carries the colour scheme its page is built for.
    if ((op == QLatin1String("navigate") || op == QLatin1String("open")) && message.contains("scheme"))
        FBrowser->SetColorScheme(message.value("scheme").toString());
    if (op == QLatin1String("unread")) {
        for (const QJsonValue& key : message.value("keys").toArray()) {
            const std::string text = key.toString().toStdString();
            if (FUnreadBytes + text.size() > kMaxUnreadBytes) break;
            FUnreadBytes += text.size();
            FUnread.insert(text);
        }
    } else if (op == QLatin1String("article")) {
        quillet::TPageArticle article = quillet::TPageMarks::ArticleFromJson(message);
        const std::size_t size = article.Html.size() + article.Note.size();
        if (FArticleBytes + size <= kMaxUnreadBytes) {
            FArticleBytes += size;
            FArticles[message.value("key").toString().toStdString()] = std::move(article);
        }
    } else if (op == QLatin1String("navigate")) {
        quillet::TPageMarks marks = quillet::TPageMarks::FromJson(message.value("marks").toObject());
        marks.Unread.merge(FUnread);
        FUnread.clear();
        FUnreadBytes = 0;
        marks.Articles.merge(FArticles);
        FArticles.clear();
        FArticleBytes = 0;
        FBrowser->Navigate(message.value("address").toString(), marks);
    } else if (op == QLatin1String("open")) {
        const QString address = message.value("address").toString();
        if (FAsked.removeOne(address)) FBrowser->Open(address);
    } else if (op == QLatin1String("images"))
        FBrowser->SetShowWebImages(message.value("on").toBool(true));
    else if (op == QLatin1String("menuTexts"))
        FBrowser->SetItemMenuTexts({message.value("star").toString(), message.value("unstar").toString(),
                                    message.value("article").toString()});
    else if (op == QLatin1String("style"))
        FBrowser->SetPageStyle(pane::PageStyleFromJson(message));
    else if (op == QLatin1String("bodyStyle"))
        FBrowser->SetBodyStyle(message.value("property").toString(), message.value("value").toString());
    else if (op == QLatin1String("show"))
        FBrowser->show();
    else if (op == QLatin1String("hide"))
        FBrowser->hide();
    else if (op == QLatin1String("star"))
        FBrowser->SetStarLink(message.value("from").toString(), message.value("to").toString(),
                              message.value("text").toString());
    else if (op == QLatin1String("starLink"))
        FBrowser->StarLinkInView([this](const QString& href) { Send(QStringLiteral("starLink"), {{"href", href}}); });
    else if (op == QLatin1String("items"))
        FBrowser->PageItems([this](const QJsonArray& items, const QString& at) {
            // Checked and bounded on their way: the answer must fit a line.
            Send(QStringLiteral("items"),
                 {{"items", pane::PageItemsJson(pane::PageItemsFromJson(items), pane::kMaxLineBytes / 2)}, {"at", at}});
        });
    else if (op == QLatin1String("current"))
        FBrowser->SetCurrentItem(message.value("anchor").toString());
    else if (op == QLatin1String("itemNew"))
        FBrowser->SetItemNew(message.value("anchor").toString(), message.value("on").toBool(),
                             message.value("word").toString());
    else if (op == QLatin1String("follow")) {
        // An item's link opened by a key: the way a click on it goes.
        const QString address = message.value("address").toString();
        if (TWebBrowser::CheckNavigation(QUrl(address), QWebEnginePage::NavigationTypeLinkClicked, true, {}) ==
            TWebBrowser::TNavigationVerdict::AskHandler) {
            bool cancel = false;
            FBrowser->OnBeforeNavigate(address, cancel);
        }
    } else if (op == QLatin1String("pageText"))
        FBrowser->View()->page()->toPlainText([this](const QString& text) {
            Send(QStringLiteral("pageText"), {{"text", text}});
        });
}

void TPaneServer::Send(const QString& op, QJsonObject fields) {
    if (FSend) FSend(pane::Encode(op, std::move(fields)));
}

// The embedded browser of the main window.
//
// A thin widget over Qt WebEngine that behaves like the browser control the
// main window was designed around: it opens a local file by path, asks before
// every main-frame navigation (the handler may cancel it), reports completed
// navigations and the address of the hovered link, and can set a style
// property on the shown document's body.
//
// Stored feed copies are RSS 2.0 files with an <?xml-stylesheet?> instruction.
// Browser engines are dropping built-in XSLT, so the widget applies that
// stylesheet itself with libxslt (PageStylesheet.h: it reads the feed and
// itself, writes nothing, reaches no network) and serves the
// resulting HTML to the engine through its own URL scheme, which has no size
// limit; relative addresses in the page resolve against the file's folder.
// JavaScript is off: a feed's content can never run script in the program.
//
// The pane shows the feed and nothing else of the machine. Its whole policy
// lives here: the feed's HTML is cleaned by an allow-list before the page is
// built, every navigation of any kind passes CheckNavigation, and every
// sub-resource request passes one interceptor that lets through nothing but
// http and https images, and those only while web images are switched on.
#pragma once

#include <QJsonArray>
#include <QString>
#include <QUrl>
#include <QWebEnginePage>
#include <QWidget>

#include <functional>
#include <memory>

#include "FeedPageFunctions.h"
#include "ItemMenu.h"
#include "PageBuild.h"

class QWebEngineView;
class QWebEngineProfile;

class TWebBrowser : public QWidget {
    Q_OBJECT
public:
    explicit TWebBrowser(QWidget* parent = nullptr);
    ~TWebBrowser() override;

    // Registers the URL scheme that serves transformed pages. Must be called
    // once before the QApplication is created (main() and test mains).
    static void RegisterSchemes();

    // Opens a local file path ("/home/u/feeds/1.xml"), a file: URL or any
    // other address. The before-navigate handler is asked first; a local XML
    // file with a stylesheet instruction is transformed, anything else is
    // loaded as is. The transformation runs on a worker thread, so a large
    // feed never holds the window: the current page stays until the new one
    // is ready, NavigateComplete tells when it has loaded, and a newer
    // navigation replaces one whose page is still being built.
    void Navigate(const QString& pathOrUrl);
    // The same for a stored copy whose page marks `marks` (unread items, an
    // item to bring into view), once the handler has let it open.
    void Navigate(const QString& pathOrUrl, const quillet::TPageMarks& marks);

    // Opens an address (or absolute local path) without asking
    // OnBeforeNavigate: for navigations already allowed.
    void Open(const QString& address);

    // Whether a page is being built for the last navigation.
    bool PageBuildPending() const;

    // Sets one CSS property on the current document's body, e.g.
    // SetBodyStyle("border-style", "none"). Runs in an isolated script world,
    // so it works while JavaScript is off for the page itself.
    void SetBodyStyle(const QString& property, const QString& value);
    // The star link `from` given the address `to` and the text `text`, in
    // place (the program's world, as for the body style).
    void SetStarLink(const QString& from, const QString& to, const QString& text);
    // The star link of the item the reader is at (as the light pane tells
    // it), given to `reply`; "" for none.
    void StarLinkInView(std::function<void(const QString& href)> reply);
    // The star link of the item at `pos` (in the view), given to `reply`;
    // "" where there is no item.
    void StarLinkAt(const QPoint& pos, std::function<void(const QString& href)> reply);
    // Moving from item to item (ItemCursor.h): the page's items and the
    // anchor of the current item, else of the one the reader is at, given
    // to `reply`; an item without an id is named by its place.
    void PageItems(std::function<void(const QJsonArray& items, const QString& at)> reply);
    // The item of `anchor` current: marked, its heading near the top and
    // focused (tabindex -1), which a screen reader follows.
    void SetCurrentItem(const QString& anchor);
    // An item's new mark (its class) and state word, set or taken away.
    void SetItemNew(const QString& anchor, bool isNew, const QString& word);
    // The view's menu with the actions of the item whose star link is
    // `starHref` (ItemMenu.h), which ask OnBeforeNavigate as its links do.
    QMenu* ItemMenu(const QString& starHref);
    void SetItemMenuTexts(pane::TItemMenuTexts texts) { FItemMenuTexts = std::move(texts); }

    // The address last navigated to, as given to Navigate or clicked.
    QString LocationURL() const { return FLocation; }

    // Asked before a main-frame navigation: the target address (a local path
    // for local files, otherwise the URL) and a cancel flag. Called on the
    // user-interface thread; set cancel to keep the current page.
    std::function<void(const QString& address, bool& cancel)> OnBeforeNavigate;

    QWebEngineView* View() const { return FView; }

    // Whether http and https images of a feed's descriptions are loaded.
    // On by default; no other sub-resource is ever loaded.
    void SetShowWebImages(bool show);
    bool ShowWebImages() const;

    // What becomes of one navigation request.
    enum class TNavigationVerdict {
        Load,        // goes ahead without asking again
        AskHandler,  // goes to OnBeforeNavigate, which may cancel it
        Refuse,      // ignored
    };
    // The one check every navigation passes: those the engine reports
    // (links, redirects, meta refresh, forms, frames, history) and the
    // program's own (Navigate, reported as a typed address). `previous` is
    // the address of the last navigation that went ahead in the main frame.
    static TNavigationVerdict CheckNavigation(const QUrl& url, QWebEnginePage::NavigationType type, bool isMainFrame,
                                              const QUrl& previous);

    // Cleans, in a parsed stored copy, the text of every element the
    // stylesheet writes out as HTML (an item's description and full text,
    // content:encoded), with the allow-list sanitiser. Entity references are dropped. The document
    // is an xmlDoc; its file on disk is never changed.
    static void SanitizeFeedMarkup(void* xmlDocument);

    // Transforms a local XML file through the stylesheet its xml-stylesheet
    // instruction names. Returns false (and leaves html untouched) when the
    // file has no usable XSL instruction; raises std::runtime_error with a
    // readable message when the file or the stylesheet is broken. Safe to
    // call on any thread, on several at once.
    // `scheme` ("light", "dark" or empty for the stylesheet's default) is
    // the colour scheme the page follows.
    static bool TransformLocalXml(const QString& path, QByteArray& html, const QString& scheme = QString());

    // The desktop's colour scheme ("light" or "dark") that pages built from
    // now on follow; empty for the stylesheet's default.
    void SetColorScheme(const QString& scheme) { FColorScheme = scheme; }
    // The reader's font, line width, user.css and zoom for pages built
    // from now on.
    void SetPageStyle(const quillet::TPageStyle& style) { FStyle = style; }
    const QString& ColorScheme() const { return FColorScheme; }

signals:
    // A navigation finished (ok is false for a failed or cancelled load).
    void NavigateComplete(const QString& address, bool ok);
    // The status text changed: the address of the hovered link, or "" when
    // the pointer left it.
    void StatusTextChange(const QString& text);
    // The page built for the marks of this serial (TPageMarks::Serial) has
    // loaded: its items were on show.
    void PageShown(qint64 serial);

private:
    friend class TWebBrowserPage;
    friend class TNewWindowCatcher;
    // Routes an address from a link click or Navigate; true when it was
    // taken over (loaded by us or cancelled).
    bool BeforeNavigate(const QString& address);
    void LoadLocal(const QString& path);
    void Load(const QUrl& url);
    // Takes a page built on a worker, if it is still the one wanted.
    void PageBuilt(const std::shared_ptr<quillet::TPageBuild>& build);
    void DropPageBuild();
    // Scrolls the shown page to the element with this id.
    void ScrollToAnchor(const QString& id);

    QWebEngineProfile* FProfile = nullptr;
    QWebEngineView* FView = nullptr;
    class TFeedPageSchemeHandler* FSchemeHandler = nullptr;
    class TPaneRequestPolicy* FRequestPolicy = nullptr;
    QString FLocation;
    QString FColorScheme;
    quillet::TPageStyle FStyle;
    // The page being built for the last navigation, until it is loaded.
    std::shared_ptr<quillet::TPageBuild> FPageBuild;
    // The marks of the last Navigate, for the address it named.
    QString FMarkedAddress;
    quillet::TPageMarks FMarks;
    // The item to bring into view once the page being loaded has loaded.
    QString FScrollTarget;
    // The serial of the marked page being loaded, and its address.
    qint64 FShowingSerial = 0;
    QUrl FShowingUrl;
    pane::TItemMenuTexts FItemMenuTexts;
};

// The reading pane of the main window: the place where the feed page is
// shown, and the owner of the browser engine's life.
//
// The engine is by far the largest part of the program (a browser process,
// a renderer, zygotes, caches), while a feed monitor spends most of its day
// hidden in the notification area, and an engine does not give its memory
// back while its process lives. So the engine runs in a helper process,
// quillet-pane, whose window this pane takes in. The pane starts it only
// when there is a page to show and the pane is on screen, and ends it once
// the window has been hidden for a while. It keeps the address of the feed
// page it was last asked to show, so a window shown again comes back with
// the same page; a helper that dies is started again the next time a page
// is shown.
//
// The engine is needed only on demand: by default the page is shown by the
// light pane (TLightPane, Qt's rich text in this process, no helper at all),
// and the engine only when the options choose it, or for one page the user
// asked to see in the full web view. Either way, towards the main window it
// looks like one browser: navigate, before-navigate hook, completed
// navigations, pages shown and status texts.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QPalette>
#include <QProcess>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <deque>
#include <functional>
#include <optional>

#include "ItemCursor.h"
#include "ItemMenu.h"
#include "PageBuild.h"
#include "PaneProtocol.h"

class TLightPane;

class TReadingPane : public QWidget {
    Q_OBJECT
public:
    // How long the window stays hidden before the engine goes, when the
    // environment says nothing else (QUILLET_BROWSER_RELEASE_MS).
    static constexpr int kDefaultReleaseDelayMs = 60 * 1000;

    explicit TReadingPane(QWidget* parent = nullptr);
    ~TReadingPane() override;

    // Which pane shows pages: the light pane by default, or the engine.
    // The page on show goes to the other pane at the item the reader is at;
    // back to the light pane, the engine is asked which that is, and not
    // waited for beyond kPlaceWaitMs.
    enum class TKind { Light, Engine };
    void SetKind(TKind kind);
    static constexpr int kPlaceWaitMs = 500;
    TKind Kind() const { return FKind; }
    // The page on show, in the engine until another page is asked for
    // (View > Show in full web view); nothing more with the engine chosen.
    void ShowInEngine();
    // Whether the engine shows the pages now (chosen, or for this page).
    bool EngineShown() const { return FKind == TKind::Engine || FEngineOnce; }
    TLightPane* LightPane() const { return FLight; }

    // Shows a local file path or an address. On screen the helper (started
    // if need be) opens it at once; otherwise it is opened when the pane is
    // shown next.
    // `marks` go with a stored copy's page: the keys of its unread items
    // and the item to bring into view (see PaneProtocol.h).
    void Navigate(const QString& pathOrUrl, const QJsonObject& marks = {});
    // The marks of the page last asked for.
    const QJsonObject& Marks() const { return FMarks; }
    // The number of the last Navigate, which PageShown reports once its
    // page has been on show (again after a release or a new colour scheme).
    qint64 PageSerial() const { return FSerial; }
    // Shows nothing: the page asked for last is forgotten (its feed went).
    void Clear();

    // The address shown, or the page waiting to be shown.
    QString LocationURL() const;

    // Sets a CSS property on the shown document's body; nothing to do
    // without a helper.
    void SetBodyStyle(const QString& property, const QString& value);

    // "desktop": the page follows the desktop's colours (below); "light" or
    // "dark": it keeps those whatever the desktop does.
    void SetColorChoice(const QString& choice);
    // The choice in force: anything unknown is "desktop".
    const QString& ColorChoice() const { return FColorChoice; }
    // The desktop's colour scheme, "light" or "dark", which the feed page
    // follows: taken from the pane's palette (a window colour darker than
    // middle grey is a dark scheme) and followed when the palette changes,
    // the shown page being built again then.
    const QString& ColorScheme() const { return FColorScheme; }
    static QString SchemeOf(const QPalette& palette);
    void SetColorScheme(const QString& scheme);

    // How the reader wants pages set (font, line width, user.css, zoom),
    // in either pane; the page on show is set again.
    void SetPageStyle(const quillet::TPageStyle& style);
    // The texts of an item's context menu, in both panes.
    void SetItemMenuTexts(const pane::TItemMenuTexts& texts);
    const quillet::TPageStyle& PageStyle() const { return FStyle; }

    // Whether pages may load http/https images; kept for every helper the
    // pane starts later.
    void SetShowWebImages(bool show);
    bool ShowWebImages() const { return FShowWebImages; }

    // Whether the helper process runs (or is starting), and its id.
    bool BrowserRunning() const { return FHelper != nullptr; }
    qint64 BrowserProcessId() const;
    // Whether the helper's window sits inside the pane. Platforms without
    // foreign windows (Wayland without X, offscreen) show it on its own.
    bool BrowserEmbedded() const { return FContainer != nullptr; }

    // Starts the helper now if it is not running.
    void StartBrowser();
    // Ends the helper now; the page to show is remembered.
    void ReleaseBrowser();

    int ReleaseDelayMs() const { return FReleaseTimer.interval(); }
    void SetReleaseDelayMs(int ms) { FReleaseTimer.setInterval(ms); }
    // The delay set by QUILLET_BROWSER_RELEASE_MS (milliseconds, 0 and up),
    // or the default.
    static int ReleaseDelayFromEnvironment();

    // The helper program: $QUILLET_PANE_PROGRAM, else quillet-pane beside
    // this program or in ../libexec/quillet/ of an installed one.
    static QString BrowserProgram();

    // Gives the keyboard to the page on show (the light pane, or the
    // engine's window).
    void FocusPage();
    // A key pressed in the engine's window that is the main window's
    // (pane::KeyBelongsToWindow): it acts as if pressed in this pane, on
    // the window's shortcuts and menus, or moving the focus out.
    void KeyFromPage(int key, Qt::KeyboardModifiers modifiers, const QString& text);

    // An item's star set or taken away: its link on the page on show (`from`
    // becomes `to`, reading `text`) in place, whichever pane shows it, and
    // the marks kept for showing the page again.
    void SetStarLink(const QString& from, const QString& to, const QString& text, const QString& key, bool starred);
    // The star link of the item the reader is at, given to `reply` (at once
    // in the light pane); "" for none.
    void StarLinkInView(std::function<void(const QString& href)> reply);

    // Moving from item to item (ItemCursor.h), in whichever pane shows the
    // page. The page's items and the anchor of the item the reader is at,
    // given to `reply` (at once in the light pane; never when the helper
    // ends first).
    using TItemsReply = std::function<void(std::vector<pane::TPageItem> items, const QString& anchorInView)>;
    void PageItems(TItemsReply reply);
    // The item of `anchor` becomes the current one: in view near the top,
    // marked, and where a screen reader reads.
    void ShowCurrentItem(const QString& anchor);
    // An item's new mark on the page on show, and in the marks kept for
    // showing it again; `word` is the state word its heading says.
    void SetItemNew(const QString& anchor, const QString& key, bool isNew, const QString& word);
    // Opens an item's link as a click on its title does in the pane on show.
    void OpenItemLink(const QString& address);

    // Asks the helper for the text of the shown page; `reply` gets it once
    // it comes (never, if the helper ends first).
    void RequestPageText(std::function<void(const QString& text)> reply);

    // Asked before every main-frame navigation of the pane; set cancel to
    // keep the current page. Local pages the program opens itself are
    // asked about too.
    std::function<void(const QString& address, bool& cancel)> OnBeforeNavigate;
    // Where the light pane hands a web or mail address the user clicked.
    void SetOpenExternally(std::function<void(const QUrl& url)> open);

    // Where a key asks the focus to go from the page: Tab forward,
    // Shift+Tab back, Escape to the feeds.
    enum class TLeave { Forward, Back, ToFeeds };

signals:
    void LeaveRequested(TReadingPane::TLeave how);
    // The pane showing pages changed (EngineShown() says which).
    void KindChanged();
    // The light pane shows a long page's beginning; NavigateComplete follows.
    void PageBegun(const QString& address);
    void NavigateComplete(const QString& address, bool ok);
    // The stored copy's page of the Navigate numbered `serial` has loaded
    // in the helper. Nothing else says a page was seen.
    void PageShown(qint64 serial);
    void StatusTextChange(const QString& text);
    // The helper was started, or told to end.
    void BrowserCreated();
    void BrowserReleased();
    // The helper could not be started or ended on its own; `reason` says
    // why, in the system's words.
    void BrowserFailed(const QString& reason);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Minimising and restoring the window, which not every window system
    // reports to the widgets inside as hiding and showing.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FollowHighContrast();
    static std::optional<TLeave> LeaveKey(int key, Qt::KeyboardModifiers modifiers);
    // Shown and not minimised: a page asked for now is worth loading.
    bool OnScreen() const;
    // Opens the remembered page in the helper, starting it.
    void OpenPendingPage();
    // The pane has come on screen: keep the helper, and open the remembered
    // page once the window has appeared.
    void CameOnScreen();

    void Send(const QString& op, QJsonObject fields = {});
    void ReadHelper();
    void Handle(const QJsonObject& message);
    // Shows the pane EngineShown() names, the other one out of sight; the
    // helper goes with the engine, the page coming back in the light pane
    // where it was left.
    void ApplyKind();
    // Ends the helper and lets the light pane's page go, for a window out
    // of sight; the page is remembered.
    void ReleasePages();
    // Takes the helper's window into the pane.
    void Embed(quint64 windowId);
    void HelperEnded(QProcess* helper);

    // Takes the page at the item of this star link (the reader's place in
    // the other pane).
    void KeepPlace(const QString& starLink, bool pageKept);

    TLightPane* FLight = nullptr;
    TKind FKind = TKind::Light;
    bool FEngineOnce = false;
    // The last question to the engine about the reader's place.
    qint64 FPlaceAsked = 0;
    // The Navigate the light pane was last given.
    qint64 FLightSerial = 0;
    QProcess* FHelper = nullptr;
    pane::TLineReader FReader;
    QPointer<QWidget> FContainer;
    // The helper's window as this process sees it; owned by FContainer.
    QPointer<QWindow> FForeignWindow;
    // The helper's window stands on its own (it could not be taken in): it
    // is shown and hidden with the pane.
    bool FStandsAlone = false;
    QTimer FReleaseTimer;
    // The page last asked for: restored after a release.
    QString FLocation;
    QJsonObject FMarks;
    qint64 FSerial = 0;
    // The address the helper was last allowed to open.
    QString FOpened;
    // FLocation still has to be opened (it was asked for off screen, or the
    // helper was ended since).
    bool FPending = false;
    // Between a show event and a hide event. A minimised window hides its
    // widgets with a spontaneous hide event while they keep counting as
    // visible, so visibility alone cannot tell.
    bool FOnScreen = false;
    bool FShowWebImages = true;
    quillet::TPageStyle FStyle;
    pane::TItemMenuTexts FItemMenuTexts;
    void SendItemMenuTexts();
    QString FColorScheme;
    QString FColorChoice = QStringLiteral("desktop");
    std::deque<std::function<void(const QString&)>> FTextReplies;
    std::deque<std::function<void(const QString&)>> FStarReplies;
    std::deque<TItemsReply> FItemReplies;
    // Since the last start: a helper that dies soon after starting is not
    // started again by itself, so a broken engine cannot loop.
    QElapsedTimer FSinceStart;
};

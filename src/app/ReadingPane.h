// The reading pane of the main window: the place where the embedded browser
// sits, and the owner of its life.
//
// The browser engine is by far the largest part of the program (a renderer
// process, a GPU-less compositor, caches), while a feed monitor spends most
// of its day hidden in the notification area. So the pane creates its
// browser only when there is a page to show and the pane is on screen, and
// releases it again once the window has been hidden for a while. It keeps
// the address of the feed page it was last asked to show, so a window shown
// again comes back with the same page.
//
// Towards the main window it looks like the browser itself: navigate,
// before-navigate hook, completed navigations and status texts.
#pragma once

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>

class TWebBrowser;

class TReadingPane : public QWidget {
    Q_OBJECT
public:
    // How long the window stays hidden before the browser goes, when the
    // environment says nothing else (QUILLET_BROWSER_RELEASE_MS).
    static constexpr int kDefaultReleaseDelayMs = 60 * 1000;

    explicit TReadingPane(QWidget* parent = nullptr);
    ~TReadingPane() override;

    // Shows a local file path or an address. On screen the browser (created
    // if need be) opens it at once; otherwise it is opened when the pane is
    // shown next.
    void Navigate(const QString& pathOrUrl);

    // The browser's current address, or the page waiting to be shown.
    QString LocationURL() const;

    // Sets a CSS property on the shown document's body; nothing to do
    // without a browser.
    void SetBodyStyle(const QString& property, const QString& value);

    // Whether pages may load http/https images; kept for every browser the
    // pane creates later.
    void SetShowWebImages(bool show);
    bool ShowWebImages() const { return FShowWebImages; }

    // The browser, created now if there is none.
    TWebBrowser* Browser();
    // The browser if it exists; nullptr while none is needed.
    TWebBrowser* ExistingBrowser() const { return FBrowser; }

    // Drops the browser and its page now; the page to show is remembered.
    void ReleaseBrowser();

    int ReleaseDelayMs() const { return FReleaseTimer.interval(); }
    void SetReleaseDelayMs(int ms) { FReleaseTimer.setInterval(ms); }
    // The delay set by QUILLET_BROWSER_RELEASE_MS (milliseconds, 0 and up),
    // or the default.
    static int ReleaseDelayFromEnvironment();

    // Asked before every main-frame navigation of the browser, as
    // TWebBrowser::OnBeforeNavigate.
    std::function<void(const QString& address, bool& cancel)> OnBeforeNavigate;

signals:
    void NavigateComplete(const QString& address, bool ok);
    void StatusTextChange(const QString& text);
    // The browser was created or released.
    void BrowserCreated();
    void BrowserReleased();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // Minimising and restoring the window, which not every window system
    // reports to the widgets inside as hiding and showing.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Shown and not minimised: a page asked for now is worth loading.
    bool OnScreen() const;
    // Opens the remembered page in the browser, creating it.
    void OpenPendingPage();
    // The pane has come on screen: keep the browser, and open the
    // remembered page once the window has appeared.
    void CameOnScreen();

    QPointer<TWebBrowser> FBrowser;
    QTimer FReleaseTimer;
    // The page last asked for: restored after a release.
    QString FLocation;
    // FLocation still has to be opened (it was asked for off screen, or the
    // browser was released since).
    bool FPending = false;
    // Between a show event and a hide event. A minimised window hides its
    // widgets with a spontaneous hide event while they keep counting as
    // visible, so visibility alone cannot tell.
    bool FOnScreen = false;
    bool FShowWebImages = true;
};

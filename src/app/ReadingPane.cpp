#include "ReadingPane.h"

#include <QEvent>
#include <QHideEvent>
#include <QPalette>
#include <QShowEvent>
#include <QVBoxLayout>


#include "Memory.h"
#include "WebBrowser.h"

TReadingPane::TReadingPane(QWidget* parent) : QWidget(parent)
{
    // Until a page is shown the pane is an empty page-coloured area, as an
    // empty browser would be.
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    FReleaseTimer.setSingleShot(true);
    FReleaseTimer.setInterval(ReleaseDelayFromEnvironment());
    connect(&FReleaseTimer, &QTimer::timeout, this, [this] {
        if (!OnScreen())
            ReleaseBrowser();
    });
}

TReadingPane::~TReadingPane()
{
    // The browser's last signals must not reach a half-destroyed pane.
    if (FBrowser)
        FBrowser->blockSignals(true);
}

int TReadingPane::ReleaseDelayFromEnvironment()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("QUILLET_BROWSER_RELEASE_MS", &ok);
    return ok && ms >= 0 ? ms : kDefaultReleaseDelayMs;
}

void TReadingPane::Navigate(const QString& pathOrUrl)
{
    FLocation = pathOrUrl;
    FPending = true;
    // Off screen nothing is loaded: an update of the selected feed while
    // the window sits in the tray must not bring the engine back.
    if (OnScreen())
        OpenPendingPage();
}

QString TReadingPane::LocationURL() const
{
    return FBrowser && !FPending ? FBrowser->LocationURL() : FLocation;
}

void TReadingPane::SetBodyStyle(const QString& property, const QString& value)
{
    if (FBrowser)
        FBrowser->SetBodyStyle(property, value);
}

void TReadingPane::SetShowWebImages(bool show)
{
    FShowWebImages = show;
    if (FBrowser)
        FBrowser->SetShowWebImages(show);
}

TWebBrowser* TReadingPane::Browser()
{
    if (FBrowser)
        return FBrowser;
    FBrowser = new TWebBrowser(this);
    FBrowser->setObjectName("WebBrowserView");
    FBrowser->SetShowWebImages(FShowWebImages);
    FBrowser->OnBeforeNavigate = [this](const QString& address, bool& cancel) {
        if (OnBeforeNavigate)
            OnBeforeNavigate(address, cancel);
    };
    connect(FBrowser, &TWebBrowser::NavigateComplete, this, &TReadingPane::NavigateComplete);
    connect(FBrowser, &TWebBrowser::StatusTextChange, this, &TReadingPane::StatusTextChange);
    layout()->addWidget(FBrowser);
    emit BrowserCreated();
    return FBrowser;
}

void TReadingPane::ReleaseBrowser()
{
    FReleaseTimer.stop();
    if (!FBrowser)
        return;
    // What the user last looked at comes back when the window is shown.
    if (!FLocation.isEmpty())
        FPending = true;
    TWebBrowser* browser = FBrowser;
    FBrowser = nullptr;
    browser->blockSignals(true);
    delete browser;
    // The engine's page, its caches and its profile were freed just now:
    // hand the freed heap back to the system instead of keeping it for a
    // browser that may not come back today.
    plat::ReturnFreedMemory();
    emit StatusTextChange(QString());
    emit BrowserReleased();
}

bool TReadingPane::OnScreen() const
{
    return FOnScreen && !window()->isMinimized();
}

void TReadingPane::OpenPendingPage()
{
    if (!FPending || FLocation.isEmpty())
        return;
    FPending = false;
    Browser()->Navigate(FLocation);
}

void TReadingPane::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    FOnScreen = true;
    window()->installEventFilter(this);
    CameOnScreen();
}

bool TReadingPane::eventFilter(QObject* watched, QEvent* event)
{
    // A minimised window's widgets still count as visible.
    if (watched == window() && event->type() == QEvent::WindowStateChange && isVisible()) {
        if (!window()->isMinimized()) {
            FOnScreen = true;
            CameOnScreen();
        } else if (FBrowser)
            FReleaseTimer.start();
    }
    return QWidget::eventFilter(watched, event);
}

void TReadingPane::CameOnScreen()
{
    FReleaseTimer.stop();
    // Once the window is on screen, not before: it appears without waiting
    // for the engine, and a feed chosen as it appears (a balloon click)
    // replaces the remembered page before that is loaded for nothing.
    QTimer::singleShot(0, this, [this] {
        if (OnScreen())
            OpenPendingPage();
    });
}

void TReadingPane::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    FOnScreen = false;
    if (FBrowser)
        FReleaseTimer.start();
}

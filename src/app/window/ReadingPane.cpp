#include "ReadingPane.h"

#include <QApplication>
#include <QJsonArray>

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QHideEvent>
#include <QKeyEvent>
#include <QPalette>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include "FeedPageFunctions.h"
#include "LightPane.h"

// Qt's own way to try a key on the shortcuts of the focus object's window,
// as a key from the window system would be (QtGui exports it for QtTest).
Q_GUI_EXPORT bool qt_sendShortcutOverrideEvent(QObject* o, ulong timestamp, int k, Qt::KeyboardModifiers mods,
                                               const QString& text, bool autorep, ushort count);

namespace {

// A helper that ends within this time of its start is broken rather than
// unlucky, and waits for the next page to be shown before it is tried again.
constexpr qint64 kQuickDeathMs = 10 * 1000;

// How long a helper told to end may take before it is killed.
constexpr int kEndGraceMs = 5 * 1000;

}  // namespace

TReadingPane::TReadingPane(QWidget* parent) : QWidget(parent) {
    // Until a page is shown the pane is an empty page-coloured area, as an
    // empty browser would be.
    // Made first: palette changes reach it from here on.
    FLight = new TLightPane(this);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    FColorScheme = SchemeOf(palette());
    FLight->SetColorScheme(FColorScheme);
    FollowHighContrast();
    layout->addWidget(FLight);
    FLight->OnBeforeNavigate = [this](const QString& address, bool& cancel) {
        if (OnBeforeNavigate) OnBeforeNavigate(address, cancel);
    };
    connect(FLight, &TLightPane::NavigateComplete, this, &TReadingPane::NavigateComplete);
    connect(FLight, &TLightPane::PageBegun, this, &TReadingPane::PageBegun);
    connect(FLight, &TLightPane::StatusTextChange, this, &TReadingPane::StatusTextChange);
    connect(FLight, &TLightPane::PageShown, this, [this](qint64 serial) {
        if (serial > 0 && serial == FSerial && !EngineShown()) emit PageShown(serial);
    });
    // Tab would walk the page's links and Escape do nothing: both leave.
    FLight->installEventFilter(this);
    FReleaseTimer.setSingleShot(true);
    FReleaseTimer.setInterval(ReleaseDelayFromEnvironment());
    connect(&FReleaseTimer, &QTimer::timeout, this, [this] {
        if (!OnScreen()) ReleasePages();
    });
}

TReadingPane::~TReadingPane() {
    if (!FHelper) return;
    // The helper ends on the end of its input; it is killed if it does
    // not within a moment, as the program is closing.
    FHelper->disconnect(this);
    FHelper->closeWriteChannel();
    if (!FHelper->waitForFinished(2000)) FHelper->kill();
    FHelper->waitForFinished(1000);
    delete FHelper;
    delete FContainer;
}

int TReadingPane::ReleaseDelayFromEnvironment() {
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("QUILLET_BROWSER_RELEASE_MS", &ok);
    return ok && ms >= 0 ? ms : kDefaultReleaseDelayMs;
}

QString TReadingPane::BrowserProgram() {
    const QString chosen = qEnvironmentVariable("QUILLET_PANE_PROGRAM");
    if (!chosen.isEmpty()) return chosen;
    const QString folder = QCoreApplication::applicationDirPath();
    const QString beside = folder + QStringLiteral("/quillet-pane");
    if (QFileInfo(beside).isExecutable()) return beside;
    return folder + QStringLiteral("/../libexec/quillet/quillet-pane");
}

qint64 TReadingPane::BrowserProcessId() const { return FHelper ? FHelper->processId() : 0; }

void TReadingPane::SetKind(TKind kind) {
    if (kind == FKind && !FEngineOnce) return;
    const auto apply = [this, kind] {
        FKind = kind;
        FEngineOnce = false;
        ApplyKind();
    };
    if (kind == TKind::Light && EngineShown() && FHelper && !FLocation.isEmpty() &&
        !FLocation.contains(QLatin1String("://"))) {
        const qint64 asked = ++FPlaceAsked;
        const QString location = FLocation;
        const auto switchOver = [this, asked, location, apply](const QString& starLink) {
            if (asked != FPlaceAsked) return;  // answered, or the time ran out
            ++FPlaceAsked;
            if (FLocation != location) {
                apply();
                return;
            }
            const bool kept = FLightSerial == FSerial && FLight->LocationURL() == FLocation;
            if (!kept) KeepPlace(starLink, false);
            apply();
            if (kept) KeepPlace(starLink, true);
        };
        StarLinkInView(switchOver);
        QTimer::singleShot(kPlaceWaitMs, this, [switchOver] { switchOver(QString()); });
        return;
    }
    if (kind == TKind::Engine && !EngineShown() && !FLocation.isEmpty() && FLight->LocationURL() == FLocation)
        KeepPlace(FLight->StarLinkInView(), false);
    apply();
}

void TReadingPane::ShowInEngine() {
    if (EngineShown()) return;
    if (!FLocation.isEmpty() && FLight->LocationURL() == FLocation) KeepPlace(FLight->StarLinkInView(), false);
    FEngineOnce = true;
    ApplyKind();
}

void TReadingPane::KeepPlace(const QString& starLink, bool pageKept) {
    QString feedId, key;
    bool star = false;
    if (!pane::ParseStarRequest(starLink, feedId, key, star)) return;
    if (pageKept)
        FLight->ScrollToItem(QString::fromStdString(quillet::ItemAnchor(key.toStdString())));
    else
        FMarks.insert(QStringLiteral("target"), key);
}

void TReadingPane::SetOpenExternally(std::function<void(const QUrl&)> open) {
    FLight->OnOpenExternally = std::move(open);
}

void TReadingPane::ApplyKind() {
    const bool engine = EngineShown();
    FLight->setVisible(!engine);
    if (engine) {
        // The page on show goes to the engine, its marks with it.
        if (!FLocation.isEmpty()) FPending = true;
    } else {
        ReleaseBrowser();
        // The light pane kept the page where it was left; only a page asked
        // for since is built now.
        const bool kept = FLightSerial == FSerial && FLight->LocationURL() == FLocation;
        FPending = !FLocation.isEmpty() && !kept;
    }
    emit KindChanged();
    if (OnScreen()) OpenPendingPage();
}

void TReadingPane::ReleasePages() {
    ReleaseBrowser();
    // A hidden window keeps no page in the light pane either.
    if (!FLight->LocationURL().isEmpty() || FLight->PageBuildPending()) {
        FLight->Clear();
        if (!FLocation.isEmpty()) FPending = true;
    }
}

void TReadingPane::Navigate(const QString& pathOrUrl, const QJsonObject& marks) {
    // The full web view was for the page on show; another one is shown as
    // the options say.
    if (FEngineOnce && pathOrUrl != FLocation) {
        FEngineOnce = false;
        FLocation = pathOrUrl;
        ApplyKind();
    }
    FLocation = pathOrUrl;
    FMarks = marks;
    FMarks.insert(QStringLiteral("serial"), ++FSerial);
    FPending = true;
    // Off screen nothing is loaded: an update of the selected feed while
    // the window sits in the tray must not bring the engine back.
    if (OnScreen()) OpenPendingPage();
}

void TReadingPane::Clear() {
    ++FSerial;
    FMarks = {};
    if (FLocation.isEmpty()) return;
    FLocation.clear();
    FPending = false;
    FLight->Clear();
    if (FHelper)
        Send(QStringLiteral("navigate"), {{"address", QStringLiteral("about:blank")}, {"scheme", FColorScheme}});
}

QString TReadingPane::LocationURL() const {
    if (!EngineShown()) return !FPending && !FLight->LocationURL().isEmpty() ? FLight->LocationURL() : FLocation;
    return FHelper && !FPending && !FOpened.isEmpty() ? FOpened : FLocation;
}

void TReadingPane::SetBodyStyle(const QString& property, const QString& value) {
    Send(QStringLiteral("bodyStyle"), {{"property", property}, {"value", value}});
}

QString TReadingPane::SchemeOf(const QPalette& palette) {
    // Qt 6.4 cannot ask the desktop for its scheme; the colours it hands
    // to the program say it as well.
    return palette.color(QPalette::Window).lightness() < 128 ? QStringLiteral("dark") : QStringLiteral("light");
}

void TReadingPane::SetColorScheme(const QString& scheme) {
    if (scheme == FColorScheme) return;
    FColorScheme = scheme;
    FLight->SetColorScheme(scheme);
    // The feed page on show is built again in the new colours; a web page
    // brings its own.
    if (FLocation.isEmpty() || FLocation.contains(QLatin1String("://")) || (EngineShown() && !FHelper)) return;
    FPending = true;
    if (OnScreen()) OpenPendingPage();
}

void TReadingPane::SetColorChoice(const QString& choice) {
    FColorChoice =
        choice == QLatin1String("light") || choice == QLatin1String("dark") ? choice : QStringLiteral("desktop");
    SetColorScheme(FColorChoice == QLatin1String("desktop") ? SchemeOf(palette()) : FColorChoice);
    FollowHighContrast();
}

void TReadingPane::FollowHighContrast() {
    // A high-contrast desktop's colours win over the page's shades, unless
    // the reader chose the page's light or dark colours.
    FLight->SetForcedColours(FColorChoice == QLatin1String("desktop") ? TLightPane::HighContrastColours(palette())
                                                                      : std::nullopt);
}

void TReadingPane::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if ((event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) &&
        FColorChoice == QLatin1String("desktop")) {
        SetColorScheme(SchemeOf(palette()));
        FollowHighContrast();
    }
}

void TReadingPane::SetShowWebImages(bool show) {
    FShowWebImages = show;
    FLight->SetShowWebImages(show);
    Send(QStringLiteral("images"), {{"on", show}});
}

void TReadingPane::SetPageStyle(const quillet::TPageStyle& style) {
    if (style == FStyle) return;
    FStyle = style;
    FLight->SetPageStyle(style);
    Send(QStringLiteral("style"), pane::PageStyleJson(style));
    // The engine's page is built again in the new style.
    if (EngineShown() && FHelper && !FLocation.isEmpty() && !FLocation.contains(QLatin1String("://"))) {
        FPending = true;
        if (OnScreen()) OpenPendingPage();
    }
}

void TReadingPane::SetItemMenuTexts(const pane::TItemMenuTexts& texts) {
    FItemMenuTexts = texts;
    FLight->SetItemMenuTexts(texts);
    SendItemMenuTexts();
}

void TReadingPane::SendItemMenuTexts() {
    Send(QStringLiteral("menuTexts"),
         {{"star", FItemMenuTexts.Star}, {"unstar", FItemMenuTexts.Unstar}, {"article", FItemMenuTexts.ReadArticle}});
}

void TReadingPane::RequestPageText(std::function<void(const QString&)> reply) {
    if (!EngineShown()) {
        QTimer::singleShot(0, this, [this, reply = std::move(reply)] { reply(FLight->toPlainText()); });
        return;
    }
    if (!FHelper) return;
    FTextReplies.push_back(std::move(reply));
    Send(QStringLiteral("pageText"));
}

std::optional<TReadingPane::TLeave> TReadingPane::LeaveKey(int key, Qt::KeyboardModifiers modifiers) {
    modifiers &= ~Qt::KeypadModifier;
    if (key == Qt::Key_Escape && modifiers == Qt::NoModifier) return TLeave::ToFeeds;
    if (key == Qt::Key_Tab && modifiers == Qt::NoModifier) return TLeave::Forward;
    if (key == Qt::Key_Backtab || (key == Qt::Key_Tab && modifiers == Qt::ShiftModifier)) return TLeave::Back;
    return std::nullopt;
}

void TReadingPane::FocusPage() {
    if (EngineShown() && FContainer) {
        FContainer->setFocus(Qt::OtherFocusReason);
        if (FForeignWindow) FForeignWindow->requestActivate();
        return;
    }
    if (!EngineShown()) FLight->setFocus(Qt::OtherFocusReason);
}

void TReadingPane::KeyFromPage(int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    // The engine's window had the keyboard: the main window takes it back,
    // its focus staying in the pane.
    window()->activateWindow();
    QWidget* target = FContainer ? FContainer.data() : static_cast<QWidget*>(this);
    if (!isAncestorOf(QApplication::focusWidget())) target->setFocus(Qt::OtherFocusReason);
    if (std::optional<TLeave> leave = LeaveKey(key, modifiers)) {
        emit LeaveRequested(*leave);
        return;
    }
    // As a key pressed here: a shortcut of the window if one has it,
    // otherwise a key press the pane's parents may take (a menu's Alt key).
    if (qt_sendShortcutOverrideEvent(target, 0, key, modifiers, text, false, 1)) return;
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(target, &release);
}

void TReadingPane::SetStarLink(const QString& from, const QString& to, const QString& text, const QString& key,
                               bool starred) {
    QJsonArray keys = FMarks.value(QStringLiteral("starred")).toArray();
    for (qsizetype i = keys.size() - 1; i >= 0; --i)
        if (keys.at(i).toString() == key) keys.removeAt(i);
    if (starred) keys.append(key);
    if (FMarks.contains(QStringLiteral("feed"))) FMarks.insert(QStringLiteral("starred"), keys);
    FLight->SetStarLink(from, to, text);
    if (FHelper) Send(QStringLiteral("star"), {{"from", from}, {"to", to}, {"text", text}});
}

void TReadingPane::StarLinkInView(std::function<void(const QString& href)> reply) {
    if (!EngineShown()) {
        reply(FLight->StarLinkInView());
        return;
    }
    if (!FHelper) return;
    FStarReplies.push_back(std::move(reply));
    Send(QStringLiteral("starLink"));
}

void TReadingPane::PageItems(TItemsReply reply) {
    if (!EngineShown()) {
        reply(FLight->PageItems(),
              FLight->CurrentItem().isEmpty() ? FLight->ItemAnchorInView() : FLight->CurrentItem());
        return;
    }
    if (!FHelper) return;
    FItemReplies.push_back(std::move(reply));
    Send(QStringLiteral("items"));
}

void TReadingPane::ShowCurrentItem(const QString& anchor) {
    if (!EngineShown())
        FLight->SetCurrentItem(anchor);
    else
        Send(QStringLiteral("current"), {{"anchor", anchor}});
}

void TReadingPane::SetItemNew(const QString& anchor, const QString& key, bool isNew, const QString& word) {
    if (!FMarks.isEmpty()) {
        QJsonArray keys = FMarks.value(QStringLiteral("unread")).toArray();
        for (qsizetype i = keys.size() - 1; i >= 0; --i)
            if (keys.at(i).toString() == key) keys.removeAt(i);
        if (isNew) keys.append(key);
        FMarks.insert(QStringLiteral("unread"), keys);
        FMarks.insert(QStringLiteral("newWord"), word);
    }
    FLight->SetItemNew(anchor, isNew, word);
    if (FHelper) Send(QStringLiteral("itemNew"), {{"anchor", anchor}, {"on", isNew}, {"word", word}});
}

void TReadingPane::OpenItemLink(const QString& address) {
    const QUrl url(address);
    if (!pane::TItemCursor::Openable(url)) return;
    if (!EngineShown()) {
        FLight->OpenLink(url);
        return;
    }
    // The engine asks back, as for a click on the link.
    Send(QStringLiteral("follow"), {{"address", address}});
}

void TReadingPane::StartBrowser() {
    if (FHelper) return;
    FHelper = new QProcess(this);
    FReader = {};
    FOpened.clear();
    FStandsAlone = false;
    FHelper->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcess* helper = FHelper;
    connect(helper, &QProcess::readyReadStandardOutput, this, [this, helper] {
        if (helper == FHelper) ReadHelper();
    });
    connect(helper, &QProcess::finished, this, [this, helper] { HelperEnded(helper); });
    connect(helper, &QProcess::errorOccurred, this, [this, helper](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) HelperEnded(helper);
    });
    FSinceStart.start();
    helper->start(BrowserProgram(), {});
    // Written ahead: the pipe keeps them until the helper reads.
    Send(QStringLiteral("images"), {{"on", FShowWebImages}});
    Send(QStringLiteral("style"), pane::PageStyleJson(FStyle));
    SendItemMenuTexts();
    emit BrowserCreated();
}

void TReadingPane::ReleaseBrowser() {
    FReleaseTimer.stop();
    if (!FHelper) return;
    // What the user last looked at comes back when the window is shown.
    if (!FLocation.isEmpty()) FPending = true;
    QProcess* helper = FHelper;
    FHelper = nullptr;
    FTextReplies.clear();
    FStarReplies.clear();
    FItemReplies.clear();
    // Its window goes out of sight now and out of the pane once the
    // process has ended, so it never stands alone on the screen.
    if (QPointer<QWidget> container = FContainer) {
        FContainer = nullptr;
        container->hide();
        connect(helper, &QProcess::finished, this, [container] { delete container; });
    }
    helper->closeWriteChannel();
    QTimer::singleShot(kEndGraceMs, helper, [helper] { helper->kill(); });
    emit StatusTextChange(QString());
    emit BrowserReleased();
}

void TReadingPane::HelperEnded(QProcess* helper) {
    const bool current = helper == FHelper;
    QString reason;
    if (helper->error() == QProcess::FailedToStart)
        reason = QStringLiteral("%1: %2").arg(helper->program(), helper->errorString());
    else if (helper->exitStatus() == QProcess::CrashExit)
        reason = QStringLiteral("%1 crashed").arg(helper->program());
    else
        reason = QStringLiteral("%1 ended (exit status %2)").arg(helper->program()).arg(helper->exitCode());
    helper->deleteLater();
    if (!current) return;  // ended as it was told to
    delete FContainer;
    FHelper = nullptr;
    FTextReplies.clear();
    FStarReplies.clear();
    FItemReplies.clear();
    if (!FLocation.isEmpty()) FPending = true;
    emit StatusTextChange(QString());
    emit BrowserFailed(reason);
    // A helper that crashed on some page is started again for it, unless
    // it died at once: then only the next page shown tries again.
    if (OnScreen() && FSinceStart.elapsed() >= kQuickDeathMs)
        QTimer::singleShot(0, this, [this] {
            if (OnScreen()) OpenPendingPage();
        });
}

void TReadingPane::Send(const QString& op, QJsonObject fields) {
    if (FHelper) FHelper->write(pane::Encode(op, std::move(fields)));
}

void TReadingPane::ReadHelper() {
    const QByteArray bytes = FHelper->readAllStandardOutput();
    for (const QJsonObject& message : FReader.Feed(bytes)) {
        if (!FHelper) return;  // ended by a handler
        Handle(message);
    }
}

void TReadingPane::Handle(const QJsonObject& message) {
    const QString op = message.value("op").toString();
    if (op == QLatin1String("ask")) {
        const QString address = message.value("address").toString();
        bool cancel = false;
        if (OnBeforeNavigate) OnBeforeNavigate(address, cancel);
        if (!cancel && FHelper) {
            FOpened = address;
            Send(QStringLiteral("open"), {{"address", address}, {"scheme", FColorScheme}});
        } else if (cancel && address == FLocation && !FOpened.isEmpty())
            FLocation = FOpened;  // what comes back after a release is what was shown
    } else if (op == QLatin1String("complete"))
        emit NavigateComplete(message.value("address").toString(), message.value("ok").toBool());
    else if (op == QLatin1String("shown")) {
        const qint64 serial = static_cast<qint64>(message.value("serial").toDouble());
        if (serial > 0 && serial == FSerial) emit PageShown(serial);
    } else if (op == QLatin1String("status"))
        emit StatusTextChange(message.value("text").toString());
    else if (op == QLatin1String("key"))
        KeyFromPage(message.value("key").toInt(),
                    Qt::KeyboardModifiers::fromInt(message.value("modifiers").toInt()) &
                        (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier),
                    message.value("text").toString().left(8));
    else if (op == QLatin1String("focus")) {
        if (FContainer && FForeignWindow) {
            FContainer->setFocus(Qt::MouseFocusReason);
            FForeignWindow->requestActivate();
        }
    } else if (op == QLatin1String("window"))
        Embed(message.value("id").toString().toULongLong());
    else if (op == QLatin1String("starLink") && !FStarReplies.empty()) {
        auto reply = std::move(FStarReplies.front());
        FStarReplies.pop_front();
        reply(message.value("href").toString());
    } else if (op == QLatin1String("items") && !FItemReplies.empty()) {
        auto reply = std::move(FItemReplies.front());
        FItemReplies.pop_front();
        reply(pane::PageItemsFromJson(message.value("items").toArray()), message.value("at").toString());
    } else if (op == QLatin1String("pageText") && !FTextReplies.empty()) {
        auto reply = std::move(FTextReplies.front());
        FTextReplies.pop_front();
        reply(message.value("text").toString());
    }
}

void TReadingPane::Embed(quint64 windowId) {
    delete FContainer;
    // Foreign windows are an X11 matter; elsewhere fromWinId gives nothing
    // and the helper shows its window on its own.
    QWindow* window = windowId ? QWindow::fromWinId(WId(windowId)) : nullptr;
    if (window) {
        FForeignWindow = window;
        FContainer = QWidget::createWindowContainer(window, this);
        FContainer->setObjectName("WebBrowserView");
        // Named as the pane is: the page inside is the helper's, which a
        // screen reader reads as an application of its own.
        FContainer->setAccessibleName(accessibleName());
        // Tab or a click hands the keyboard to the helper's window.
        FContainer->setFocusPolicy(Qt::StrongFocus);
        layout()->addWidget(FContainer);
        FContainer->show();
    }
    FStandsAlone = window == nullptr;
    if (!FStandsAlone || OnScreen()) Send(QStringLiteral("show"), {{"embedded", !FStandsAlone}});
}

bool TReadingPane::OnScreen() const { return FOnScreen && !window()->isMinimized(); }

void TReadingPane::OpenPendingPage() {
    if (!FPending || FLocation.isEmpty()) return;
    FPending = false;
    if (!EngineShown()) {
        FLightSerial = FSerial;
        FLight->Navigate(FLocation, quillet::TPageMarks::FromJson(FMarks));
        return;
    }
    StartBrowser();
    QJsonObject marks = FMarks;
    // A feed's keys can pass the bound of one line many times over: they go
    // ahead in lines of their own.
    if (const QJsonValue unread = marks.take(QStringLiteral("unread")); unread.isArray() && FHelper)
        for (const QByteArray& line : pane::EncodeUnreadKeys(unread.toArray())) FHelper->write(line);
    // So can the items' articles: one line each.
    if (const QJsonValue articles = marks.take(QStringLiteral("articles")); articles.isObject() && FHelper)
        for (const QByteArray& line : pane::EncodeArticles(articles.toObject())) FHelper->write(line);
    QJsonObject fields{{"address", FLocation}, {"scheme", FColorScheme}};
    if (!marks.isEmpty()) fields.insert(QStringLiteral("marks"), marks);
    Send(QStringLiteral("navigate"), fields);
}

void TReadingPane::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FOnScreen = true;
    window()->installEventFilter(this);
    CameOnScreen();
}

bool TReadingPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FLight && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (std::optional<TLeave> leave = LeaveKey(key->key(), key->modifiers())) {
            emit LeaveRequested(*leave);
            return true;
        }
    }
    // A minimised window's widgets still count as visible.
    if (watched == window() && event->type() == QEvent::WindowStateChange && isVisible()) {
        if (!window()->isMinimized()) {
            FOnScreen = true;
            CameOnScreen();
        } else {
            if (FStandsAlone) Send(QStringLiteral("hide"));
            FReleaseTimer.start();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TReadingPane::CameOnScreen() {
    FReleaseTimer.stop();
    if (FStandsAlone) Send(QStringLiteral("show"), {{"embedded", false}});
    // Once the window is on screen, not before: it appears without waiting
    // for the engine, and a feed chosen as it appears (a balloon click)
    // replaces the remembered page before that is loaded for nothing.
    QTimer::singleShot(0, this, [this] {
        if (OnScreen()) OpenPendingPage();
    });
}

void TReadingPane::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    FOnScreen = false;
    if (FStandsAlone) Send(QStringLiteral("hide"));
    FReleaseTimer.start();
}

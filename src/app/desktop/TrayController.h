// Showing and hiding the window through its tray icon: Show and Hide
// Quillet, a minimised window going to the tray, and the icon's clicks (one
// repeats the last balloon, two show the window, a click on a balloon shows
// its feed).
#pragma once

#include <QObject>

#include <functional>
#include <string>

class QAction;
class TTrayIcon;

class TTrayController : public QObject {
    Q_OBJECT
public:
    struct THost {
        // The window's tray icon; it may be replaced after start-up.
        std::function<TTrayIcon*()> TrayIcon;
        // Shows the last balloon again.
        std::function<void()> RepeatBalloon;
        // The feed the last balloon was about ("" for none).
        std::function<std::string()> BalloonFeedId;
        std::function<void(const std::string& id)> ShowFeed;
    };

    // `show` and `hide` are the window's Show and Hide Quillet actions, of
    // which one is visible at a time.
    TTrayController(THost host, QAction* show, QAction* hide, QObject* parent = nullptr);

    void ActionShowQuilletExecute();
    void ActionHideQuilletExecute();
    void TrayIconClick();
    void TrayIconDblClick();
    void TrayIconBalloonHintClick();
    void ApplicationEvents1Minimize();

private:
    THost FHost;
    QAction* FShow;
    QAction* FHide;
};

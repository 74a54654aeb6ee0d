// Notifications of new items: the announcer that coalesces news into few
// balloons, the timer that drives it, the catch-ups it is told of, the alert
// words, the last balloon (shown again by a click on the tray icon) and the
// per-feed "Notify About New Items" switch.
//
// The controller knows feeds by their <item> elements and ids; the window
// places its action and shows its balloons through THost.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AlertWords.h"
#include "Announcer.h"
#include "XmlDom.h"

class QAction;
class QTimer;
class QWidget;
class TOptions;
namespace feed {
class TFeedDocument;
}
namespace feedlist {
class TFeedList;
class TListEntry;
struct TFeedEntry;
}  // namespace feedlist

class TNotifyController : public QObject {
    Q_OBJECT
public:
    struct THost {
        // The option store; null while config.xml is not loaded.
        std::function<TOptions*()> Options;
        // The feed list, and its selected feed (null for none).
        feedlist::TFeedList* FeedList = nullptr;
        std::function<const feedlist::TListEntry*()> SelectedFeed;
        std::function<void(const QString& text)> ShowStatus;
        std::function<void()> ScheduleConfigSave;
        // Puts a balloon up in the notification area, if there is one.
        std::function<void(const QString& title, const QString& text, int timeoutSeconds)> ShowBalloon;
        // Optional: the news in one sentence for a screen reader, said as
        // often as a notification is shown.
        std::function<void(const QString& words)> Say;
    };

    // The balloon's lines are fitted to `window`'s font; the action is a
    // child of `window`, which places it in its menus.
    TNotifyController(THost host, QWidget* window);
    ~TNotifyController() override;

    // "Notify About New Items" (object name ActionNotifyFeed); its check mark
    // and state follow the selected feed on RefreshAction.
    QAction* Action() const { return FAction; }
    void RefreshAction();

    // Hands the new items of a download to the announcer, which decides
    // when they are shown and with what: the items at the indices
    // `newItems` gives, else the first `count`. `verdicts` says which of
    // them hold an alert word, where that was found beside the download.
    void AnnounceNewItems(const feedlist::TFeedEntry& feed, const feed::TFeedDocument& document, int count,
                          const std::vector<int>* newItems = nullptr, const TAlertVerdicts* verdicts = nullptr);
    // Hands the announcer the alert words of the options (compiled again
    // only when they changed) and returns them, for matching a download's
    // items beside it.
    std::shared_ptr<const TAlertMatcher> RefreshAlertWords();
    // Announces the first `count` items of a download with a balloon at
    // once.
    void ShowNotification(const feedlist::TFeedEntry& feed, const feed::TFeedDocument& document, int count);
    // Puts up a notification the announcer decided on: for one feed a
    // balloon of its items, for several a summary.
    void ShowAnnouncement(const TAnnouncement& announcement);
    // Shows the last balloon again (nothing when there was none).
    void ShowBalloon();

    // The last balloon and the feed it announced (by id: a deleted feed is
    // never reached).
    struct TBalloon {
        std::string FeedId;
        QString Title;
        QString Text;
    };
    const TBalloon& Balloon() const { return FBalloon; }
    void ForgetBalloon() { FBalloon = {}; }

    // The announcer reads this clock from now on; tests hand in a fake one.
    void UseClock(const TAnnounceClock& clock);
    // Lets the announcer put up what is due, as its timer does.
    void Tick();

    // An update was applied; a feed was deleted (its news and balloon go).
    void NoteUpdate();
    void FeedDeleted(const QString& id);
    // An Update All pass runs or has ended (or was cancelled).
    void NoteUpdateAllRunning(bool running);
    // Polling starts: its first pass is a catch-up. Polling stops: that
    // catch-up is over.
    void NotePollingStarted();
    void NotePollingStopped();

private:
    // Ticks the announcer: every second while it is busy, less often when
    // it only watches for a wake.
    void ScheduleTick();
    void ToggleSelectedFeed();

    THost FHost;
    QWidget* FWindow;
    TSystemAnnounceClock FSystemClock;
    std::unique_ptr<TAnnouncer> FAnnouncer;
    QTimer* FTimer = nullptr;
    QAction* FAction = nullptr;
    TBalloon FBalloon;
    bool FUpdateAllCatchUp = false;
    bool FPollingCatchUpDone = false;
};

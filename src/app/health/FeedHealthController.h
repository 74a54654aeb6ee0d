// Feed health in the program: every feed's recent results (health.json in
// the home), recorded by the updates as they end and judged here. It shows
// the Feed Health view, the status line "N feeds need attention" and the
// causes in tooltips and Feed Properties, follows a confirmed move, and stops
// the polling of a feed that answered 410 until the user acts.
//
// The controller knows feeds only by id; what it needs of the feed list and
// the update cycle comes through THost.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "FeedHealth.h"
#include "XmlDom.h"

class QAction;
class QPushButton;
class QWidget;
class TFeedUpdate;
class TFormFeedHealth;
class TOptions;

namespace feedlist {
class TFeedList;
class TListEntry;
struct TFeedEntry;
}  // namespace feedlist

class TFeedHealthController : public QObject {
    Q_OBJECT
public:
    using TTimePoint = std::chrono::system_clock::time_point;

    struct THost {
        // The option store; null while config.xml is not loaded.
        std::function<TOptions*()> Options;
        // A word in the status line.
        std::function<void(const QString& text)> ShowStatus;
        // Runs a handler of the user's, showing an error instead of letting
        // it escape into the event loop.
        std::function<void(const std::function<void()>& handler)> Guarded;
        // The ids of the listed feeds, in the tree's order.
        std::function<std::vector<std::string>()> FeedIds;
        // The feed list: the feeds' addresses, and "stopped" for a feed gone.
        feedlist::TFeedList* FeedList = nullptr;
        // The name the feed list shows for a feed.
        std::function<QString(const std::string& id)> FeedName;
        // The feed's row shows its state (and the cause, from Cause) again.
        std::function<void(const std::string& id)> ShowFeedState;
        // Points a feed at another address: the validators and the failure
        // of the old one go, and polling resumes.
        std::function<void(const std::string& id, const std::string& url)> SetFeedAddress;
        // What the buttons of the view ask for beyond the health record.
        std::function<void(const std::string& id)> UpdateFeed;
        std::function<void(const std::string& id)> EditFeed;
        std::function<void(const std::string& id)> DeleteFeed;
        // "Find the feed on this page": discovery on the feed's address, the
        // user choosing among several feeds under `title`; the address
        // chosen, or "" when none was.
        std::function<std::string(const std::string& id, const std::string& url, const QString& title)>
            ChooseFeedOnPage;
        // A fetch ended: the automatic schedule counts from it.
        std::function<void(const std::string& id, const schedule::TAnswerHints& answer, TTimePoint at)> Fetched;
        // The clock the health is judged by; the system clock when empty.
        std::function<TTimePoint()> Now;
    };

    // Loads health.json (a damaged one is set aside, with a word in the
    // status line) and creates the action and the status-line button, which
    // `window` places; the view opens over `window`.
    TFeedHealthController(THost host, QWidget* window);
    ~TFeedHealthController() override;

    // "Feed Health..." (object name ActionFeedHealth) and the status line's
    // button (StatusHealth, hidden while no feed needs attention).
    QAction* Action() const { return FAction; }
    QPushButton* StatusButton() const { return FStatusButton; }

    // The record the updates write their results to.
    const std::shared_ptr<schedule::THealthBook>& Book() const { return FBook; }
    // The feeds whose server asked (Retry-After) not to be polled before a
    // time still to come; a restart keeps to it.
    std::map<std::string, TTimePoint> RetryAfterAsked() const;
    // Called once the feed list is loaded: the tooltips of the feeds that
    // need attention and the status line.
    void FeedListLoaded();

    // Why a feed needs attention and what can be done, in plain words; ""
    // for a feed that needs nothing.
    QString Cause(const std::string& id);
    // A failed update's reason in plain words, from what its fetch came to;
    // "" when it never reached the network.
    static QString FailureInWords(const TFeedUpdate& update);
    // True for a feed that is not polled until the user acts (it answered
    // 410).
    bool Stopped(const std::string& id) const;
    const feedlist::TListEntry* Feed(const std::string& id) const;
    void SetStopped(const feedlist::TListEntry& feed, const std::string& why);

    // After any fetch of a feed (manual, "update all", polling): what its
    // answer asked of the next fetch is kept, and the host's schedule told.
    void NoteFetch(const TFeedUpdate& update);
    // After an update of a feed was applied: a confirmed move is followed
    // when redirects are followed, a 410 stops polling, the view and the
    // status line are brought up to date.
    void Review(const std::string& id);
    // What the polling thread keeps of a feed across restarts: what it and
    // its server asked for last, and when it was last fetched.
    void KeptForSchedule(const feedlist::TFeedEntry* feed, schedule::TAnswerHints& asked,
                         std::optional<TTimePoint>& lastFetch) const;
    // A feed was given a new address by the user: a new history starts.
    void AddressReplaced(const std::string& id);
    // A deleted feed leaves the record and the count.
    void FeedDeleted(const QString& id);

    // Counts the feeds needing attention again and lists them in the open
    // view.
    void Refresh();
    // Opens the Feed Health view.
    void Open();
    // Writes health.json; a failure waits for the next change or exit.
    void Save();

private:
    TTimePoint Now() const;
    // The options' part of the judgement (general\SilentDays).
    schedule::THealthPolicy Policy() const;
    schedule::TAttention Attention(const std::string& id) const;
    // The ids of the feeds that need attention, in the tree's order.
    std::vector<std::string> NeedingAttention() const;
    // After one feed's update only its own attention can have changed, but
    // for the clock: the status line follows that feed, and the whole book
    // is counted again at most a minute after the last count.
    void NoteAttention(const std::string& id, schedule::TAttention attention);
    void ShowCount();
    bool ViewOpen() const;
    // What a button of the view does for a feed.
    void Act(const std::string& id, int action);
    bool FollowRedirects() const;

    THost FHost;
    QWidget* FWindow;
    std::shared_ptr<schedule::THealthBook> FBook;
    QAction* FAction = nullptr;
    QPushButton* FStatusButton = nullptr;
    QPointer<TFormFeedHealth> FView;
    std::set<std::string> FNeedingAttention;  // as last counted, listed feeds only
    TTimePoint FAttentionCounted;             // by the health clock
    bool FViewRefreshQueued = false;
};

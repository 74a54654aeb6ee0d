// Notifications of new items: the announcer and its timer, the balloons,
// the catch-ups it is told of, and the per-feed switch.
#include "NotifyController.h"

#include <QAction>
#include <QFontMetrics>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <exception>

#include "Convert.h"
#include "FeedDocument.h"
#include "FeedListModel.h"
#include "Options.h"
#include "TextFit.h"
#include "uvxLanguage.h"
#include "QtText.h"

namespace {

constexpr char kAlertWordsPath[] = "general\\AlertWords";
constexpr char kOnlyAlertWordsPath[] = "general\\OnlyAlertWords";
// Often enough to keep the spacing of notifications to the second while
// something waits; rarely otherwise, when the timer only watches for a wake.
constexpr int kBusyTickMs = 1000;
constexpr int kIdleTickMs = 10000;
constexpr char kBalloonTimeoutPath[] = "general\\BalloonTimeout";
// Used when general\BalloonTimeout holds no number: a bad setting must not
// make an update with news fail.
constexpr int kFallbackBalloonSeconds = 10;
// Width of one title line of a balloon listing several items.
constexpr int kBalloonLineWidth = 250;
// The notification area shows no more of a balloon's text than this many
// characters; nothing beyond them is built.
constexpr std::size_t kBalloonTextChars = TAnnouncer::kBodyChars;

using plat::Q;

// The news of a download: the items at the indices `newItems` gives (those
// the item store had never seen), else its first `count` items.
TFeedNews NewsOf(const feedlist::TFeedEntry& feed, const feed::TFeedDocument& document, int count,
                 const std::vector<int>* newItems = nullptr, const TAlertVerdicts* verdicts = nullptr) {
    TFeedNews news;
    news.FeedId = feedlist::IdText(feed);
    news.FeedTitle = document.Channel().Required().Title();
    std::vector<int> chosen;
    if (newItems) {
        for (int index : *newItems)
            if (index >= 0 && index < document.Items().Count()) chosen.push_back(index);
    }
    news.Count = chosen.empty() ? std::min(count, document.Items().Count()) : static_cast<int>(chosen.size());
    if (verdicts && verdicts->MatchedBy) {
        news.AlertedBy = verdicts->MatchedBy.get();
        news.Alerted = [verdicts, chosen](int i) -> std::optional<bool> {
            const std::size_t index =
                static_cast<std::size_t>(chosen.empty() ? i : chosen[static_cast<std::size_t>(i)]);
            if (index >= verdicts->ByIndex.size() || verdicts->ByIndex[index] < 0) return std::nullopt;
            return verdicts->ByIndex[index] == 1;
        };
    }
    news.Item = [&document, chosen = std::move(chosen)](int i) {
        const int index = chosen.empty() ? i : chosen[static_cast<std::size_t>(i)];
        const feed::TRSSItem& entry = document.Items()[index];
        return TNewsItem{entry.Title(), entry.Description()};
    };
    news.Muted = !feed.Notify;
    return news;
}

}  // namespace

TNotifyController::TNotifyController(THost host, QWidget* window)
    : QObject(window),
      FHost(std::move(host)),
      FWindow(window),
      FAnnouncer(std::make_unique<TAnnouncer>(
          FSystemClock, [this](const TAnnouncement& announcement) { ShowAnnouncement(announcement); })) {
    FTimer = new QTimer(this);
    connect(FTimer, &QTimer::timeout, this, [this] { Tick(); });
    ScheduleTick();

    FAction = new QAction(QStringLiteral("Notify About New Items"), window);
    FAction->setObjectName("ActionNotifyFeed");
    FAction->setCheckable(true);
    FAction->setEnabled(false);
    connect(FAction, &QAction::triggered, this, [this] { ToggleSelectedFeed(); });
}

TNotifyController::~TNotifyController() = default;

void TNotifyController::UseClock(const TAnnounceClock& clock) {
    FAnnouncer = std::make_unique<TAnnouncer>(
        clock, [this](const TAnnouncement& announcement) { ShowAnnouncement(announcement); });
}

void TNotifyController::Tick() {
    FAnnouncer->Tick();
    ScheduleTick();
}

void TNotifyController::ScheduleTick() {
    const int interval = FAnnouncer->Busy() ? kBusyTickMs : kIdleTickMs;
    if (FTimer->interval() != interval || !FTimer->isActive()) FTimer->start(interval);
}

std::shared_ptr<const TAlertMatcher> TNotifyController::RefreshAlertWords() {
    // Read for every download, so a change in the options applies at once;
    // a bad setting announces as if there were no alert words.
    std::vector<std::string> words;
    bool onlyAlerts = false;
    try {
        if (TOptions* options = FHost.Options()) {
            words = ParseAlertWords(options->GetConfigNode(kAlertWordsPath).Text());
            onlyAlerts = plat::TryStrToBool(options->GetConfigNode(kOnlyAlertWordsPath).Text()).value_or(false);
        }
    } catch (const std::exception&) {
    }
    FAnnouncer->SetAlertWords(std::move(words), onlyAlerts);
    return FAnnouncer->AlertMatcher();
}

void TNotifyController::AnnounceNewItems(const feedlist::TFeedEntry& feed, const feed::TFeedDocument& document,
                                         int count, const std::vector<int>* newItems, const TAlertVerdicts* verdicts) {
    if (count <= 0) return;
    RefreshAlertWords();
    FAnnouncer->AddNews(NewsOf(feed, document, count, newItems, verdicts));
    ScheduleTick();
}

void TNotifyController::ShowNotification(const feedlist::TFeedEntry& feed, const feed::TFeedDocument& document,
                                         int count) {
    if (count > 0 && document.Items().Count() > 0)
        ShowAnnouncement(TAnnouncer::Immediate(NewsOf(feed, document, count)));
    else
        ShowBalloon();
}

void TNotifyController::ShowAnnouncement(const TAnnouncement& announcement) {
    const std::vector<TNewsItem>& items = announcement.Items;
    if (announcement.FeedIds.empty() || items.empty()) return;
    FBalloon.FeedId = announcement.FeedIds.front();
    const int count = announcement.ItemCount;
    if (announcement.SingleFeed() && count == 1) {
        FBalloon.Title = Q(items[0].Title);
        FBalloon.Text = Q(items[0].Body);
    } else {
        try {
            FBalloon.Title = announcement.SingleFeed()
                                 ? LangFmtQ("UpdatedTitles", {announcement.FeedTitle, count})
                                 : LangFmtQ("NewItemsSummary", {count, static_cast<int>(announcement.FeedIds.size())});
        } catch (const std::exception&) {
            FBalloon.Title =
                announcement.SingleFeed()
                    ? Q(announcement.FeedTitle)
                    : QStringLiteral("%1 new items in %2 feeds").arg(count).arg(announcement.FeedIds.size());
        }
        const QFontMetrics metrics(FWindow->font());
        FBalloon.Text = Q(textfit::FittedTitleLines(
            [&items](int i) { return items[static_cast<std::size_t>(i)].Title; },
            std::min(count, static_cast<int>(items.size())), kBalloonLineWidth,
            [&metrics](const std::string& s) { return metrics.horizontalAdvance(Q(s)); }, kBalloonTextChars));
    }
    ShowBalloon();
    if (FHost.Say) {
        const bool one = announcement.SingleFeed() && count == 1;
        FHost.Say(one ? LangTextQ("SpokenNewItem", {announcement.FeedTitle, items[0].Title},
                                  Q(announcement.FeedTitle + ": " + items[0].Title))
                      : FBalloon.Title);
    }
}

void TNotifyController::ShowBalloon() {
    if (FBalloon.FeedId.empty() || !FHost.ShowBalloon) return;
    int timeout = kFallbackBalloonSeconds;
    try {
        if (TOptions* options = FHost.Options())
            timeout = plat::TryStrToInt(options->GetConfigNode(kBalloonTimeoutPath).Text()).value_or(timeout);
    } catch (const std::exception&) {
    }
    // The notification area takes an empty text as "no balloon"; an item
    // without a description is still announced, with its title alone.
    // Cut here, at a word and with an ellipsis, before the tray's limit
    // would cut it anywhere.
    const QString text = FBalloon.Text.isEmpty()
                             ? QStringLiteral(" ")
                             : Q(textfit::CutAtWord(FBalloon.Text.toStdString(), kBalloonTextChars));
    FHost.ShowBalloon(FBalloon.Title, text, timeout);
}

void TNotifyController::NoteUpdate() { FAnnouncer->NoteUpdate(); }

void TNotifyController::FeedDeleted(const QString& id) {
    FAnnouncer->ForgetFeed(id.toStdString());
    // A balloon of a deleted feed is forgotten: clicking the tray icon then
    // shows nothing, and nothing can lead back to the feed.
    if (id.toStdString() == FBalloon.FeedId) ForgetBalloon();
}

void TNotifyController::NoteUpdateAllRunning(bool running) {
    if (running == FUpdateAllCatchUp) return;
    FUpdateAllCatchUp = running;
    if (running)
        FAnnouncer->BeginCatchUp();
    else
        FAnnouncer->EndCatchUp();
    ScheduleTick();
}

void TNotifyController::NotePollingStarted() {
    // Only the first pass of a run: the feeds were not watched before it.
    if (FPollingCatchUpDone) return;
    FPollingCatchUpDone = true;
    FAnnouncer->Settle();
    ScheduleTick();
}

void TNotifyController::NotePollingStopped() {
    NoteUpdateAllRunning(false);
    FAnnouncer->Unsettle();
}

void TNotifyController::RefreshAction() {
    const feedlist::TListEntry* feed = FHost.SelectedFeed();
    FAction->setEnabled(feed != nullptr);
    FAction->setChecked(feed && feed->Feed().Notify);
}

void TNotifyController::ToggleSelectedFeed() {
    const feedlist::TListEntry* feed = FHost.SelectedFeed();
    if (!feed) return;
    FHost.FeedList->UpdateFeed(*feed, [](feedlist::TFeedEntry& entry) { entry.Notify = !entry.Notify; });
    RefreshAction();
    FHost.ScheduleConfigSave();
}

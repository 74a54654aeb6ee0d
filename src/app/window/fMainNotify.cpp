// Notifications of the main window: the announcer that coalesces news into
// few balloons, the timer that drives it, the catch-ups it is told of, and
// the per-feed "Notify About New Items" switch.
#include "fMain.h"

#include <QTimer>

#include <algorithm>
#include <exception>

#include "AlertWords.h"
#include "Convert.h"
#include "FeedDocument.h"
#include "FeedNotifySwitch.h"

namespace {

constexpr char kAlertWordsPath[] = "general\\AlertWords";
constexpr char kOnlyAlertWordsPath[] = "general\\OnlyAlertWords";
// Often enough to keep the spacing of notifications to the second while
// something waits; rarely otherwise, when the timer only watches for a wake.
constexpr int kBusyTickMs = 1000;
constexpr int kIdleTickMs = 10000;

// The news of a download: the items at the indices `newItems` gives (those
// the item store had never seen), else its first `count` items.
TFeedNews NewsOf(const xml::Node& item, const feed::TFeedDocument& document, int count,
                 const std::vector<int>* newItems = nullptr, const TAlertVerdicts* verdicts = nullptr) {
    TFeedNews news;
    news.FeedId = item.Attribute("id").value_or("");
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
    news.Muted = !FeedNotifies(item);
    return news;
}

}  // namespace

void TFormMain::ConnectNotifications() {
    FAnnouncer = std::make_unique<TAnnouncer>(
        FSystemAnnounceClock, [this](const TAnnouncement& announcement) { ShowAnnouncement(announcement); });
    FAnnounceTimer = new QTimer(this);
    connect(FAnnounceTimer, &QTimer::timeout, this, [this] {
        FAnnouncer->Tick();
        ScheduleAnnounceTick();
    });
    ScheduleAnnounceTick();

    ActionNotifyFeed = new QAction(QStringLiteral("Notify About New Items"), this);
    ActionNotifyFeed->setObjectName("ActionNotifyFeed");
    ActionNotifyFeed->setCheckable(true);
    ActionNotifyFeed->setEnabled(false);
    // After "Copy URL" in both menus: the feed's own settings stay together.
    for (QMenu* menu : {Feed1, PopupMenuFeedList}) {
        const QList<QAction*> actions = menu->actions();
        const qsizetype copy = actions.indexOf(ActionCopyURL);
        menu->insertAction(copy >= 0 && copy + 1 < actions.size() ? actions[copy + 1] : nullptr, ActionNotifyFeed);
        connect(menu, &QMenu::aboutToShow, this, [this] { RefreshNotifyAction(); });
    }
    connect(ActionNotifyFeed, &QAction::triggered, this, [this] { ActionNotifyFeedExecute(); });
    connect(TreeView, &QTreeWidget::currentItemChanged, this, [this] { RefreshNotifyAction(); });
    connect(this, &TFormMain::feedDeleted, this,
            [this](const QString& id) { FAnnouncer->ForgetFeed(id.toStdString()); });
    connect(this, &TFormMain::feedUpdateFinished, this, [this] { FAnnouncer->NoteUpdate(); });
}

void TFormMain::ShowNotification(QTreeWidgetItem* node, const feed::TFeedDocument* document, int count) {
    const xml::Node item = GetFeedItem(node);
    if (item && document && count > 0 && document->Items().Count() > 0)
        ShowAnnouncement(TAnnouncer::Immediate(NewsOf(item, *document, count)));
    else
        ShowBalloon();
}

void TFormMain::UseAnnounceClock(const TAnnounceClock& clock) {
    FAnnouncer = std::make_unique<TAnnouncer>(
        clock, [this](const TAnnouncement& announcement) { ShowAnnouncement(announcement); });
}

void TFormMain::ScheduleAnnounceTick() {
    const int interval = FAnnouncer->Busy() ? kBusyTickMs : kIdleTickMs;
    if (FAnnounceTimer->interval() != interval || !FAnnounceTimer->isActive()) FAnnounceTimer->start(interval);
}

std::shared_ptr<const TAlertMatcher> TFormMain::RefreshAlertWords() {
    // Read for every download, so a change in the options applies at once;
    // a bad setting announces as if there were no alert words.
    std::vector<std::string> words;
    bool onlyAlerts = false;
    try {
        words = ParseAlertWords(FOptions->GetConfigNode(kAlertWordsPath).Text());
        onlyAlerts = plat::TryStrToBool(FOptions->GetConfigNode(kOnlyAlertWordsPath).Text()).value_or(false);
    } catch (const std::exception&) {
    }
    if (!FAnnouncer) return nullptr;
    FAnnouncer->SetAlertWords(std::move(words), onlyAlerts);
    return FAnnouncer->AlertMatcher();
}

void TFormMain::AnnounceNewItems(QTreeWidgetItem* node, const feed::TFeedDocument& document, int count,
                                 const std::vector<int>* newItems, const TAlertVerdicts* verdicts) {
    const xml::Node item = GetFeedItem(node);
    if (!item || count <= 0) return;
    RefreshAlertWords();
    FAnnouncer->AddNews(NewsOf(item, document, count, newItems, verdicts));
    ScheduleAnnounceTick();
}

void TFormMain::NoteUpdateAllRunning(bool running) {
    if (!FAnnouncer || running == FUpdateAllCatchUp) return;
    FUpdateAllCatchUp = running;
    if (running)
        FAnnouncer->BeginCatchUp();
    else
        FAnnouncer->EndCatchUp();
    ScheduleAnnounceTick();
}

void TFormMain::NotePollingStarted() {
    // Only the first pass of a run: the feeds were not watched before it.
    if (!FAnnouncer || FPollingCatchUpDone) return;
    FPollingCatchUpDone = true;
    FAnnouncer->Settle();
    ScheduleAnnounceTick();
}

void TFormMain::NotePollingStopped() {
    NoteUpdateAllRunning(false);
    if (FAnnouncer) FAnnouncer->Unsettle();
}

void TFormMain::RefreshNotifyAction() {
    const xml::Node item = GetFeedItem(TreeView->currentItem());
    ActionNotifyFeed->setEnabled(!item.IsNull());
    ActionNotifyFeed->setChecked(item && FeedNotifies(item));
}

void TFormMain::ActionNotifyFeedExecute() {
    const xml::Node item = GetFeedItem(TreeView->currentItem());
    if (!item) return;
    try {
        SetFeedNotifies(item, !FeedNotifies(item));
    } catch (const std::exception& error) {
        SetStatusText(0, QString::fromUtf8(error.what()));
    }
    RefreshNotifyAction();
    ScheduleConfigSave();
}

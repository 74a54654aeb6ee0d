// Feed health: the record, its judgement and what the user sees of it.
//
// A feed that answered 410 carries stopped="gone" in its <item> element
// (older versions ignore it); polling passes it by until the user retries,
// edits it or gives it another address.
#include "FeedHealthController.h"

#include <QAction>
#include <QDateTime>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "Address.h"
#include "Convert.h"
#include "FeedListModel.h"
#include "FeedUpdate.h"
#include "Options.h"
#include "fFeedHealth.h"
#include "uvxLanguage.h"
#include "QtText.h"

namespace {

constexpr char kSilentDaysName[] = "SilentDays";
constexpr char kFollowRedirectsName[] = "FollowRedirects";
constexpr char kStoppedGone[] = "gone";
constexpr int kDefaultSilentDays = 180;

using schedule::TAttention;
using schedule::TOutcomeKind;
using TAction = TFormFeedHealth::TAction;

using plat::Q;

// A message of the language file with its arguments, or the English text
// when the language lacks it: a missing text must not hide a cause.
QString Words(const char* name, const std::vector<plat::FormatArg>& args, const char* english) {
    return LangTextQ(name, args, QString::fromUtf8(english));
}

// What a failed fetch means and what to do about it.
QString FailureWords(const schedule::TFetchOutcome& outcome) {
    switch (outcome.Kind) {
        case TOutcomeKind::Updated:
        case TOutcomeKind::NotModified:
            return {};
        case TOutcomeKind::Moved:
            return Words("FailureMoved", {outcome.MovedTo}, "The feed has moved to a new address.");
        case TOutcomeKind::Gone:
            return Words("FailureGone", {}, "The site removed this feed for good.");
        case TOutcomeKind::NotFound:
            return Words("FailureNotFound", {}, "There is no feed at this address.");
        case TOutcomeKind::Refused:
            return Words("FailureRefused", {}, "The server refused access to this feed.");
        case TOutcomeKind::BotProtection:
            return Words("FailureBotProtection", {},
                         "The site answered with a check that only a web browser can pass.");
        case TOutcomeKind::NotAFeed:
            return Words("FailureNotAFeed", {}, "The address gives a web page, not a feed.");
        case TOutcomeKind::HostNotFound:
            return Words("FailureHostNotFound", {}, "The server was not found.");
        case TOutcomeKind::Unreachable:
            return Words("FailureUnreachable", {}, "The server could not be reached.");
        case TOutcomeKind::TlsInvalid:
            return Words("FailureTlsInvalid", {}, "The server's security certificate is not valid for this address.");
        case TOutcomeKind::TimedOut:
            return Words("FailureTimedOut", {}, "The server did not answer in time.");
        case TOutcomeKind::ServerError:
            return Words("FailureServerError", {}, "The server had a problem of its own.");
        case TOutcomeKind::RateLimited:
            return Words("FailureRateLimited", {}, "The server asked to come back later.");
        case TOutcomeKind::OtherFailure:
            break;
    }
    return Words("FailureOther", {}, "The feed could not be fetched or read.");
}

schedule::TFetchOutcome OutcomeOf(const schedule::THealthEntry& entry) {
    schedule::TFetchOutcome outcome;
    outcome.Kind = entry.Kind;
    outcome.Status = entry.Status;
    outcome.ServerStatus = entry.ServerStatus;
    outcome.MovedTo = entry.MovedTo;
    return outcome;
}

// The server's own words and when they came, for those who want them.
QString DetailOf(const schedule::TFeedHealth& health) {
    const schedule::THealthEntry* last = health.Last();
    if (!last || !schedule::IsFailure(last->Kind) || last->ServerStatus.empty()) return {};
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(last->At.time_since_epoch()).count());
    return Q(last->ServerStatus) + '\n' + when.toString("yyyy-MM-dd hh:mm:ss");
}

}  // namespace

TFeedHealthController::TFeedHealthController(THost host, QWidget* window)
    : QObject(window), FHost(std::move(host)), FWindow(window), FBook(std::make_shared<schedule::THealthBook>()) {
    const schedule::THealthBook::TLoadResult book = FBook->Load(schedule::kHealthFile);
    if (!book.Damage.empty()) {
        const std::string detail = std::string(schedule::kHealthFile) + ": " + book.Damage;
        FHost.ShowStatus(
            book.SetAsidePath.empty()
                ? Q(detail)
                : Words("HealthSetAside", {book.SetAsidePath},
                        "The feed health record was damaged and was kept aside; what could be read of it is kept."));
    }

    FAction = new QAction("Feed Health...", window);
    FAction->setObjectName("ActionFeedHealth");
    connect(FAction, &QAction::triggered, this, [this] { FHost.Guarded([this] { Open(); }); });

    FStatusButton = new QPushButton(window);
    FStatusButton->setObjectName("StatusHealth");
    FStatusButton->setFlat(true);
    FStatusButton->setCursor(Qt::PointingHandCursor);
    FStatusButton->setVisible(false);
    connect(FStatusButton, &QPushButton::clicked, this, [this] { FHost.Guarded([this] { Open(); }); });
}

TFeedHealthController::~TFeedHealthController() = default;

TFeedHealthController::TTimePoint TFeedHealthController::Now() const {
    return FHost.Now ? FHost.Now() : std::chrono::system_clock::now();
}

std::map<std::string, TFeedHealthController::TTimePoint> TFeedHealthController::RetryAfterAsked() const {
    // Compared with the system clock, as the polling thread does.
    const auto now = std::chrono::system_clock::now();
    std::map<std::string, TTimePoint> asked;
    for (const auto& [id, health] : FBook->All())
        if (health.Asked().RetryAfter && *health.Asked().RetryAfter > now) asked[id] = *health.Asked().RetryAfter;
    return asked;
}

void TFeedHealthController::FeedListLoaded() {
    // The tooltips of feeds that will not be fetched soon (one stopped after
    // a 410 never is), then the status line.
    for (const std::string& id : NeedingAttention()) FHost.ShowFeedState(id);
    Refresh();
}

void TFeedHealthController::FeedDeleted(const QString& id) {
    // A deleted feed leaves the count at once; the open view is listed again
    // once per turn, not once for each of thousands of feeds a server's list
    // dropped.
    FBook->Forget(id.toStdString());
    if (!FNeedingAttention.erase(id.toStdString())) return;
    ShowCount();
    if (ViewOpen() && !FViewRefreshQueued) {
        FViewRefreshQueued = true;
        QTimer::singleShot(0, this, [this] {
            FViewRefreshQueued = false;
            FHost.Guarded([this] { Refresh(); });
        });
    }
}

schedule::THealthPolicy TFeedHealthController::Policy() const {
    schedule::THealthPolicy policy;
    TOptions* options = FHost.Options();
    if (!options) return policy;
    int days = kDefaultSilentDays;
    // Read without creating it: a configuration from before the option is
    // saved as it was read.
    try {
        const xml::Node option =
            options->ConfigDocument().DocumentElement().ChildByName("general").ChildByName(kSilentDaysName);
        if (option) days = plat::TryStrToInt(option.Text()).value_or(days);
    } catch (const std::exception&) {
    }
    // 0 or less never calls a feed silent.
    policy.SilentAfter = days > 0 ? std::chrono::hours(24) * days : std::chrono::hours::max() / 2;
    return policy;
}

bool TFeedHealthController::FollowRedirects() const {
    TOptions* options = FHost.Options();
    if (!options) return false;
    try {
        const xml::Node option =
            options->ConfigDocument().DocumentElement().ChildByName("general").ChildByName(kFollowRedirectsName);
        return option && plat::TryStrToBool(option.Text()).value_or(false);
    } catch (const std::exception&) {
        return false;
    }
}

schedule::TAttention TFeedHealthController::Attention(const std::string& id) const {
    return FBook->Get(id).Attention(Now(), Policy());
}

QString TFeedHealthController::Cause(const std::string& id) {
    const schedule::TFeedHealth health = FBook->Get(id);
    const schedule::THealthPolicy policy = Policy();
    const schedule::THealthEntry* last = health.Last();
    switch (Attention(id)) {
        case TAttention::None:
            return {};
        case TAttention::Moved:
            return Words("HealthMoved", {health.ConfirmedMove(policy)}, "The feed has moved to a new address.");
        case TAttention::AddressChanged:
            return Words("HealthAddressChanged", {health.ChangedFrom(), health.ChangedTo()},
                         "The feed moved and its address was changed.");
        case TAttention::Gone:
            return Words("HealthGone", {}, "The site removed this feed for good.");
        case TAttention::NotFound:
            return Words("HealthNotFound", {}, "There has been no feed at this address for more than a week.");
        case TAttention::Failing:
            return Words("HealthFailing", {last ? FailureWords(OutcomeOf(*last)).toStdString() : std::string()},
                         "This feed has failed for more than a day.");
        case TAttention::Silent: {
            const int days =
                static_cast<int>(std::chrono::duration_cast<std::chrono::hours>(policy.SilentAfter).count() / 24);
            return Words("HealthSilent", {days}, "This feed has had no new item for a long time.");
        }
        case TAttention::Refused:
        case TAttention::BotProtection:
        case TAttention::NotAFeed:
            break;
    }
    return last ? FailureWords(OutcomeOf(*last)) : QString();
}

QString TFeedHealthController::FailureInWords(const TFeedUpdate& update) {
    const schedule::TFetchOutcome* outcome = update.Outcome();
    return outcome ? FailureWords(*outcome) : QString();
}

const feedlist::TListEntry* TFeedHealthController::Feed(const std::string& id) const {
    return FHost.FeedList ? FHost.FeedList->FindFeed(id) : nullptr;
}

void TFeedHealthController::SetStopped(const feedlist::TListEntry& feed, const std::string& why) {
    if (feed.Feed().Stopped != why)
        FHost.FeedList->UpdateFeed(feed, [&why](feedlist::TFeedEntry& entry) { entry.Stopped = why; });
}

bool TFeedHealthController::Stopped(const std::string& id) const {
    const feedlist::TListEntry* feed = Feed(id);
    return feed && feed->Feed().Stopped == kStoppedGone;
}

void TFeedHealthController::NoteFetch(const TFeedUpdate& update) {
    const std::string& id = update.Request().Id;
    const auto at = update.Outcome() ? update.Outcome()->At : std::chrono::system_clock::now();
    const schedule::TAnswerHints answer = update.AnswerHints();
    FBook->Change(id, [&](schedule::TFeedHealth& health) { health.NoteAnswer(answer, at); });
    if (FHost.Fetched) FHost.Fetched(id, answer, at);
}

void TFeedHealthController::Review(const std::string& id) {
    const feedlist::TListEntry* feed = Feed(id);
    if (!feed) return;
    const TAttention attention = Attention(id);
    // A feed the publisher removed is not asked again until the user acts.
    SetStopped(*feed, attention == TAttention::Gone ? kStoppedGone : "");
    // With redirects followed, a move seen on consecutive updates is taken:
    // the feed is fetched from its new address, and the view offers Undo.
    const bool follow = attention == TAttention::Moved && FollowRedirects();
    if (follow) {
        const std::string from = feed->Feed().Url;
        const std::string to = FBook->Get(id).ConfirmedMove(Policy());
        FHost.SetFeedAddress(id, to);
        FBook->Change(id, [&](schedule::TFeedHealth& health) { health.NoteAddressChanged(from, to); });
        Save();
    }
    FHost.ShowFeedState(id);
    // A move taken changes the feed's attention after it was read.
    if (follow)
        Refresh();
    else
        NoteAttention(id, attention);
}

void TFeedHealthController::KeptForSchedule(const feedlist::TFeedEntry* feed, schedule::TAnswerHints& asked,
                                            std::optional<TTimePoint>& lastFetch) const {
    if (!feed) return;
    const schedule::TFeedHealth health = FBook->Get(feedlist::IdText(*feed));
    asked = health.Asked();
    lastFetch = health.LastFetch();
    // A configuration from before the book knew fetches still says when
    // the feed was last read.
    const QDateTime last = QDateTime::fromString(Q(feed->LastUpdate), Qt::ISODate);
    if (last.isValid()) {
        const TTimePoint at{std::chrono::milliseconds(last.toMSecsSinceEpoch())};
        if (!lastFetch || at > *lastFetch) lastFetch = at;
    }
}

void TFeedHealthController::AddressReplaced(const std::string& id) {
    FBook->Change(id, [](schedule::TFeedHealth& health) { health.Reset(); });
}

bool TFeedHealthController::ViewOpen() const { return FView && FView->isVisible(); }

void TFeedHealthController::NoteAttention(const std::string& id, TAttention attention) {
    const auto now = Now();
    if (ViewOpen() || now - FAttentionCounted > std::chrono::minutes(1) || now < FAttentionCounted) {
        Refresh();
        return;
    }
    if (attention != TAttention::None)
        FNeedingAttention.insert(id);
    else
        FNeedingAttention.erase(id);
    ShowCount();
}

void TFeedHealthController::ShowCount() {
    const int count = static_cast<int>(FNeedingAttention.size());
    FStatusButton->setVisible(count > 0);
    if (count > 0)
        FStatusButton->setText(count == 1 ? Words("HealthAttentionOne", {}, "1 feed needs attention")
                                          : Words("HealthAttentionMany", {count}, "Some feeds need attention"));
}

std::vector<std::string> TFeedHealthController::NeedingAttention() const {
    std::vector<std::string> ids;
    const std::map<std::string, TAttention> needing = FBook->NeedingAttention(Now(), Policy());
    if (needing.empty()) return ids;
    // In the tree's order; the history of a feed no longer listed is left out.
    for (std::string& id : FHost.FeedIds())
        if (needing.count(id)) ids.push_back(std::move(id));
    return ids;
}

void TFeedHealthController::Refresh() {
    // Counts the whole book (see NoteAttention for after an update): the
    // count needs no walk of the tree, only the open view lists the feeds
    // in its order.
    const auto now = Now();
    FNeedingAttention.clear();
    for (const auto& [id, attention] : FBook->NeedingAttention(now, Policy()))
        if (Feed(id)) FNeedingAttention.insert(id);
    FAttentionCounted = now;
    ShowCount();
    if (!ViewOpen()) return;
    std::vector<TFormFeedHealth::TRow> rows;
    for (const std::string& id : NeedingAttention())
        rows.push_back({Q(id), FHost.FeedName(id), Cause(id), DetailOf(FBook->Get(id)), Attention(id)});
    FView->SetRows(std::move(rows));
}

void TFeedHealthController::Open() {
    if (!FView) {
        FView = new TFormFeedHealth(FWindow);
        FView->OnAction = [this](const QString& id, TAction action) {
            FHost.Guarded([&] { Act(id.toStdString(), static_cast<int>(action)); });
        };
    }
    FView->show();
    Refresh();
    FView->raise();
}

void TFeedHealthController::Act(const std::string& id, int action) {
    const feedlist::TListEntry* feed = Feed(id);
    if (!feed) return;
    const std::string url = feed->Feed().Url;
    switch (static_cast<TAction>(action)) {
        case TAction::UseAddress: {
            const std::string to = FBook->Get(id).ConfirmedMove(Policy());
            if (to.empty()) break;
            FHost.SetFeedAddress(id, to);
            FBook->Change(id, [&](schedule::TFeedHealth& health) { health.NoteAddressChanged(url, to); });
            break;
        }
        case TAction::Undo: {
            const std::string from = FBook->Get(id).ChangedFrom();
            if (from.empty()) break;
            FHost.SetFeedAddress(id, from);
            FBook->Change(id, [](schedule::TFeedHealth& health) { health.NoteAddressRestored(); });
            break;
        }
        case TAction::Keep: {
            const auto now = Now();
            FBook->Change(id, [now](schedule::TFeedHealth& health) {
                health.AcceptAddressChange();
                health.Keep(now);
            });
            break;
        }
        case TAction::Retry:
            FBook->Change(id, [](schedule::TFeedHealth& health) { health.Reset(); });
            SetStopped(*feed, "");
            Save();
            Refresh();
            FHost.UpdateFeed(id);
            return;
        case TAction::Edit:
            FHost.EditFeed(id);
            break;
        case TAction::Delete:
            FHost.DeleteFeed(id);
            break;
        case TAction::FindFeed: {
            // The feed found replaces the address, as a move does: the
            // feed keeps its name, folder, items and stored copy, and the
            // change can be undone.
            QString title = FView ? FView->BtnFindFeed->text() : QString();
            title.remove('&');
            while (title.endsWith('.') || title.endsWith(QChar(0x2026))) title.chop(1);
            const std::string to = FHost.ChooseFeedOnPage(id, url, title.trimmed());
            if (to.empty() || discover::ComparableUrl(to) == discover::ComparableUrl(url)) break;
            FHost.SetFeedAddress(id, to);
            FBook->Change(id, [&](schedule::TFeedHealth& health) { health.NoteAddressChanged(url, to); });
            break;
        }
    }
    Save();
    if (Feed(id)) FHost.ShowFeedState(id);
    Refresh();
}

void TFeedHealthController::Save() {
    try {
        FBook->Save(schedule::kHealthFile);
    } catch (const std::exception&) {
        // Saved again with the next change or at exit; the history is a
        // convenience, never worth interrupting the user for.
    }
}

// The main window's side of feed health: the Feed Health view and its
// actions, the status line, the causes shown with a feed, following a
// confirmed move, and the stop of polling after a 410.
//
// A feed that answered 410 carries stopped="gone" in its <item> element
// (older versions ignore it); polling passes it by until the user retries,
// edits it or gives it another address.
#include "fMain.h"

#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include "Address.h"
#include "Convert.h"
#include "FeedHealth.h"
#include "FeedUpdate.h"
#include "UpdateThread.h"
#include "fAddFeed.h"
#include "fFeedHealth.h"
#include "uvxLanguage.h"

namespace {

constexpr char kSilentDaysName[] = "SilentDays";
constexpr char kFollowRedirectsName[] = "FollowRedirects";
constexpr char kStoppedAttribute[] = "stopped";
constexpr char kStoppedGone[] = "gone";
constexpr int kDefaultSilentDays = 180;
const char* const kValidatorAttributes[] = {"etag", "lastmodified"};

using schedule::TAttention;
using schedule::TOutcomeKind;
using TAction = TFormFeedHealth::TAction;

QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

// A message of the language file with its arguments, or the English text
// when the language lacks it: a missing text must not hide a cause.
QString Words(const char* name, const std::vector<plat::FormatArg>& args, const char* english) {
    try {
        const QString text = LangFmtQ(name, args);
        if (!text.isEmpty()) return text;
    } catch (const std::exception&) {
    }
    return QString::fromUtf8(english);
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

void TFormMain::ConnectFeedHealth() {
    FHealth = std::make_shared<schedule::THealthBook>();
    const schedule::THealthBook::TLoadResult book = FHealth->Load(schedule::kHealthFile);
    if (!book.Damage.empty()) {
        const std::string detail = std::string(schedule::kHealthFile) + ": " + book.Damage;
        SetStatusText(
            0, book.SetAsidePath.empty()
                   ? Q(detail)
                   : Words("HealthSetAside", {book.SetAsidePath},
                           "The feed health record was damaged and was kept aside; what could be read of it is kept."));
    }
    // A server's Retry-After outlives a restart, one after another too.
    const auto loaded = std::chrono::system_clock::now();
    for (const auto& [id, health] : FHealth->All())
        if (health.Asked().RetryAfter && *health.Asked().RetryAfter > loaded)
            FRetryAfter[id] = *health.Asked().RetryAfter;

    ActionFeedHealth = new QAction("Feed Health...", this);
    ActionFeedHealth->setObjectName("ActionFeedHealth");
    connect(ActionFeedHealth, &QAction::triggered, this, [this] { Guarded([this] { ActionFeedHealthExecute(); }); });
    // Right after Find in Feeds: both look across every feed.
    const QList<QAction*> entries = Feed1->actions();
    const qsizetype after = entries.indexOf(ActionFindInFeeds) + 1;
    Feed1->insertAction(after > 0 && after < entries.size() ? entries[after] : nullptr, ActionFeedHealth);

    StatusHealth = new QPushButton(StatusBar);
    StatusHealth->setObjectName("StatusHealth");
    StatusHealth->setFlat(true);
    StatusHealth->setCursor(Qt::PointingHandCursor);
    StatusHealth->setVisible(false);
    StatusBar->addPermanentWidget(StatusHealth);
    connect(StatusHealth, &QPushButton::clicked, this, [this] { Guarded([this] { ActionFeedHealthExecute(); }); });

    // Once the feed list is loaded: the status line, and the tooltips of
    // feeds that will not be fetched soon (one stopped after a 410 never is).
    QTimer::singleShot(0, this, [this] {
        Guarded([this] {
            for (const std::string& id : FeedsNeedingAttention())
                if (QTreeWidgetItem* node = FindFeedNodeById(id)) ShowFeedState(node);
            RefreshFeedHealth();
        });
    });

    connect(this, &TFormMain::feedDeleted, this, [this](const QString& id) {
        // A deleted feed leaves the count at once; the open view is
        // listed again once per turn, not once for each of thousands of
        // feeds a server's list dropped.
        FHealth->Forget(id.toStdString());
        if (!FNeedingAttention.erase(id.toStdString())) return;
        ShowAttentionCount();
        if (FeedHealthView && FeedHealthView->isVisible() && !FHealthViewRefreshQueued) {
            FHealthViewRefreshQueued = true;
            QTimer::singleShot(0, this, [this] {
                FHealthViewRefreshQueued = false;
                Guarded([this] { RefreshFeedHealth(); });
            });
        }
    });
}

schedule::THealthPolicy TFormMain::HealthPolicy() {
    schedule::THealthPolicy policy;
    if (!FOptions) return policy;
    int days = kDefaultSilentDays;
    // Read without creating it: a configuration from before the option is
    // saved as it was read.
    try {
        const xml::Node option =
            FOptions->ConfigDocument().DocumentElement().ChildByName("general").ChildByName(kSilentDaysName);
        if (option) days = plat::TryStrToInt(option.Text()).value_or(days);
    } catch (const std::exception&) {
    }
    // 0 or less never calls a feed silent.
    policy.SilentAfter = days > 0 ? std::chrono::hours(24) * days : std::chrono::hours::max() / 2;
    return policy;
}

schedule::TAttention TFormMain::FeedAttention(const std::string& id) {
    if (!FHealth) return TAttention::None;
    const auto now = HealthNow ? HealthNow() : std::chrono::system_clock::now();
    return FHealth->Get(id).Attention(now, HealthPolicy());
}

QString TFormMain::FeedHealthCause(const std::string& id) {
    if (!FHealth) return {};
    const schedule::TFeedHealth health = FHealth->Get(id);
    const schedule::THealthPolicy policy = HealthPolicy();
    const schedule::THealthEntry* last = health.Last();
    switch (FeedAttention(id)) {
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

QString TFormMain::FailureInWords(const TFeedUpdate& update) {
    const schedule::TFetchOutcome* outcome = update.Outcome();
    return outcome ? FailureWords(*outcome) : QString();
}

bool TFormMain::FeedStopped(const std::string& id) const {
    QTreeWidgetItem* node = FindFeedNodeById(id);
    const xml::Node item = node ? GetFeedItem(node) : xml::Node();
    return item && item.Attribute(kStoppedAttribute).value_or("") == kStoppedGone;
}

void TFormMain::ReviewFeedHealth(QTreeWidgetItem* node) {
    xml::Node item = GetFeedItem(node);
    if (!item || !FHealth) return;
    const std::string id = item.Attribute("id").value_or("");
    const TAttention attention = FeedAttention(id);
    // A feed the publisher removed is not asked again until the user acts.
    if (attention == TAttention::Gone) {
        if (!FeedStopped(id)) item.SetAttribute(kStoppedAttribute, kStoppedGone);
    } else if (item.HasAttribute(kStoppedAttribute)) {
        item.RemoveAttribute(kStoppedAttribute);
    }
    // With redirects followed, a move seen on consecutive updates is taken:
    // the feed is fetched from its new address, and the view offers Undo.
    bool follow = false;
    try {
        const xml::Node option =
            FOptions->ConfigDocument().DocumentElement().ChildByName("general").ChildByName(kFollowRedirectsName);
        follow = option && plat::TryStrToBool(option.Text()).value_or(false);
    } catch (const std::exception&) {
    }
    if (attention == TAttention::Moved && follow) {
        const std::string from = item.Attribute("url").value_or("");
        const std::string to = FHealth->Get(id).ConfirmedMove(HealthPolicy());
        SetFeedAddress(node, to);
        FHealth->Change(id, [&](schedule::TFeedHealth& health) { health.NoteAddressChanged(from, to); });
        SaveFeedHealth();
    }
    ShowFeedState(node);
    // A move taken changes the feed's attention after it was read.
    if (attention == TAttention::Moved && follow)
        RefreshFeedHealth();
    else
        NoteFeedAttention(id, attention);
}

void TFormMain::NoteFeedAttention(const std::string& id, TAttention attention) {
    if (!StatusHealth) return;
    const bool viewOpen = FeedHealthView && FeedHealthView->isVisible();
    const auto now = HealthNow ? HealthNow() : std::chrono::system_clock::now();
    if (viewOpen || now - FAttentionCounted > std::chrono::minutes(1) || now < FAttentionCounted) {
        RefreshFeedHealth();
        return;
    }
    if (attention != TAttention::None)
        FNeedingAttention.insert(id);
    else
        FNeedingAttention.erase(id);
    ShowAttentionCount();
}

void TFormMain::ShowAttentionCount() {
    const int count = static_cast<int>(FNeedingAttention.size());
    StatusHealth->setVisible(count > 0);
    if (count > 0)
        StatusHealth->setText(count == 1 ? Words("HealthAttentionOne", {}, "1 feed needs attention")
                                         : Words("HealthAttentionMany", {count}, "Some feeds need attention"));
}

std::vector<std::string> TFormMain::FeedsNeedingAttention() {
    std::vector<std::string> ids;
    if (!FHealth) return ids;
    const auto now = HealthNow ? HealthNow() : std::chrono::system_clock::now();
    const std::map<std::string, TAttention> needing = FHealth->NeedingAttention(now, HealthPolicy());
    if (needing.empty()) return ids;
    // In the tree's order; the history of a feed no longer listed is left out.
    for (QTreeWidgetItem* node : FeedNodesUnder(RootNode())) {
        std::string id = GetFeedItem(node).Attribute("id").value_or("");
        if (needing.count(id)) ids.push_back(std::move(id));
    }
    return ids;
}

void TFormMain::RefreshFeedHealth() {
    if (!StatusHealth || !FHealth) return;
    // Counts the whole book (see NoteFeedAttention for after an update):
    // the count needs no walk of the tree, only the open view lists the
    // feeds in its order.
    const auto now = HealthNow ? HealthNow() : std::chrono::system_clock::now();
    FNeedingAttention.clear();
    for (const auto& [id, attention] : FHealth->NeedingAttention(now, HealthPolicy()))
        if (FindFeedNodeById(id)) FNeedingAttention.insert(id);
    FAttentionCounted = now;
    ShowAttentionCount();
    if (!FeedHealthView || !FeedHealthView->isVisible()) return;
    std::vector<TFormFeedHealth::TRow> rows;
    for (const std::string& id : FeedsNeedingAttention()) {
        QTreeWidgetItem* node = FindFeedNodeById(id);
        rows.push_back({Q(id), FeedDisplayText(GetFeedItem(node)), FeedHealthCause(id), DetailOf(FHealth->Get(id)),
                        FeedAttention(id)});
    }
    FeedHealthView->SetRows(std::move(rows));
}

void TFormMain::ActionFeedHealthExecute() {
    if (!FeedHealthView) {
        FeedHealthView = new TFormFeedHealth(this);
        FeedHealthView->OnAction = [this](const QString& id, TAction action) {
            Guarded([&] { ActOnFeedHealth(id.toStdString(), static_cast<int>(action)); });
        };
    }
    FeedHealthView->show();
    RefreshFeedHealth();
    FeedHealthView->raise();
}

void TFormMain::SetFeedAddress(QTreeWidgetItem* node, const std::string& url) {
    xml::Node item = GetFeedItem(node);
    if (!item || url.empty()) return;
    item.SetAttribute("url", url);
    ++FFeedListVersion;
    for (const char* name : kValidatorAttributes)
        if (item.HasAttribute(name)) item.RemoveAttribute(name);
    if (item.HasAttribute(kStoppedAttribute)) item.RemoveAttribute(kStoppedAttribute);
    FRetryAfter.erase(item.Attribute("id").value_or(""));
    static_cast<TFeedNode*>(node)->SetFailure(QString(), QDateTime());
    UpdateNodeCaption(node);
    ShowFeedState(node);
    ScheduleConfigSave();
}

void TFormMain::ActOnFeedHealth(const std::string& id, int action) {
    QTreeWidgetItem* node = FindFeedNodeById(id);
    xml::Node item = GetFeedItem(node);
    if (!item) return;
    const std::string url = item.Attribute("url").value_or("");
    switch (static_cast<TAction>(action)) {
        case TAction::UseAddress: {
            const std::string to = FHealth->Get(id).ConfirmedMove(HealthPolicy());
            if (to.empty()) break;
            SetFeedAddress(node, to);
            FHealth->Change(id, [&](schedule::TFeedHealth& health) { health.NoteAddressChanged(url, to); });
            break;
        }
        case TAction::Undo: {
            const std::string from = FHealth->Get(id).ChangedFrom();
            if (from.empty()) break;
            SetFeedAddress(node, from);
            FHealth->Change(id, [](schedule::TFeedHealth& health) { health.NoteAddressRestored(); });
            break;
        }
        case TAction::Keep: {
            const auto now = HealthNow ? HealthNow() : std::chrono::system_clock::now();
            FHealth->Change(id, [now](schedule::TFeedHealth& health) {
                health.AcceptAddressChange();
                health.Keep(now);
            });
            break;
        }
        case TAction::Retry:
            FHealth->Change(id, [](schedule::TFeedHealth& health) { health.Reset(); });
            if (item.HasAttribute(kStoppedAttribute)) item.RemoveAttribute(kStoppedAttribute);
            SaveFeedHealth();
            RefreshFeedHealth();
            UpdateFeed(node);
            return;
        case TAction::Edit:
            OpenFeedProperties(node);
            break;
        case TAction::Delete:
            TreeView->setCurrentItem(node);
            ActionDeleteFeedExecute();
            break;
        case TAction::FindFeed: {
            // The feed found replaces the address, as a move does: the
            // feed keeps its name, folder, items and stored copy, and the
            // change can be undone.
            const std::string to = ChooseFeedOnPage(id, url);
            if (to.empty() || discover::ComparableUrl(to) == discover::ComparableUrl(url)) break;
            SetFeedAddress(node, to);
            FHealth->Change(id, [&](schedule::TFeedHealth& health) { health.NoteAddressChanged(url, to); });
            break;
        }
    }
    SaveFeedHealth();
    if (QTreeWidgetItem* still = FindFeedNodeById(id)) ShowFeedState(still);
    RefreshFeedHealth();
}

std::string TFormMain::ChooseFeedOnPage(const std::string& id, const std::string& url) {
    TFormAddFeed dialog(this);
    QString title = FeedHealthView ? FeedHealthView->BtnFindFeed->text() : QString();
    title.remove('&');
    while (title.endsWith('.') || title.endsWith(QChar(0x2026))) title.chop(1);
    dialog.SetChooseOnly(title.trimmed());
    dialog.SecureFeeds = SecureFeedsOption();
    // Another feed of the list is not taken twice; this one may be found.
    dialog.FindExisting = [this, id](const std::string& found) -> std::optional<QString> {
        const std::string wanted = discover::ComparableUrl(found);
        for (QTreeWidgetItem* other : FeedNodesUnder(RootNode())) {
            const xml::Node item = GetFeedItem(other);
            if (item.Attribute("id").value_or("") != id &&
                discover::ComparableUrl(item.Attribute("url").value_or("")) == wanted)
                return other->text(0);
        }
        return std::nullopt;
    };
    dialog.FindFeedsFor(Q(url));
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.URL().toStdString();
}

void TFormMain::SaveFeedHealth() {
    if (!FHealth) return;
    try {
        FHealth->Save(schedule::kHealthFile);
    } catch (const std::exception&) {
        // Saved again with the next change or at exit; the history is a
        // convenience, never worth interrupting the user for.
    }
}

void TFormMain::NoteFetchForSchedule(const TFeedUpdate& update) {
    const std::string& id = update.Request().Id;
    const auto at = update.Outcome() ? update.Outcome()->At : std::chrono::system_clock::now();
    const schedule::TAnswerHints answer = update.AnswerHints();
    if (FHealth) FHealth->Change(id, [&](schedule::TFeedHealth& health) { health.NoteAnswer(answer, at); });
    if (FUpdateThread) FUpdateThread->Fetched(id, answer, at);
}

void TFormMain::KeptForSchedule(QTreeWidgetItem* node, schedule::TAnswerHints& asked,
                                std::optional<std::chrono::system_clock::time_point>& lastFetch) {
    const xml::Node item = GetFeedItem(node);
    if (!item) return;
    if (FHealth) {
        const schedule::TFeedHealth health = FHealth->Get(item.Attribute("id").value_or(""));
        asked = health.Asked();
        lastFetch = health.LastFetch();
    }
    // A configuration from before the book knew fetches still says when
    // the feed was last read.
    const QDateTime last = QDateTime::fromString(Q(item.Attribute("lastupdate").value_or("")), Qt::ISODate);
    if (last.isValid()) {
        const std::chrono::system_clock::time_point at{std::chrono::milliseconds(last.toMSecsSinceEpoch())};
        if (!lastFetch || at > *lastFetch) lastFetch = at;
    }
}

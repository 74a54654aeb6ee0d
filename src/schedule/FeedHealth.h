// Each feed's recent history (successes, failures with their cause,
// permanent redirects, when it last had a new item) and what it means for
// the user: whether the feed needs attention, and why.
//
// The book of every feed's health is shared by the threads: the polling
// thread records each fetch's outcome as it ends, the window reads. It is
// kept in health.json in the home, a file of its own that older versions
// never read, written atomically.
#pragma once

#include "FetchOutcome.h"
#include "Rhythm.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace schedule {

// The book's file, in the home.
inline constexpr char kHealthFile[] = "health.json";

// Why a feed needs the user, most pressing first.
enum class TAttention {
    None,
    Moved,           // a permanent redirect on consecutive updates: use the new address
    AddressChanged,  // the address was changed to follow a move: it can be undone
    Gone,            // 410
    NotFound,        // 404 for longer than a week
    Refused,         // 401 or 403
    BotProtection,   // a bot-protection service's challenge page
    NotAFeed,        // the address gives a web page
    Failing,         // failing for longer than a day for another reason
    Silent,          // no new item for a long time
};

struct THealthPolicy {
    int MovedAfter = 3;  // consecutive updates redirected to the same address
    std::chrono::hours NotFoundAfter{24 * 7};
    std::chrono::hours FailingAfter{24};
    std::chrono::hours SilentAfter{24 * 180};
};

struct THealthEntry {
    TTimePoint At{};
    TOutcomeKind Kind = TOutcomeKind::Updated;
    int Status = 0;
    std::string ServerStatus;
    std::string MovedTo;
    bool operator==(const THealthEntry&) const = default;
};

class TFeedHealth {
public:
    static constexpr std::size_t kHistorySize = 10;

    void Record(const TFetchOutcome& outcome);
    TAttention Attention(TTimePoint now, const THealthPolicy& policy = {}) const;

    // The latest results, oldest first.
    const std::deque<THealthEntry>& History() const { return FHistory; }
    const THealthEntry* Last() const { return FHistory.empty() ? nullptr : &FHistory.back(); }
    // Where consecutive permanent redirects point, and on how many updates
    // in a row; "" and 0 when the last update was not redirected.
    const std::string& MovedTo() const { return FMovedTo; }
    int MovedCount() const { return FMovedCount; }
    // The move, once confirmed by the policy; "" before, and for a move the
    // user undid.
    std::string ConfirmedMove(const THealthPolicy& policy = {}) const;
    // The first failure of the current run of failures.
    std::optional<TTimePoint> FailingSince() const { return FFailingSince; }
    std::optional<TTimePoint> LastNewItem() const { return FLastNewItem; }

    // The address was changed from `from` to `to` to follow a move: the old
    // one is kept so that the change can be undone.
    void NoteAddressChanged(const std::string& from, const std::string& to);
    const std::string& ChangedFrom() const { return FChangedFrom; }
    const std::string& ChangedTo() const { return FChangedTo; }
    // The change is undone: the move it followed is never taken again.
    void NoteAddressRestored();
    // The change is accepted: nothing is left to undo.
    void AcceptAddressChange() {
        FChangedFrom.clear();
        FChangedTo.clear();
    }
    // The user acted (retry, edit, a new address): what the failures said
    // is set aside until the next results.
    void Reset();
    // The user keeps a silent feed: its silence counts from now.
    void Keep(TTimePoint now) { FKeptAt = now; }

    // What the feed and its server last asked of the next fetch (ttl,
    // skips, freshness, Retry-After), merged answer by answer as the
    // polling thread does, and when the feed was last fetched: kept so
    // that a restart neither forgets a Retry-After nor fetches every feed
    // at once. A changed address drops the old server's word.
    void NoteAnswer(const TAnswerHints& answer, TTimePoint at);
    const TAnswerHints& Asked() const { return FAsked; }
    std::optional<TTimePoint> LastFetch() const { return FLastFetch; }

    // For health.json.
    std::string ToJson() const;
    static TFeedHealth FromJson(std::string_view text);

private:
    friend class THealthBook;
    // One feed's part of the book, as parsed.
    static TFeedHealth FromValue(const nlohmann::json& value);
    std::deque<THealthEntry> FHistory;
    std::optional<TTimePoint> FFirstSeen;
    std::optional<TTimePoint> FLastNewItem;
    std::optional<TTimePoint> FFailingSince;
    std::optional<TTimePoint> FKindSince;  // the last kind has held since then
    std::optional<TTimePoint> FKeptAt;
    std::string FMovedTo;
    int FMovedCount = 0;
    std::string FChangedFrom;
    std::string FChangedTo;
    std::string FUndoneMove;
    TAnswerHints FAsked;
    std::optional<TTimePoint> FLastFetch;
};

// Every feed's health by feed id; thread-safe.
class THealthBook {
public:
    void Record(const std::string& id, const TFetchOutcome& outcome);
    // A copy of a feed's health; an empty one for a feed never recorded.
    TFeedHealth Get(const std::string& id) const;
    // Changes a feed's health under the book's lock.
    void Change(const std::string& id, const std::function<void(TFeedHealth&)>& change);
    void Forget(const std::string& id);
    std::map<std::string, TFeedHealth> All() const;
    // The feeds that need attention now, by id, judged under the book's
    // lock without copying anyone's history.
    std::map<std::string, TAttention> NeedingAttention(TTimePoint now, const THealthPolicy& policy) const;
    // Counts changes, for the window's view to notice.
    unsigned long Changes() const;

    // health.json: a missing file starts afresh. A damaged one (not JSON,
    // not a book, nested deeper than a book is) is renamed aside
    // ("health.json.damaged-<UTC time>") and what of it could be read is
    // kept; the result says what was wrong and where the file went.
    struct TLoadResult {
        std::string Damage;        // "" for a sound or missing file
        std::string SetAsidePath;  // "" when not moved aside
    };
    TLoadResult Load(const std::string& path);
    // Atomically; raises std::runtime_error naming the file.
    void Save(const std::string& path);
    // Saves when something changed and the last save is `every` ago; false
    // when the save failed (it is tried again next time).
    bool SaveIfDue(const std::string& path, std::chrono::steady_clock::duration every);

private:
    mutable std::mutex FMutex;
    std::map<std::string, TFeedHealth> FFeeds;
    unsigned long FChanges = 0;
    unsigned long FSavedChanges = 0;
    std::chrono::steady_clock::time_point FLastSave{};
};

// "Gone", "NotFound" ... as health.json writes a kind.
std::string_view KindName(TOutcomeKind kind);
std::optional<TOutcomeKind> KindFromName(std::string_view name);

}  // namespace schedule

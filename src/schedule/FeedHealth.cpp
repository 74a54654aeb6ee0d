#include "FeedHealth.h"

#include "AtomicFile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace schedule {

namespace {

using nlohmann::json;

constexpr std::array<std::pair<TOutcomeKind, std::string_view>, 15> kKindNames = {{
    {TOutcomeKind::Updated, "Updated"},
    {TOutcomeKind::NotModified, "NotModified"},
    {TOutcomeKind::Moved, "Moved"},
    {TOutcomeKind::Gone, "Gone"},
    {TOutcomeKind::NotFound, "NotFound"},
    {TOutcomeKind::Refused, "Refused"},
    {TOutcomeKind::BotProtection, "BotProtection"},
    {TOutcomeKind::NotAFeed, "NotAFeed"},
    {TOutcomeKind::HostNotFound, "HostNotFound"},
    {TOutcomeKind::Unreachable, "Unreachable"},
    {TOutcomeKind::TlsInvalid, "TlsInvalid"},
    {TOutcomeKind::TimedOut, "TimedOut"},
    {TOutcomeKind::ServerError, "ServerError"},
    {TOutcomeKind::RateLimited, "RateLimited"},
    {TOutcomeKind::OtherFailure, "OtherFailure"},
}};

// Times are kept as milliseconds since the epoch.
json TimeValue(const std::optional<TTimePoint>& at) {
    if (!at) return nullptr;
    return std::chrono::duration_cast<std::chrono::milliseconds>(at->time_since_epoch()).count();
}

// An integer of the file, when it is one that fits: a number past the
// range of long long would come back wrapped.
std::optional<long long> ReadInteger(const json& value) {
    if (value.is_number_unsigned())
        return value.get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<long long>::max())
                   ? std::optional<long long>(static_cast<long long>(value.get<std::uint64_t>()))
                   : std::nullopt;
    return value.is_number_integer() ? std::optional<long long>(value.get<long long>()) : std::nullopt;
}

std::optional<long long> ReadInteger(const json& object, const char* name) {
    const auto found = object.find(name);
    return found == object.end() ? std::nullopt : ReadInteger(*found);
}

// Times from 1970 to about 2200: the clock counts nanoseconds, which a time
// much later overflows, and hours and days are still added to it.
std::optional<TTimePoint> ReadTime(const json& object, const char* name) {
    constexpr long long kLatest = 7'258'118'400'000;  // 2200-01-01
    const std::optional<long long> ms = ReadInteger(object, name);
    if (!ms || *ms < 0 || *ms > kLatest) return std::nullopt;
    return TTimePoint(std::chrono::duration_cast<TClock::duration>(std::chrono::milliseconds(*ms)));
}

std::string ReadText(const json& object, const char* name) {
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

json ToJsonValue(const TFeedHealth& health);

}  // namespace

std::string_view KindName(TOutcomeKind kind) {
    for (const auto& [k, name] : kKindNames)
        if (k == kind) return name;
    return "OtherFailure";
}

std::optional<TOutcomeKind> KindFromName(std::string_view name) {
    for (const auto& [k, n] : kKindNames)
        if (n == name) return k;
    return std::nullopt;
}

void TFeedHealth::Record(const TFetchOutcome& outcome) {
    if (!FFirstSeen) FFirstSeen = outcome.At;
    if (FHistory.empty() || FHistory.back().Kind != outcome.Kind || !FKindSince) FKindSince = outcome.At;
    FHistory.push_back({outcome.At, outcome.Kind, outcome.Status, outcome.ServerStatus, outcome.MovedTo});
    while (FHistory.size() > kHistorySize) FHistory.pop_front();
    if (outcome.HadNewItem) FLastNewItem = outcome.At;
    if (!FLastFetch || outcome.At > *FLastFetch) FLastFetch = outcome.At;
    if (!IsFailure(outcome.Kind))
        FFailingSince.reset();
    else if (!FFailingSince)
        FFailingSince = outcome.At;
    if (outcome.MovedTo.empty()) {
        FMovedTo.clear();
        FMovedCount = 0;
    } else if (outcome.MovedTo == FMovedTo) {
        ++FMovedCount;
    } else {
        FMovedTo = outcome.MovedTo;
        FMovedCount = 1;
    }
}

std::string TFeedHealth::ConfirmedMove(const THealthPolicy& policy) const {
    if (FMovedCount < policy.MovedAfter || FMovedTo == FUndoneMove) return {};
    return FMovedTo;
}

TAttention TFeedHealth::Attention(TTimePoint now, const THealthPolicy& policy) const {
    if (!FChangedFrom.empty()) return TAttention::AddressChanged;
    if (!ConfirmedMove(policy).empty()) return TAttention::Moved;
    const THealthEntry* last = Last();
    if (!last) return TAttention::None;
    if (IsFailure(last->Kind)) {
        switch (last->Kind) {
            case TOutcomeKind::Gone:
                return TAttention::Gone;
            case TOutcomeKind::Refused:
                return TAttention::Refused;
            case TOutcomeKind::BotProtection:
                return TAttention::BotProtection;
            case TOutcomeKind::NotAFeed:
                return TAttention::NotAFeed;
            case TOutcomeKind::NotFound:
                // A page taken down for a day is common; a week is not.
                return FKindSince && now - *FKindSince >= policy.NotFoundAfter ? TAttention::NotFound
                                                                               : TAttention::None;
            default:
                return FFailingSince && now - *FFailingSince >= policy.FailingAfter ? TAttention::Failing
                                                                                    : TAttention::None;
        }
    }
    // Silence counts from the last new item, or from when the feed was
    // first seen or last kept, whichever is latest.
    std::optional<TTimePoint> since = FLastNewItem;
    for (const auto& other : {FFirstSeen, FKeptAt})
        if (other && (!since || *other > *since)) since = other;
    if (since && now - *since >= policy.SilentAfter) return TAttention::Silent;
    return TAttention::None;
}

void TFeedHealth::NoteAnswer(const TAnswerHints& answer, TTimePoint at) {
    FAsked.Merge(answer);
    if (!FLastFetch || at > *FLastFetch) FLastFetch = at;
}

void TFeedHealth::NoteAddressChanged(const std::string& from, const std::string& to) {
    FAsked = {};
    FChangedFrom = from;
    FChangedTo = to;
    FMovedTo.clear();
    FMovedCount = 0;
    FFailingSince.reset();
    FHistory.clear();
}

void TFeedHealth::NoteAddressRestored() {
    FUndoneMove = FChangedTo;
    FAsked = {};
    FChangedFrom.clear();
    FChangedTo.clear();
    FMovedTo.clear();
    FMovedCount = 0;
    FHistory.clear();
    FFailingSince.reset();
}

void TFeedHealth::Reset() {
    FHistory.clear();
    FFailingSince.reset();
    FKindSince.reset();
    FMovedTo.clear();
    FMovedCount = 0;
}

namespace {

json FlagList(const bool* flags, int count) {
    json list = json::array();
    for (int i = 0; i < count; ++i)
        if (flags[i]) list.push_back(i);
    return list;
}

template <std::size_t N>
void ReadFlags(const json& object, const char* name, std::array<bool, N>& flags) {
    const auto found = object.find(name);
    if (found == object.end() || !found->is_array()) return;
    for (const json& index : *found)
        if (const std::optional<long long> i = ReadInteger(index); i && *i >= 0 && *i < static_cast<long long>(N))
            flags[static_cast<std::size_t>(*i)] = true;
}

// What was asked of the next fetch; null when nothing was.
json AskedValue(const TAnswerHints& asked) {
    if (asked == TAnswerHints{}) return nullptr;
    json value = {{"hadFeed", asked.HadFeed},
                  {"freshUntil", TimeValue(asked.FreshUntil)},
                  {"retryAfter", TimeValue(asked.RetryAfter)},
                  {"skipHours", FlagList(asked.Skip.Hours.data(), 24)},
                  {"skipDays", FlagList(asked.Skip.Days.data(), 7)}};
    value["ttl"] = asked.Ttl ? json(asked.Ttl->count()) : json(nullptr);
    return value;
}

TAnswerHints ReadAsked(const json& object) {
    TAnswerHints asked;
    const auto found = object.find("asked");
    if (found == object.end() || !found->is_object()) return asked;
    const json& value = *found;
    if (const auto had = value.find("hadFeed"); had != value.end() && had->is_boolean())
        asked.HadFeed = had->get<bool>();
    // A ttl is seconds; nonsense is dropped rather than trusted.
    if (const std::optional<long long> ttl = ReadInteger(value, "ttl"); ttl && *ttl > 0)
        asked.Ttl = seconds(std::min<long long>(*ttl, 366LL * 24 * 3600));
    asked.FreshUntil = ReadTime(value, "freshUntil");
    asked.RetryAfter = ReadTime(value, "retryAfter");
    ReadFlags(value, "skipHours", asked.Skip.Hours);
    ReadFlags(value, "skipDays", asked.Skip.Days);
    return asked;
}

json ToJsonValue(const TFeedHealth& health) {
    json history = json::array();
    for (const THealthEntry& entry : health.History())
        history.push_back({{"at", TimeValue(entry.At)},
                           {"kind", KindName(entry.Kind)},
                           {"status", entry.Status},
                           {"server", entry.ServerStatus},
                           {"movedTo", entry.MovedTo}});
    return history;
}

}  // namespace

std::string TFeedHealth::ToJson() const {
    json value = {{"firstSeen", TimeValue(FFirstSeen)},
                  {"lastNewItem", TimeValue(FLastNewItem)},
                  {"failingSince", TimeValue(FFailingSince)},
                  {"kindSince", TimeValue(FKindSince)},
                  {"keptAt", TimeValue(FKeptAt)},
                  {"movedTo", FMovedTo},
                  {"movedCount", FMovedCount},
                  {"changedFrom", FChangedFrom},
                  {"changedTo", FChangedTo},
                  {"undoneMove", FUndoneMove},
                  {"history", ToJsonValue(*this)}};
    // Fields an older version does not know are passed by when it reads.
    value["lastFetch"] = TimeValue(FLastFetch);
    value["asked"] = AskedValue(FAsked);
    // Text from servers may be anything: invalid UTF-8 is replaced, not fatal.
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

namespace {

// The deepest a value of health.json lies: the book, its feeds, a feed,
// its history, an entry, a field; one level more is spare. A container
// opened deeper is dropped whole while the file is read, never built and
// never walked.
constexpr int kMaxDepth = 6;

// A file of health.json (or one feed's part of it) read without recursion,
// however deep it nests; `tooDeep` tells whether something was dropped.
json ParseBounded(std::string_view text, bool& tooDeep) {
    tooDeep = false;
    const json::parser_callback_t bound = [&tooDeep](int depth, json::parse_event_t event, json&) {
        const bool opens = event == json::parse_event_t::object_start || event == json::parse_event_t::array_start;
        if (opens && depth >= kMaxDepth) {
            tooDeep = true;
            return false;
        }
        return true;
    };
    return json::parse(text, bound, false);
}

}  // namespace

TFeedHealth TFeedHealth::FromJson(std::string_view text) {
    bool tooDeep = false;
    return FromValue(ParseBounded(text, tooDeep));
}

TFeedHealth TFeedHealth::FromValue(const json& value) {
    TFeedHealth health;
    if (!value.is_object()) return health;
    health.FFirstSeen = ReadTime(value, "firstSeen");
    health.FLastNewItem = ReadTime(value, "lastNewItem");
    health.FFailingSince = ReadTime(value, "failingSince");
    health.FKindSince = ReadTime(value, "kindSince");
    health.FKeptAt = ReadTime(value, "keptAt");
    health.FMovedTo = ReadText(value, "movedTo");
    if (const std::optional<long long> count = ReadInteger(value, "movedCount"))
        health.FMovedCount = static_cast<int>(std::clamp(*count, 0LL, 1000LL));
    health.FChangedFrom = ReadText(value, "changedFrom");
    health.FChangedTo = ReadText(value, "changedTo");
    health.FUndoneMove = ReadText(value, "undoneMove");
    health.FLastFetch = ReadTime(value, "lastFetch");
    health.FAsked = ReadAsked(value);
    if (const auto history = value.find("history"); history != value.end() && history->is_array()) {
        for (const json& item : *history) {
            if (!item.is_object()) continue;
            const std::optional<TOutcomeKind> kind = KindFromName(ReadText(item, "kind"));
            const std::optional<TTimePoint> at = ReadTime(item, "at");
            if (!kind || !at) continue;
            THealthEntry entry{*at, *kind, 0, ReadText(item, "server"), ReadText(item, "movedTo")};
            if (const std::optional<long long> status = ReadInteger(item, "status");
                status && *status >= 0 && *status < 1000)
                entry.Status = static_cast<int>(*status);
            health.FHistory.push_back(std::move(entry));
            if (health.FHistory.size() > kHistorySize) health.FHistory.pop_front();
        }
    }
    // A book from before fetches were kept: the last result says when.
    if (!health.FLastFetch && !health.FHistory.empty()) health.FLastFetch = health.FHistory.back().At;
    return health;
}

void THealthBook::Record(const std::string& id, const TFetchOutcome& outcome) {
    std::lock_guard lock(FMutex);
    FFeeds[id].Record(outcome);
    ++FChanges;
}

TFeedHealth THealthBook::Get(const std::string& id) const {
    std::lock_guard lock(FMutex);
    const auto found = FFeeds.find(id);
    return found == FFeeds.end() ? TFeedHealth() : found->second;
}

void THealthBook::Change(const std::string& id, const std::function<void(TFeedHealth&)>& change) {
    std::lock_guard lock(FMutex);
    change(FFeeds[id]);
    ++FChanges;
}

void THealthBook::Forget(const std::string& id) {
    std::lock_guard lock(FMutex);
    if (FFeeds.erase(id) > 0) ++FChanges;
}

std::map<std::string, TFeedHealth> THealthBook::All() const {
    std::lock_guard lock(FMutex);
    return FFeeds;
}

std::map<std::string, TAttention> THealthBook::NeedingAttention(TTimePoint now, const THealthPolicy& policy) const {
    std::lock_guard lock(FMutex);
    std::map<std::string, TAttention> needing;
    for (const auto& [id, health] : FFeeds)
        if (const TAttention attention = health.Attention(now, policy); attention != TAttention::None)
            needing.emplace(id, attention);
    return needing;
}

unsigned long THealthBook::Changes() const {
    std::lock_guard lock(FMutex);
    return FChanges;
}

THealthBook::TLoadResult THealthBook::Load(const std::string& path) {
    TLoadResult result;
    std::map<std::string, TFeedHealth> feeds;
    std::ifstream in(path, std::ios::binary);
    if (in) {
        std::stringstream text;
        text << in.rdbuf();
        in.close();
        bool tooDeep = false;
        const json value = ParseBounded(text.str(), tooDeep);
        const auto list = value.is_object() ? value.find("feeds") : value.end();
        if (value.is_discarded())
            result.Damage = "it is not JSON";
        else if (list == value.end() || !list->is_object())
            result.Damage = "it holds no feeds";
        else if (tooDeep)
            result.Damage = "it nests deeper than a book can";  // what lies within bounds is kept
        if (list != value.end() && list->is_object())
            for (const auto& [id, health] : list->items()) feeds[id] = TFeedHealth::FromValue(health);
    }
    // Kept for inspection, and out of the way: the next save writes what
    // could be read, and the next start never meets the damage again.
    if (!result.Damage.empty()) {
        try {
            result.SetAsidePath = plat::SetAsideDamaged(path);
        } catch (const std::exception& error) {
            result.Damage += "; it cannot be moved aside: " + std::string(error.what());
        }
    }
    std::lock_guard lock(FMutex);
    FFeeds = std::move(feeds);
    FSavedChanges = FChanges;
    return result;
}

void THealthBook::Save(const std::string& path) {
    std::string text;
    unsigned long changes = 0;
    {
        std::lock_guard lock(FMutex);
        json feeds = json::object();
        for (const auto& [id, health] : FFeeds) feeds[id] = json::parse(health.ToJson());
        text = json({{"version", 1}, {"feeds", std::move(feeds)}}).dump(1, '\t', false, json::error_handler_t::replace);
        text += '\n';
        changes = FChanges;
    }
    plat::TAtomicFile file(path);
    file.Write(text);
    file.Commit();
    std::lock_guard lock(FMutex);
    FSavedChanges = changes;
    FLastSave = std::chrono::steady_clock::now();
}

bool THealthBook::SaveIfDue(const std::string& path, std::chrono::steady_clock::duration every) {
    {
        std::lock_guard lock(FMutex);
        if (FChanges == FSavedChanges || std::chrono::steady_clock::now() - FLastSave < every) return true;
    }
    try {
        Save(path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace schedule

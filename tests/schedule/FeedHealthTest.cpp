// A feed's health decided from its history, on a fake clock.
#include "FeedHealth.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using schedule::TAttention;
using schedule::TOutcomeKind;
using namespace std::chrono_literals;

namespace {

const schedule::TTimePoint kStart = schedule::TClock::from_time_t(1'800'000'000);
constexpr auto kDay = 24h;

struct TStep {
    std::chrono::hours at;
    TOutcomeKind kind;
    bool newItem = false;
};

schedule::TFetchOutcome Outcome(const TStep& step) {
    schedule::TFetchOutcome outcome;
    outcome.Kind = step.kind;
    outcome.At = kStart + step.at;
    outcome.HadNewItem = step.newItem;
    outcome.ServerStatus = std::string(schedule::KindName(step.kind));
    return outcome;
}

TEST(FeedHealth, AttentionFollowsTheCauseAndHowLongItLasted) {
    const struct {
        const char* name;
        std::vector<TStep> steps;
        std::chrono::hours now;
        TAttention expected;
    } cases[] = {
        {"never fetched", {}, 0h, TAttention::None},
        {"gone at once", {{0h, TOutcomeKind::Gone}}, 0h, TAttention::Gone},
        {"refused at once", {{0h, TOutcomeKind::Refused}}, 0h, TAttention::Refused},
        {"bot protection", {{0h, TOutcomeKind::BotProtection}}, 0h, TAttention::BotProtection},
        {"a page now", {{0h, TOutcomeKind::NotAFeed}}, 0h, TAttention::NotAFeed},
        {"not found for six days",
         {{0h, TOutcomeKind::NotFound}, {144h, TOutcomeKind::NotFound}},
         144h,
         TAttention::None},
        {"not found for a week",
         {{0h, TOutcomeKind::NotFound}, {169h, TOutcomeKind::NotFound}},
         169h,
         TAttention::NotFound},
        {"not found again after a success",
         {{0h, TOutcomeKind::NotFound}, {100h, TOutcomeKind::Updated}, {101h, TOutcomeKind::NotFound}},
         200h,
         TAttention::None},
        {"host not found for hours",
         {{0h, TOutcomeKind::HostNotFound}, {5h, TOutcomeKind::HostNotFound}},
         5h,
         TAttention::None},
        {"failing for a day, causes mixed",
         {{0h, TOutcomeKind::HostNotFound}, {12h, TOutcomeKind::TimedOut}, {25h, TOutcomeKind::TlsInvalid}},
         25h,
         TAttention::Failing},
        {"recovered", {{0h, TOutcomeKind::TimedOut}, {30h, TOutcomeKind::NotModified}}, 30h, TAttention::None},
        {"silent for half a year",
         {{0h, TOutcomeKind::Updated, true}, {4000h, TOutcomeKind::Updated}, {4400h, TOutcomeKind::NotModified}},
         4400h,
         TAttention::Silent},
        {"a new item lately",
         {{0h, TOutcomeKind::Updated, true}, {4000h, TOutcomeKind::Updated, true}, {4400h, TOutcomeKind::Updated}},
         4400h,
         TAttention::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        schedule::TFeedHealth health;
        for (const TStep& step : c.steps) health.Record(Outcome(step));
        EXPECT_EQ(health.Attention(kStart + c.now), c.expected);
        // What health.json keeps decides the same.
        const schedule::TFeedHealth read = schedule::TFeedHealth::FromJson(health.ToJson());
        EXPECT_EQ(read.Attention(kStart + c.now), c.expected);
        EXPECT_EQ(read.History(), health.History());
    }
}

TEST(FeedHealth, SilenceIsAnOptionAndKeepingRestartsIt) {
    schedule::TFeedHealth health;
    health.Record(Outcome({0h, TOutcomeKind::Updated, true}));
    health.Record(Outcome({50 * kDay, TOutcomeKind::Updated}));
    schedule::THealthPolicy shorter;
    shorter.SilentAfter = 30 * kDay;
    EXPECT_EQ(health.Attention(kStart + 50 * kDay), TAttention::None);
    EXPECT_EQ(health.Attention(kStart + 50 * kDay, shorter), TAttention::Silent);
    health.Keep(kStart + 50 * kDay);
    EXPECT_EQ(health.Attention(kStart + 60 * kDay, shorter), TAttention::None);
    EXPECT_EQ(health.Attention(kStart + 81 * kDay, shorter), TAttention::Silent);
}

TEST(FeedHealth, AChangedAddressCanBeUndoneAndItsMoveIsNotTakenAgain) {
    schedule::TFeedHealth health;
    auto moved = [&](std::chrono::hours at) {
        schedule::TFetchOutcome outcome = Outcome({at, TOutcomeKind::Moved});
        outcome.MovedTo = "http://new.example/feed";
        health.Record(outcome);
    };
    for (auto at : {0h, 1h, 2h}) moved(at);
    EXPECT_EQ(health.Attention(kStart + 2h), TAttention::Moved);
    health.NoteAddressChanged("http://old.example/feed", health.ConfirmedMove());
    EXPECT_EQ(health.Attention(kStart + 3h), TAttention::AddressChanged);
    EXPECT_EQ(health.ChangedFrom(), "http://old.example/feed");
    health.NoteAddressRestored();
    for (auto at : {3h, 4h, 5h, 6h}) moved(at);
    EXPECT_EQ(health.ConfirmedMove(), "");
    EXPECT_EQ(health.Attention(kStart + 6h), TAttention::None);
}

TEST(HealthBook, SurvivesARestartAndADamagedFile) {
    testsupport::TempFolder folder;
    const std::string path = folder.File("health.json");
    schedule::THealthBook book;
    book.Record("7", Outcome({0h, TOutcomeKind::Gone}));
    book.Record("9", Outcome({0h, TOutcomeKind::Updated, true}));
    book.Change("9", [](schedule::TFeedHealth& health) { health.Keep(kStart + 1h); });
    book.Save(path);

    schedule::THealthBook restarted;
    restarted.Load(path);
    EXPECT_EQ(restarted.Get("7").Attention(kStart), TAttention::Gone);
    EXPECT_EQ(restarted.Get("9").Attention(kStart + 180 * kDay), TAttention::None);
    EXPECT_EQ(restarted.All().size(), 2u);
    restarted.Forget("7");
    EXPECT_EQ(restarted.Get("7").Last(), nullptr);

    std::ofstream(path, std::ios::trunc) << "{\"feeds\": {\"7\": [1, 2]";
    schedule::THealthBook damaged;
    damaged.Load(path);
    EXPECT_TRUE(damaged.All().empty());
}

}  // namespace

namespace {

TEST(HealthBook, WhatTheFeedAndItsServerAskedForSurvivesARestart) {
    schedule::TAnswerHints ttl;  // a feed with a ttl, no polling on Sundays at 1 am
    ttl.HadFeed = true;
    ttl.Ttl = 2h;
    ttl.Skip.Hours[1] = ttl.Skip.Days[6] = true;
    schedule::TAnswerHints refused;  // a 503 with Retry-After: the feed's word stands
    refused.RetryAfter = kStart + 5h;
    schedule::TAnswerHints bare;  // a later feed without a word
    bare.HadFeed = true;
    schedule::TAnswerHints ttlRefused = ttl;
    ttlRefused.RetryAfter = refused.RetryAfter;
    struct Case {
        const char* name;
        std::vector<schedule::TAnswerHints> answers;
        schedule::TAnswerHints kept;
    };
    const std::vector<Case> cases = {
        {"a failure keeps the feed's word", {ttl, refused}, ttlRefused},
        {"Retry-After is one answer's own", {ttl, refused, schedule::TAnswerHints{}}, ttl},
        {"a later feed replaces the word", {ttl, refused, bare}, bare},
    };
    testsupport::TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        schedule::THealthBook book;
        auto at = kStart;
        for (const schedule::TAnswerHints& answer : c.answers)
            book.Change("5", [&](schedule::TFeedHealth& health) { health.NoteAnswer(answer, at += 1h); });
        book.Save(folder.File("health.json"));
        schedule::THealthBook restarted;
        restarted.Load(folder.File("health.json"));
        EXPECT_EQ(restarted.Get("5").Asked(), c.kept);
        EXPECT_EQ(restarted.Get("5").LastFetch(), at);
    }
    // A book from before loads, its last result as its last fetch; a new
    // address drops the old server's word.
    schedule::THealthBook before;
    before.Load(std::string(HEALTH_TEST_DATA) + "/book_before_asked.json");
    schedule::TFeedHealth health = before.Get("3");
    EXPECT_EQ(health.History().size(), 2u);
    EXPECT_EQ(health.LastFetch(), kStart);
    health.NoteAnswer(ttl, kStart + 1h);
    health.NoteAddressChanged("http://old.example/", "http://new.example/");
    EXPECT_EQ(health.Asked(), schedule::TAnswerHints{});
}

}  // namespace

namespace {

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fixture book copied to `path`, each "NESTING" in it made a million
// levels of arrays; returns the text written.
std::string StageBook(const std::string& fixture, const std::string& path) {
    static const std::string nesting = std::string(1'000'000, '[') + std::string(1'000'000, ']');
    std::string text = ReadWhole(std::string(HEALTH_TEST_DATA) + "/" + fixture);
    for (std::size_t at; (at = text.find("\"NESTING\"")) != std::string::npos;) text.replace(at, 9, nesting);
    std::ofstream(path, std::ios::binary) << text;
    return text;
}

// Books no version of Quillet wrote: a damaged one is moved aside once and
// what could be read is kept; one entry nested a million levels deep (which
// re-serialising once overflowed the stack at every start) costs only its
// excess; numbers past every range are dropped, never wrapped.
TEST(HealthBook, ADamagedBookIsSetAsideAndWhatCanBeReadIsKept) {
    struct Case {
        const char* fixture;
        const char* damage;  // how Load's damage starts; "" for none
        std::vector<std::string> kept;
    };
    const std::vector<Case> cases = {
        {"book_deep_entry.json", "it nests deeper", {"3", "4"}},
        {"book_cut_short.json", "it is not JSON", {}},
        {"book_not_a_book.json", "it holds no feeds", {}},
        {"book_numbers_out_of_range.json", "", {"5"}},
        {"book_before_asked.json", "", {"3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        testsupport::TempFolder folder;
        const std::string path = folder.File("health.json");
        const std::string text = StageBook(c.fixture, path);

        schedule::THealthBook book;
        const schedule::THealthBook::TLoadResult loaded = book.Load(path);
        EXPECT_EQ(loaded.Damage.rfind(c.damage, 0), 0u) << loaded.Damage;
        std::vector<std::string> kept;
        for (const auto& [id, health] : book.All()) kept.push_back(id);
        EXPECT_EQ(kept, c.kept);
        if (*c.damage == '\0') {
            EXPECT_EQ(loaded.SetAsidePath, "");
            EXPECT_TRUE(std::filesystem::exists(path));
            continue;
        }
        EXPECT_EQ(loaded.SetAsidePath.rfind(path + ".damaged-", 0), 0u) << loaded.SetAsidePath;
        EXPECT_EQ(ReadWhole(loaded.SetAsidePath), text) << "the damaged file is kept as it was";
        EXPECT_FALSE(std::filesystem::exists(path));
        book.Save(path);
        schedule::THealthBook restarted;
        EXPECT_EQ(restarted.Load(path).Damage, "");
        EXPECT_EQ(restarted.All().size(), c.kept.size());
    }

    // What was within bounds of the deep book is all there.
    testsupport::TempFolder folder;
    schedule::THealthBook book;
    StageBook("book_deep_entry.json", folder.File("deep.json"));
    book.Load(folder.File("deep.json"));
    EXPECT_EQ(book.Get("3").Attention(kStart), TAttention::Gone);
    EXPECT_EQ(book.Get("4").History().size(), 1u);
    EXPECT_TRUE(book.Get("4").Asked().HadFeed);

    // Numbers past their range: the field is dropped, the rest stands.
    StageBook("book_numbers_out_of_range.json", folder.File("numbers.json"));
    book.Load(folder.File("numbers.json"));
    const schedule::TFeedHealth odd = book.Get("5");
    EXPECT_EQ(odd.LastNewItem(), std::nullopt);
    EXPECT_EQ(odd.FailingSince(), std::nullopt);
    ASSERT_EQ(odd.History().size(), 2u);
    EXPECT_EQ(odd.History()[0].Status, 0);
    EXPECT_EQ(odd.History()[1].Status, 0);
    EXPECT_EQ(odd.Asked().Ttl, std::nullopt);
    EXPECT_EQ(odd.Asked().RetryAfter, std::nullopt);
    EXPECT_TRUE(odd.Asked().Skip.Hours[3]);
    EXPECT_EQ(std::count(odd.Asked().Skip.Hours.begin(), odd.Asked().Skip.Hours.end(), true), 1);
}

}  // namespace

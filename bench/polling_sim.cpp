// One-after-another polling against automatic polling, on real posting
// histories (bench/data/posting_histories.tsv), over simulated weeks.
//
// Each history keeps its rhythm but is moved onto the simulated window: its
// gaps repeat (the history tiled, one typical gap between the copies, at
// least a day from copy to copy) from a random phase of its own, the same
// for both schedules and whatever collection the history is simulated in.
// Both schedules fetch one feed at a time, each fetch taking kFetchTime, on
// a simulated clock; the automatic one is the real TScheduler with the real
// LearnedGap, TPollBudget and NextDue, learning from the first-seen
// times it records itself, as the item store does. A post counts once the
// warm-up is over; its delay runs from its publication to the fetch that
// first shows it.
//
// The comparison is run for several collections (all histories, the feeds,
// the package histories, and every other history: two halves neither of
// which the rules were made on alone), each simulated on its own as a
// user's whole collection, and at several pauses of the options.
//
//   polling_sim [--pauses 30,60,120,300] [--weeks N] [--data FILE]
#include "PollBudget.h"
#include "Rhythm.h"
#include "Scheduler.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono;
using schedule::TTimePoint;

constexpr seconds kFetchTime{1};
constexpr hours kWarmUp{24 * 14};
// How many first-seen times the learner gets, as the store's query gives.
constexpr std::size_t kFirstSeenKept = 25;

struct THistory {
    std::string Label;
    std::string Kind;
    std::string Host;
    std::vector<long long> Dates;  // unix seconds, ascending
};

std::vector<THistory> Load(const std::string& path) {
    std::ifstream file(path);
    std::vector<THistory> histories;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        THistory h;
        std::getline(fields, h.Label, '\t');
        std::getline(fields, h.Kind, '\t');
        for (long long d; fields >> d;) h.Dates.push_back(d);
        // Feeds are named after their site; the package histories all come
        // from one host, as they would from a distribution's tracker.
        h.Host = h.Kind == "feed" ? h.Label.substr(h.Label.find('/') + 1) : "tracker.example";
        if (h.Dates.size() >= 3) histories.push_back(std::move(h));
    }
    return histories;
}

// The history's posts moved onto [from, to): tiled with its own typical
// gap between the copies, from a random phase.
std::vector<TTimePoint> Replay(const THistory& h, TTimePoint from, TTimePoint to) {
    // The phase depends on the history alone (FNV-1a of its label), so a
    // feed replays alike in every collection it is simulated in.
    std::uint64_t seed = 1469598103934665603ULL;
    for (const unsigned char c : h.Label) seed = (seed ^ c) * 1099511628211ULL;
    std::mt19937_64 random(seed ^ 20261207ULL);
    std::vector<long long> gaps;
    for (std::size_t i = 1; i < h.Dates.size(); ++i) gaps.push_back(h.Dates[i] - h.Dates[i - 1]);
    std::nth_element(gaps.begin(), gaps.begin() + static_cast<long>(gaps.size() / 2), gaps.end());
    // A history shorter than a day is taken as one day's posts.
    const long long period =
        std::max(86400LL, h.Dates.back() - h.Dates.front() + std::max(3600LL, gaps[gaps.size() / 2]));
    const long long phase = std::uniform_int_distribution<long long>(0, period - 1)(random);
    std::vector<TTimePoint> posts;
    const long long span = duration_cast<seconds>(to - from).count();
    for (long long copy = -1; copy * period < span + period; ++copy) {
        for (long long d : h.Dates) {
            const long long at = (d - h.Dates.front()) + copy * period - phase;
            if (at >= -period && at < span) posts.push_back(from + seconds(at));
        }
    }
    std::sort(posts.begin(), posts.end());
    return posts;
}

struct TFeed {
    const THistory* History = nullptr;
    std::vector<TTimePoint> Posts;
    std::size_t Shown = 0;  // posts before this index have been seen
    std::deque<TTimePoint> FirstSeen;
};

struct TResult {
    double RequestsPerDay = 0;
    double MedianMinutes = 0;
    double P95Minutes = 0;
    std::size_t Posts = 0;
};

// One fetch of `feed` at `now`: the posts published since the last fetch
// are notified now. Returns how many were new.
std::size_t Fetch(TFeed& feed, TTimePoint now, TTimePoint measureFrom, TTimePoint measureTo,
                  std::vector<double>& delays) {
    std::size_t count = 0;
    while (feed.Shown < feed.Posts.size() && feed.Posts[feed.Shown] <= now) {
        const TTimePoint posted = feed.Posts[feed.Shown++];
        if (posted >= measureFrom && posted < measureTo)
            delays.push_back(duration<double>(now - posted).count() / 60.0);
        feed.FirstSeen.push_back(now);
        ++count;
    }
    while (feed.FirstSeen.size() > kFirstSeenKept) feed.FirstSeen.pop_front();
    return count;
}

TResult Summarise(std::vector<double> delays, std::size_t requests, double days) {
    TResult r;
    r.RequestsPerDay = static_cast<double>(requests) / days;
    r.Posts = delays.size();
    if (delays.empty()) return r;
    std::sort(delays.begin(), delays.end());
    r.MedianMinutes = delays[delays.size() / 2];
    r.P95Minutes = delays[std::min(delays.size() - 1, delays.size() * 95 / 100)];
    return r;
}

// Posts that come near the end are still waited for: the run goes on for
// a day after the window, without counting requests.
constexpr hours kDrain{24};

TResult RunRound(std::vector<TFeed> feeds, TTimePoint start, TTimePoint measureFrom, TTimePoint measureTo,
                 seconds pause) {
    std::vector<double> delays;
    std::size_t requests = 0;
    TTimePoint now = start;
    for (std::size_t i = 0; now < measureTo + kDrain; i = (i + 1) % feeds.size()) {
        Fetch(feeds[i], now, measureFrom, measureTo, delays);
        if (now >= measureFrom && now < measureTo) ++requests;
        now += kFetchTime + pause;
    }
    return Summarise(delays, requests, duration<double>(measureTo - measureFrom).count() / 86400.0);
}

TResult RunAutomatic(std::vector<TFeed> feeds, TTimePoint start, TTimePoint measureFrom, TTimePoint measureTo,
                     seconds pause, double* decideMicros) {
    schedule::TScheduler scheduler({.HostSpacing = seconds(10), .MinGap = duration_cast<milliseconds>(pause)});
    // The round the pause makes: what the user asked for, and the rhythm of
    // a feed without a history.
    const seconds round = (pause + kFetchTime) * static_cast<long>(feeds.size());
    for (std::size_t i = 0; i < feeds.size(); ++i) scheduler.Upsert(std::to_string(i), feeds[i].History->Host, start);
    // Until it has a history, a feed counts as posting once a round.
    schedule::TPollBudget budget;
    budget.SetRoundRate(1.0 / static_cast<double>((pause + kFetchTime).count()));
    for (std::size_t i = 0; i < feeds.size(); ++i) budget.Note(std::to_string(i), round);
    std::vector<double> delays;
    std::size_t requests = 0;
    std::size_t decisions = 0;
    steady_clock::duration deciding{};
    TTimePoint now = start;
    while (now < measureTo + kDrain) {
        const auto began = steady_clock::now();
        const auto next = scheduler.Next();
        deciding += steady_clock::now() - began;
        ++decisions;
        now = std::max(now, next->At);
        TFeed& feed = feeds[std::stoul(next->Id)];
        Fetch(feed, now, measureFrom, measureTo, delays);
        if (now >= measureFrom && now < measureTo) ++requests;
        const seconds gap = schedule::LearnedGap({feed.FirstSeen.begin(), feed.FirstSeen.end()}, now, round);
        budget.Note(next->Id, gap);
        schedule::TFeedHints hints;
        hints.Learned = budget.Interval(gap);
        scheduler.Requested(next->Id, now, schedule::NextDue(hints, now));
        now += kFetchTime;
    }
    if (decideMicros) *decideMicros = duration<double, std::micro>(deciding).count() / static_cast<double>(decisions);
    return Summarise(delays, requests, duration<double>(measureTo - measureFrom).count() / 86400.0);
}

struct TSplit {
    const char* Name;
    std::function<bool(std::size_t index, const THistory&)> Takes;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<long> pauses = {30, 60, 120, 300};
    long weeks = 4;
    std::string data = POLLING_SIM_DATA;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--pauses") || !std::strcmp(argv[i], "--pause")) {
            pauses.clear();
            std::istringstream list(argv[i + 1]);
            for (std::string item; std::getline(list, item, ',');) pauses.push_back(std::stol(item));
        } else if (!std::strcmp(argv[i], "--weeks")) {
            weeks = std::stol(argv[i + 1]);
        } else if (!std::strcmp(argv[i], "--data")) {
            data = argv[i + 1];
        }
    }
    const std::vector<THistory> histories = Load(data);
    if (histories.empty()) {
        std::cerr << "no histories in " << data << "\n";
        return 1;
    }
    // Monday 7 December 2026, 00:00 UTC.
    const TTimePoint start(seconds(1796601600));
    const TTimePoint measureFrom = start + kWarmUp;
    const TTimePoint measureTo = measureFrom + hours(24 * 7 * weeks);

    const TSplit splits[] = {
        {"all", [](std::size_t, const THistory&) { return true; }},
        {"feeds", [](std::size_t, const THistory& h) { return h.Kind == "feed"; }},
        {"packages", [](std::size_t, const THistory& h) { return h.Kind != "feed"; }},
        {"even", [](std::size_t i, const THistory&) { return i % 2 == 0; }},
        {"odd", [](std::size_t i, const THistory&) { return i % 2 == 1; }},
    };
    std::printf(
        "%zu posting histories, %ld simulated weeks after %ld days of warm-up, %llds per fetch; "
        "each collection simulated on its own\n\n",
        histories.size(), weeks, static_cast<long>(duration_cast<hours>(kWarmUp).count() / 24),
        static_cast<long long>(kFetchTime.count()));
    std::printf("%-9s %6s %6s | %9s %8s %8s | %9s %8s %8s | %6s %6s %6s  %s\n", "histories", "feeds", "pause",
                "round r/d", "median", "p95", "auto r/d", "median", "p95", "fewer", "med x", "p95 x", "target");
    double decideMicros = 0;
    std::size_t decideFeeds = 0;
    for (const TSplit& split : splits) {
        std::vector<TFeed> feeds;
        for (std::size_t i = 0; i < histories.size(); ++i)
            if (split.Takes(i, histories[i]))
                feeds.push_back({&histories[i], Replay(histories[i], start, measureTo + kDrain), 0, {}});
        for (const long p : pauses) {
            const seconds pause(p);
            const TResult round = RunRound(feeds, start, measureFrom, measureTo, pause);
            double micros = 0;
            const TResult automatic = RunAutomatic(feeds, start, measureFrom, measureTo, pause, &micros);
            if (feeds.size() > decideFeeds) {
                decideFeeds = feeds.size();
                decideMicros = micros;
            }
            const double fewer = round.RequestsPerDay / automatic.RequestsPerDay;
            const double median = automatic.MedianMinutes / round.MedianMinutes;
            std::printf("%-9s %6zu %5lds | %9.1f %8.1f %8.1f | %9.1f %8.1f %8.1f | %6.2f %6.2f %6.2f  %s\n", split.Name,
                        feeds.size(), p, round.RequestsPerDay, round.MedianMinutes, round.P95Minutes,
                        automatic.RequestsPerDay, automatic.MedianMinutes, automatic.P95Minutes, fewer, median,
                        automatic.P95Minutes / round.P95Minutes, fewer >= 3 && median <= 1 ? "met" : "MISSED");
        }
    }
    std::printf("\ndelays in minutes; fewer = round requests / automatic requests; med x, p95 x = automatic / round\n");
    std::printf("next-feed decision: %.2f us on average with %zu feeds\n", decideMicros, decideFeeds);
    return 0;
}

// The automatic schedule's decision with 5,000 feeds on 500 hosts: choosing
// the next feed, and choosing it plus putting it back with its next due time
// (what the polling thread does for every fetch), and sharing the request
// budget again after one feed's learned gap changed (also once a fetch).
#include "PollBudget.h"
#include "Scheduler.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

namespace {

using namespace std::chrono;
using schedule::TTimePoint;

const TTimePoint kStart(seconds(1796601600));

schedule::TScheduler Filled(int feeds) {
    schedule::TScheduler scheduler;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> dueIn(0, 86400);
    for (int i = 0; i < feeds; ++i)
        scheduler.Upsert(std::to_string(i), "host" + std::to_string(i % 500) + ".example",
                         kStart + seconds(dueIn(random)));
    return scheduler;
}

void BM_NextFeed(benchmark::State& state) {
    const schedule::TScheduler scheduler = Filled(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(scheduler.Next());
}
BENCHMARK(BM_NextFeed)->Arg(5000);

void BM_NextFeedAndReschedule(benchmark::State& state) {
    schedule::TScheduler scheduler = Filled(static_cast<int>(state.range(0)));
    std::mt19937 random(11);
    std::uniform_int_distribution<int> interval(900, 86400);
    TTimePoint now = kStart;
    for (auto _ : state) {
        const auto next = scheduler.Next();
        now = std::max(now, next->At);
        scheduler.Requested(next->Id, now, now + seconds(interval(random)));
    }
}
BENCHMARK(BM_NextFeedAndReschedule)->Arg(5000);

void BM_BudgetAfterFetch(benchmark::State& state) {
    schedule::TPollBudget budget;
    budget.SetRoundRate(1.0 / 60);
    std::mt19937 random(13);
    std::uniform_int_distribution<int> gap(600, 86400 * 30);
    const int feeds = static_cast<int>(state.range(0));
    for (int i = 0; i < feeds; ++i) budget.Note(std::to_string(i), seconds(gap(random)));
    int next = 0;
    for (auto _ : state) {
        const seconds learned(gap(random));
        budget.Note(std::to_string(next), learned);
        benchmark::DoNotOptimize(budget.Interval(learned));
        next = (next + 1) % feeds;
    }
}
BENCHMARK(BM_BudgetAfterFetch)->Arg(5000);

}  // namespace

BENCHMARK_MAIN();

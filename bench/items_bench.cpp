// The item store at the scale of a large subscription list: 1,000 feeds of
// 100 items each (100,000 remembered items, HTML bodies of about 700
// bytes). Measures recording a download (one new item at the top; nothing
// new), marking everything read, searching, counting, and opening; prints
// the bytes the base takes per remembered item.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "ItemStore.h"

namespace {

constexpr int kFeeds = 1000;
constexpr int kItemsPerFeed = 100;

std::string gPath;
std::unique_ptr<items::TItemStore> gStore;
std::vector<std::string> gWords;
std::vector<int> gNextItem(kFeeds, kItemsPerFeed);  // index of each feed's next new item
std::int64_t gNow = 1'700'000'000;

// Words drawn with a skewed distribution, so that some are common and most rare.
std::string Words(std::mt19937& random, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        const double u = std::uniform_real_distribution<double>(0, 1)(random);
        const auto index = static_cast<std::size_t>(u * u * u * static_cast<double>(gWords.size()));
        if (!text.empty()) text += ' ';
        text += gWords[index];
    }
    return text;
}

items::TStoredItem MakeItem(int feed, int index) {
    std::mt19937 random(static_cast<unsigned>(feed * 100003 + index));
    items::TStoredItem item;
    const std::string address = "https://feed" + std::to_string(feed) + ".example/posts/" + std::to_string(index);
    item.Guid = address + "#guid";
    item.Link = address;
    item.Title = Words(random, 6);
    item.DateUTC = 1'600'000'000 + index * 600;
    item.DateText = std::to_string(*item.DateUTC);
    item.Author = "Author " + std::to_string(feed);
    item.Body = "<p>" + Words(random, 45) + " <a href=\"" + address + "\">more</a></p><p>" + Words(random, 45) + "</p>";
    return item;
}

// The feed's current window: newest first, the last kItemsPerFeed items.
std::vector<items::TStoredItem> Download(int feed) {
    std::vector<items::TStoredItem> download;
    for (int i = gNextItem[feed] - 1; i >= gNextItem[feed] - kItemsPerFeed; --i) download.push_back(MakeItem(feed, i));
    return download;
}

void RecordOneNewItem(benchmark::State& state) {
    int feed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        feed = (feed + 1) % kFeeds;
        ++gNextItem[feed];
        const std::vector<items::TStoredItem> download = Download(feed);
        state.ResumeTiming();
        const items::TDownloadResult result = gStore->RecordDownload(std::to_string(feed), download, ++gNow);
        if (result.NewCount != 1) state.SkipWithError("expected one new item");
    }
}
BENCHMARK(RecordOneNewItem)->Unit(benchmark::kMillisecond);

void RecordNothingNew(benchmark::State& state) {
    const std::vector<items::TStoredItem> download = Download(500);
    for (auto _ : state) {
        if (gStore->RecordDownload("500", download, ++gNow).NewCount != 0) state.SkipWithError("expected nothing new");
    }
}
BENCHMARK(RecordNothingNew)->Unit(benchmark::kMillisecond);

void MarkAllRead(benchmark::State& state) {
    std::vector<items::TItemId> ids;
    for (auto _ : state) {
        ids = gStore->MarkAllRead();
        state.PauseTiming();
        gStore->MarkItemsUnread(ids);
        state.ResumeTiming();
    }
    state.counters["items"] = static_cast<double>(ids.size());
}
BENCHMARK(MarkAllRead)->Unit(benchmark::kMillisecond)->Iterations(5);

void MarkFeedRead(benchmark::State& state) {
    std::vector<items::TItemId> ids;
    for (auto _ : state) {
        ids = gStore->MarkFeedRead("42");
        gStore->MarkItemsUnread(ids);
    }
}
BENCHMARK(MarkFeedRead)->Unit(benchmark::kMillisecond);

void UnreadCounts(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(gStore->UnreadCounts());
}
BENCHMARK(UnreadCounts)->Unit(benchmark::kMillisecond);

// arg: the rank of the searched word (0 the most common); the text is
// cut to three letters for the prefix case.
void Search(benchmark::State& state) {
    std::string text = gWords[static_cast<std::size_t>(state.range(0))];
    if (state.range(1)) text = gWords[1] + " " + text.substr(0, 3);
    std::size_t hits = 0;
    for (auto _ : state) hits = gStore->Search(text, 50).size();
    state.counters["hits"] = static_cast<double>(hits);
}
BENCHMARK(Search)->Args({0, 0})->Args({50, 0})->Args({3000, 0})->Args({50, 1})->Unit(benchmark::kMillisecond);

void OpenChecked(benchmark::State& state) {
    for (auto _ : state) {
        items::TOpenResult opened = items::TItemStore::Open(gPath);
        if (!opened.Store || !opened.Message.empty()) state.SkipWithError(opened.Message.c_str());
    }
}
BENCHMARK(OpenChecked)->Unit(benchmark::kMillisecond)->Iterations(3);

void Connect(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(gStore->Connect()->UnreadCount("1"));
}
BENCHMARK(Connect)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::string folder = (std::filesystem::temp_directory_path() / "quillet-items-bench-XXXXXX").string();
    if (!mkdtemp(folder.data())) return 1;
    gPath = folder + "/items.db";

    std::mt19937 random(7);
    for (int i = 0; i < 5000; ++i) {
        std::string word;
        const int length = 3 + static_cast<int>(random() % 8);
        for (int k = 0; k < length; ++k) word += static_cast<char>('a' + random() % 26);
        gWords.push_back(word);
    }
    gStore = std::move(items::TItemStore::Open(gPath).Store);
    const auto start = std::chrono::steady_clock::now();
    for (int feed = 0; feed < kFeeds; ++feed) gStore->RecordDownload(std::to_string(feed), Download(feed), gNow);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int total = gStore->TotalItemCount();
    std::printf("filled %d items in %d first downloads: %.2f s, %.2f ms per download of %d new items\n", total, kFeeds,
                seconds, seconds * 1000 / kFeeds, kItemsPerFeed);

    benchmark::RunSpecifiedBenchmarks();

    gStore->CheckIntegrity();
    const std::int64_t bytes = gStore->SizeBytes();
    std::printf("base: %lld bytes for %d items, %.0f bytes per remembered item\n", static_cast<long long>(bytes),
                gStore->TotalItemCount(), static_cast<double>(bytes) / gStore->TotalItemCount());
    gStore.reset();
    std::filesystem::remove_all(folder);
    benchmark::Shutdown();
    return 0;
}

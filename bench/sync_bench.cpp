// A first sync of 200 feeds and 10,000 items from a real FreshRSS on
// 127.0.0.1, then an unchanged sync: time, requests and bytes. Not a test;
// run by hand: sync_bench [feeds [items-per-feed]].
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "AccountSync.h"
#include "FreshRss.h"
#include "LoopbackServer.h"
#include "TempFolder.h"

int main(int argc, char** argv) {
    const int feeds = argc > 1 ? std::atoi(argv[1]) : 200;
    const int perFeed = argc > 2 ? std::atoi(argv[2]) : 50;
    std::string why;
    if (!synctest::FreshRss::Available(why)) {
        std::printf("skipped: %s\n", why.c_str());
        return 0;
    }
    testsupport::TempFolder folder("quillet-sync-bench");
    testsupport::LoopbackServer server;
    synctest::ServeGeneratedFeeds(server, folder.File("feeds.opml"), feeds, perFeed);

    const auto installStart = std::chrono::steady_clock::now();
    synctest::FreshRss freshrss(folder.File("server"), folder.File("feeds.opml"));
    const double install = std::chrono::duration<double>(std::chrono::steady_clock::now() - installStart).count();

    auto store = items::TItemStore::Open(folder.File("items.db")).Store;
    greader::TAccountSync sync({"bench", freshrss.ApiUrl(), synctest::FreshRss::kUser, synctest::FreshRss::kPassword},
                               *store, folder.File("bench.json"));
    const auto start = std::chrono::steady_clock::now();
    auto first = sync.Sync([&](greader::TFeedBatch& batch) {
        // As the program would: the batch goes to the store.
        std::vector<items::TStoredItem> stored;
        for (auto& item : batch.Items) stored.push_back(std::move(item.Item));
        store->SeedFromItems(batch.StreamId, stored, 0);
    });
    const double firstSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto second = sync.Sync({});
    const auto third = sync.Sync({});
    std::printf("FreshRSS install and first fetch of %d feeds: %.1f s\n", feeds, install);
    std::printf("first sync: %s, %d items, %zu subscriptions, %.2f s, %d requests, %zu bytes\n",
                first.Ok ? "ok" : first.Error->what(), first.NewItemCount, first.Subscriptions.Added.size(),
                firstSeconds, first.Requests, first.BytesReceived);
    std::printf("unchanged sync, all unread: %d requests, %zu bytes\n", second.Requests, second.BytesReceived);
    std::printf("unchanged sync again: %d requests, %zu bytes\n", third.Requests, third.BytesReceived);
    return first.Ok && second.Ok ? 0 : 1;
}

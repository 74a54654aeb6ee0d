// A first sync of 200 feeds and 10,000 items from a real FreshRSS on
// 127.0.0.1, then unchanged syncs: time, requests and bytes, against PHP's
// plain server and against the same server gzipping its answers. Not a
// test; run by hand: sync_bench [feeds [items-per-feed]].
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "AccountSync.h"
#include "FreshRss.h"
#include "LoopbackServer.h"
#include "TempFolder.h"

namespace {

void PrintTraffic(const char* what, int requests, const greader::TTraffic& traffic) {
    std::printf("  %s: %d requests; on the wire %zu bytes (bodies %zu + headers %zu); bodies decoded %zu bytes\n", what,
                requests, traffic.OnWire(), traffic.Body, traffic.Headers, traffic.Decoded);
}

// What one request of the client cost on the wire.
template <class F>
greader::TTraffic Cost(greader::TGReaderClient& client, F request) {
    const greader::TTraffic before = client.Traffic();
    request();
    return client.Traffic() - before;
}

bool Run(bool compressed, const std::string& opml, testsupport::TempFolder& folder, int feeds) {
    const std::string name = compressed ? "compressed" : "plain";
    std::printf("FreshRSS, %s answers (%s):\n", name.c_str(),
                compressed ? "zlib.output_compression=On" : "PHP's built-in server as is");
    const auto installStart = std::chrono::steady_clock::now();
    synctest::FreshRss freshrss(folder.File("server-" + name), opml, compressed);
    const double install = std::chrono::duration<double>(std::chrono::steady_clock::now() - installStart).count();

    auto store = items::TItemStore::Open(folder.File("items-" + name + ".db")).Store;
    greader::TAccountSync sync({"bench", freshrss.ApiUrl(), synctest::FreshRss::kUser, synctest::FreshRss::kPassword},
                               *store, folder.File("bench-" + name + ".json"));
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
    std::printf("  install and first fetch of %d feeds by the server: %.1f s\n", feeds, install);
    std::printf("  first sync: %s, %d items, %zu subscriptions, %.2f s\n", first.Ok ? "ok" : first.Error->what(),
                first.NewItemCount, first.Subscriptions.Added.size(), firstSeconds);
    PrintTraffic("first sync", first.Requests, first.Traffic);
    PrintTraffic("unchanged sync, all unread", second.Requests, second.Traffic);
    PrintTraffic("unchanged sync again", third.Requests, third.Traffic);

    // The unchanged sync's two requests, one at a time.
    greader::TGReaderClient& client = sync.Client();
    greader::TIdQuery newest;
    newest.PageSize = greader::TAccountSync::kNewestPage;
    const auto page = Cost(client, [&] { client.ItemIds(newest); });
    const auto counts = Cost(client, [&] { client.UnreadCounts(); });
    PrintTraffic("  of which the newest page of ids", 1, page);
    PrintTraffic("  of which unread-count", 1, counts);
    std::printf("  compared with 10 KB: bytes on the wire, headers included: %zu (%s)\n", third.Traffic.OnWire(),
                third.Traffic.OnWire() <= 10'240 ? "met" : "missed");
    return first.Ok && second.Ok && third.Ok;
}

}  // namespace

int main(int argc, char** argv) {
    synctest::TBenchFeeds bench("quillet-sync-bench", argc, argv);
    if (!bench.Skip.empty()) {
        std::printf("skipped: %s\n", bench.Skip.c_str());
        return 0;
    }
    const bool plain = Run(false, bench.Opml, bench.Folder, bench.Feeds);
    const bool compressed = Run(true, bench.Opml, bench.Folder, bench.Feeds);
    return plain && compressed ? 0 : 1;
}

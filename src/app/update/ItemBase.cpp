#include "ItemBase.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>

#include "FeedDocument.h"
#include "ItemFromFeed.h"
#include "ItemIdentity.h"

namespace {

std::atomic<std::uint64_t> gNextSerial{1};

// The bases alive now, by serial: a thread's connection to a base that has
// gone is closed the next time that thread asks for one.
std::mutex gLiveMutex;
std::set<std::uint64_t> gLive;

bool Alive(std::uint64_t serial) {
    std::lock_guard lock(gLiveMutex);
    return gLive.count(serial) != 0;
}

// One connection per base and thread.
thread_local std::map<std::uint64_t, std::unique_ptr<items::TItemStore>> tConnections;

}  // namespace

std::int64_t ItemStoreNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TItemBase::TItemBase(std::string path, items::TStoreOptions options, std::function<void()> onOpened)
    : FPath(std::move(path)), FSerial(gNextSerial++), FOnOpened(std::move(onOpened)) {
    {
        std::lock_guard lock(gLiveMutex);
        gLive.insert(FSerial);
    }
    FOpening = std::async(std::launch::async, [this, options] { Open(options); }).share();
}

TItemBase::~TItemBase() {
    FStopping = true;
    if (FOpening.valid()) FOpening.wait();
    if (FSeeder.joinable()) FSeeder.join();
    {
        std::lock_guard lock(gLiveMutex);
        gLive.erase(FSerial);
    }
    tConnections.erase(FSerial);
}

void TItemBase::Open(items::TStoreOptions options) {
    items::TOpenResult result = items::TItemStore::Open(FPath, options);
    {
        std::lock_guard lock(FMutex);
        FPrimary = std::move(result.Store);
        FMessage = std::move(result.Message);
        FSetAside = std::move(result.SetAsidePath);
    }
    FOpened = true;
    if (FOnOpened && !FStopping) FOnOpened();
}

bool TItemBase::Opened() const { return FOpened.load(); }

std::string TItemBase::OpenMessage() const {
    std::lock_guard lock(FMutex);
    return FMessage;
}

std::string TItemBase::SetAsidePath() const {
    std::lock_guard lock(FMutex);
    return FSetAside;
}

items::TItemStore* TItemBase::ThreadConnection() {
    FOpening.wait();
    return ConnectionIfOpened();
}

items::TItemStore* TItemBase::ConnectionIfOpened() {
    if (!FOpened) return nullptr;
    auto found = tConnections.find(FSerial);
    if (found != tConnections.end()) return found->second.get();
    for (auto it = tConnections.begin(); it != tConnections.end();)
        it = Alive(it->first) ? std::next(it) : tConnections.erase(it);
    std::unique_ptr<items::TItemStore> connection;
    {
        std::lock_guard lock(FMutex);
        if (!FPrimary) return nullptr;
        try {
            connection = FPrimary->Connect();
        } catch (const std::exception&) {
            return nullptr;  // counted by the stored copies this time
        }
    }
    return tConnections.emplace(FSerial, std::move(connection)).first->second.get();
}

void TItemBase::SeedInBackground(std::vector<TSeedFeed> feeds, std::function<void()> done) {
    if (FSeeder.joinable()) {
        if (FSeeding) return;  // the feeds it has not reached yet are seeded by their updates
        FSeeder.join();
    }
    FSeeding = true;
    FSeeder = std::thread([this, feeds = std::move(feeds), done = std::move(done)] {
        if (items::TItemStore* store = ThreadConnection()) {
            for (const TSeedFeed& feed : feeds) {
                if (FStopping) break;
                try {
                    SeedFeedFromStoredCopy(*store, feed.Id, "feeds/" + feed.Id + ".xml", feed.Unread, ItemStoreNow());
                } catch (const std::exception&) {
                    // That feed is seeded by its next update instead.
                }
            }
        }
        tConnections.erase(FSerial);
        FSeeding = false;
        if (done && !FStopping) done();
    });
}

TSeedResult SeedFeedFromStoredCopy(items::TItemStore& store, const std::string& feedId, const std::string& path,
                                   int unread, std::int64_t now) {
    TSeedResult result;
    result.Known = store.ItemCount(feedId) > 0;
    std::error_code ec;
    if (result.Known || !std::filesystem::exists(path, ec)) return result;
    feed::TFeedDocument copy;
    try {
        copy.LoadFromFile(path);
    } catch (const std::exception&) {
        return result;  // a damaged copy: the next download starts afresh
    }
    const std::vector<items::TStoredItem> seen = items::StoredItemsFromFeed(copy);
    store.SeedFromItems(feedId, seen, now);
    const int keep = std::clamp(unread, 0, static_cast<int>(seen.size()));
    for (int i = 0; i < keep; ++i) store.SetItemRead(feedId, items::ItemKey(seen[static_cast<std::size_t>(i)]), false);
    result.FromCopy = true;
    return result;
}

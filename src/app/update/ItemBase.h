// The program's item store (items.db in the home) as the window and the
// update cycle share it.
//
// Opening checks every page of the base, which takes a while on a large
// one, so it runs on a thread of its own while the window comes up; the
// first update that needs the base waits for it there, never the window.
// Every thread then works through its own connection. A base that cannot
// be used at all leaves the program running without it: callers see a
// null connection and count new items by the stored copies as before.
//
// Feeds the base has never seen but whose stored copy exists (the first
// start with a base, a base rebuilt after damage) are seeded from those
// copies in the background, so their items are not counted new again.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ItemStore.h"

class TItemBase {
public:
    // `onOpened` runs on the opening thread once the base is open or known
    // to be unusable; the window turns it into a call on its own thread.
    explicit TItemBase(std::string path, items::TStoreOptions options = {}, std::function<void()> onOpened = {});
    // Waits for the opening and stops the seeding.
    ~TItemBase();
    TItemBase(const TItemBase&) = delete;
    TItemBase& operator=(const TItemBase&) = delete;

    const std::string& Path() const { return FPath; }
    bool Opened() const;
    // The connection of the calling thread, waiting for the opening; null
    // when the base cannot be used.
    items::TItemStore* ThreadConnection();
    // The same without waiting: null while the base is still being opened.
    items::TItemStore* ConnectionIfOpened();
    // For the user once opened: why the base was set aside or cannot be
    // used ("" when it opened as it was), and where a damaged one went.
    std::string OpenMessage() const;
    std::string SetAsidePath() const;

    struct TSeedFeed {
        std::string Id;
        // The feed's unread count: that many of the copy's first items stay
        // unread, so the page marks what the count says.
        int Unread = 0;
    };
    // Seeds, on a thread of its own, every feed of `feeds` the base holds
    // no item of from its stored copy. `done` runs on that thread at the end.
    void SeedInBackground(std::vector<TSeedFeed> feeds, std::function<void()> done = {});
    // Whether the background seeding has finished (or never started).
    bool SeedingDone() const { return !FSeeding.load(); }

private:
    void Open(items::TStoreOptions options);

    const std::string FPath;
    const std::uint64_t FSerial;
    std::function<void()> FOnOpened;
    mutable std::mutex FMutex;
    std::unique_ptr<items::TItemStore> FPrimary;
    std::string FMessage;
    std::string FSetAside;
    std::shared_future<void> FOpening;
    std::atomic<bool> FOpened{false};
    std::thread FSeeder;
    std::atomic<bool> FSeeding{false};
    std::atomic<bool> FStopping{false};
};

// Seeds the base from a feed's stored copy at `path` when it holds no item
// of the feed yet: the copy's items are taken as seen, but the first
// `unread` of them stay unread. A copy that is missing or unreadable seeds
// nothing.
struct TSeedResult {
    bool Known = false;     // the base held items of the feed already
    bool FromCopy = false;  // it did not, and the stored copy was read into it
};
TSeedResult SeedFeedFromStoredCopy(items::TItemStore& store, const std::string& feedId, const std::string& path,
                                   int unread, std::int64_t now);

// Seconds since 1970 UTC, as the store counts time.
std::int64_t ItemStoreNow();

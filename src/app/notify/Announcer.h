// TAnnouncer decides when the user hears about new items, and in how many
// notifications.
//
// Updates with news come one feed at a time, and sometimes dozens within a
// minute (Update All, the first pass after start-up, the pass after the
// machine wakes). One notification per update would be a run of them, so:
//   - at most one notification every kMinSpacing; what arrives meanwhile is
//     summed into the next one;
//   - during a catch-up (an Update All pass, or the moments after start-up
//     or a wake) nothing is shown; the news is announced once it ends;
//   - a muted feed is heard of only through items with alert words, and
//     with "only alert words" no other item is announced at all.
//
// It reads the time only from the clock it is given, knows nothing of
// windows, and emits its decisions to a sink: the main window turns them
// into balloons, tests record them. Every call is made on one thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AlertWords.h"

// The two clocks the announcer reads. The monotonic one stands still while
// the machine sleeps and the wall clock does not: when the wall clock has
// run far ahead of the monotonic one, the machine has just woken.
class TAnnounceClock {
public:
    virtual ~TAnnounceClock() = default;
    virtual std::chrono::steady_clock::time_point Monotonic() const = 0;
    virtual std::chrono::system_clock::time_point Wall() const = 0;
};

class TSystemAnnounceClock : public TAnnounceClock {
public:
    std::chrono::steady_clock::time_point Monotonic() const override { return std::chrono::steady_clock::now(); }
    std::chrono::system_clock::time_point Wall() const override { return std::chrono::system_clock::now(); }
};

struct TNewsItem {
    std::string Title;
    std::string Body;
};

// The new items of one successful update of one feed.
struct TFeedNews {
    std::string FeedId;
    std::string FeedTitle;  // the channel's title
    int Count = 0;          // how many items are new
    // The i-th new item (0 <= i < Count), title and body as the feed has
    // them. Asked only for the items that are looked at, and only during
    // AddNews: a change of a hundred thousand items costs little.
    std::function<TNewsItem(int)> Item;
    // The user turned notifications off for this feed.
    bool Muted = false;
    // Optional: whether the i-th item holds an alert word, where that was
    // found off the window's thread (nullopt where it was not), and with
    // which words; the announcer matches the rest itself.
    std::function<std::optional<bool>(int)> Alerted;
    const TAlertMatcher* AlertedBy = nullptr;
};

// One notification to show now.
struct TAnnouncement {
    // Every feed it speaks of, in the order their news came; a click on the
    // notification shows the first.
    std::vector<std::string> FeedIds;
    // The title of the first feed's channel.
    std::string FeedTitle;
    // How many items it announces in all.
    int ItemCount = 0;
    // The first of them (at most kKeptItems), the first feed's first; for a
    // feed heard of twice, the later news comes first. A body holds no
    // markup and no more than a notification shows.
    std::vector<TNewsItem> Items;

    bool SingleFeed() const { return FeedIds.size() == 1; }
};

class TAnnouncer {
public:
    using TSink = std::function<void(const TAnnouncement&)>;

    // Never two notifications closer than this.
    static constexpr std::chrono::seconds kMinSpacing{30};
    // After start-up or a wake, the catch-up lasts until no update ended
    // for kSettleQuiet, and never longer than kSettleMax.
    static constexpr std::chrono::seconds kSettleQuiet{20};
    static constexpr std::chrono::seconds kSettleMax{180};
    // An Update All pass that never reports its end holds nothing longer.
    static constexpr std::chrono::seconds kCatchUpMax{600};
    // The wall clock ran this much further than the monotonic one between
    // two looks: the machine slept.
    static constexpr std::chrono::seconds kWakeJump{60};
    // Two ticks this far apart: the program was held up (stopped, swapped
    // out, or a sleep the monotonic clock did count), a catch-up too.
    static constexpr std::chrono::seconds kLongPause{180};
    // A notification lists no more titles than it can show (a few lines of
    // 255 characters); more are never kept.
    static constexpr std::size_t kKeptItems = 128;
    static constexpr std::size_t kBodyChars = 255;

    TAnnouncer(const TAnnounceClock& clock, TSink sink);

    // The alert words (already split into phrases) and whether only items
    // holding one are announced. Applies to news added from now on. The
    // words are compiled again only when they change.
    void SetAlertWords(std::vector<std::string> words, bool onlyAlerts);
    // The words as compiled, for matching news off the window's thread;
    // the same object while the words stay the same.
    std::shared_ptr<const TAlertMatcher> AlertMatcher() const { return FAlertMatcher; }

    // News of one feed. Shown at once when nothing holds it back.
    void AddNews(const TFeedNews& news);

    // An update ended, with news or without: a catch-up pass still runs.
    void NoteUpdate();

    // An Update All pass begins and ends; passes may overlap. The news of
    // the pass is announced at the first tick after it ends.
    void BeginCatchUp();
    void EndCatchUp();
    // What arrives in the next moments is a catch-up (the first pass after
    // start-up); Unsettle ends that early (polling stopped).
    void Settle();
    void Unsettle();

    // The feed is gone: its news is dropped from what waits.
    void ForgetFeed(const std::string& feedId);

    // Called regularly by the owner's timer (every second while Busy(), a
    // few seconds otherwise): notices a wake or a long pause and shows what
    // is due.
    void Tick();

    // The notification for `news` alone, as shown when nothing holds it
    // back and no filter applies.
    static TAnnouncement Immediate(const TFeedNews& news);

    // Something waits to be announced or a catch-up is under way: the owner
    // should tick often.
    bool Busy() const;

private:
    using TMonotonic = std::chrono::steady_clock::time_point;

    struct TPendingFeed {
        std::string Id;
        std::string Title;
        int Count = 0;
        std::vector<TNewsItem> Items;
    };

    // The part of `news` to announce: with `alertWords`, only the items
    // holding one of them.
    static TPendingFeed Gather(const TFeedNews& news, const TAlertMatcher* alertWords);
    // One notification for these feeds' news; the items are moved out.
    static TAnnouncement Compose(std::vector<TPendingFeed>& feeds);
    // Reads both clocks; a wall clock that jumped ahead, or a tick far too
    // late, starts a catch-up.
    TMonotonic Look();
    bool Held(TMonotonic now);
    void ShowIfDue(TMonotonic now);

    const TAnnounceClock& FClock;
    TSink FSink;
    std::shared_ptr<const TAlertMatcher> FAlertMatcher = std::make_shared<TAlertMatcher>(std::vector<std::string>{});
    bool FOnlyAlerts = false;

    std::vector<TPendingFeed> FPending;
    std::optional<TMonotonic> FLastShown;
    int FCatchUps = 0;
    TMonotonic FCatchUpSince{};
    std::optional<TMonotonic> FSettleSince;
    TMonotonic FLastActivity{};  // the last update, with news or without
    std::optional<std::pair<TMonotonic, std::chrono::system_clock::time_point>> FLastLook;
    std::optional<TMonotonic> FLastTick;
};

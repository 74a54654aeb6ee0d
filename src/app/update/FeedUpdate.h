// The parts of one feed update that need no window: the download and parse
// that run off the user-interface thread, the counting of new items, and the
// rules for the stored copy's file name.
#pragma once

#include "AlertWords.h"
#include "FeedDocument.h"
#include "FeedHealth.h"
#include "HttpClient.h"
#include "Outcome.h"
#include "ItemStore.h"
#include "PendingFile.h"
#include "UpdateThread.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TItemBase;

// What an update needs to know about its feed, captured on the
// user-interface thread when it is prepared.
struct TFeedUpdateRequest {
    std::string Id;
    std::string Url;
    http::FetchOptions Options;  // general\SecureFeeds, general\FollowRedirects
    // How many times the window had written or removed this feed's stored
    // copy when the update was prepared: tells the result whether the copy
    // read during the download may have been replaced since.
    unsigned StoredCopyWrites = 0;
    // The validators kept with the feed from its last successful update.
    // They describe the stored copy, so they are sent only while it exists.
    http::TValidators Validators;
    // The item store that tells which items are new; null (or a base that
    // cannot be used) counts them by the stored copy's titles instead.
    std::shared_ptr<TItemBase> Items;
    // The feed's unread count: how many of its stored copy's first items
    // stay unread when the store first meets the feed.
    int Unread = 0;
    // Where the fetch's outcome is recorded as soon as it is known, off the
    // user-interface thread; null records nothing.
    std::shared_ptr<schedule::THealthBook> Health;
    // The alert words as the announcer holds them: the new items are
    // matched against them beside the download. Null matches nothing.
    std::shared_ptr<const TAlertMatcher> Alerts;
};

// The item titles of a feed's stored copy (see ComparableTitles), or
// nullopt when there is none or it cannot be read: a damaged copy is
// replaced by the next download instead of failing every later update.
using TStoredTitles = std::optional<std::vector<std::string>>;
TStoredTitles ReadStoredTitles(const std::string& path);

// One update of one feed: Start and Finish hand the job to the window (on
// the user-interface thread), Fetch downloads and parses into a private
// document (off the user-interface thread), Cancel abandons the download.
class TFeedUpdate : public TUpdateJob {
public:
    using THandler = std::function<void(TFeedUpdate&)>;
    TFeedUpdate(TFeedUpdateRequest request, THandler start, THandler finish);

    void Start() override;
    void Fetch() override;
    void Download() override;
    void Complete() override;
    void Finish() override;
    void Cancel() override;

    const TFeedUpdateRequest& Request() const { return FRequest; }
    // The node's text when the update started, for the status messages;
    // set and read on the user-interface thread only.
    const std::string& DisplayText() const { return FDisplayText; }
    void SetDisplayText(std::string text) { FDisplayText = std::move(text); }
    // The downloaded feed with its stylesheet set; null when Fetch failed.
    feed::TFeedDocument* Document() { return FDocument.get(); }
    // The failure's message ("" on success).
    const std::string& Error() const { return FError; }
    bool Failed() const { return !FDocument && !FNotModified; }
    // The server says the stored copy is current: there is no document,
    // and nothing is new.
    bool NotModified() const { return FNotModified; }
    // The validators of the answer ("" where it had none).
    const http::TValidators& Validators() const { return FValidators; }
    // When the server, refusing with 429 or 503, said to come back.
    std::optional<std::chrono::system_clock::time_point> RetryAfter() const { return FRetryAfter; }
    schedule::TAnswerHints AnswerHints() const override { return FAnswerHints; }
    // Body bytes on the wire, compressed as they came.
    std::size_t BytesReceived() const { return FBytesReceived; }
    bool Cancelled() const { return FClient.Cancelled(); }
    bool Fetched() const { return FFetched.load(); }
    // The result was applied, or the update abandoned: its download no
    // longer counts as running.
    bool Done() const { return FDone.load(); }
    // The titles of the feed's stored copy as Fetch found it, read beside
    // the download; null when Fetch did not get that far. The copy may have
    // been replaced since: see TFeedUpdateRequest::StoredCopyWrites.
    const TStoredTitles* PreviousTitles() const { return FPreviousRead ? &FPreviousTitles : nullptr; }
    // What the item store made of the download: per item whether it is
    // new. Null when the store was not used (none, or it failed), and the
    // stored copy's titles count instead.
    const items::TDownloadResult* Recorded() const { return FRecorded ? &*FRecorded : nullptr; }
    // The store knew nothing of the feed and there was no stored copy to
    // learn from: the first download, whose items are unread but not news.
    bool FirstDownload() const { return FFirstDownload; }
    // Tests shorten the client's time-outs.
    http::THttpClient& Client() { return FClient; }
    // What the fetch came to; null when it never reached the network (or
    // was cancelled).
    const schedule::TFetchOutcome* Outcome() const { return FOutcome ? &*FOutcome : nullptr; }
    // Which of the new items hold an alert word (see TFeedUpdateRequest::
    // Alerts), found beside the download; empty when nothing was matched.
    const TAlertVerdicts& AlertVerdicts() const { return FAlertVerdicts; }

    // Work done beside the download so that applying a large result keeps
    // the user-interface thread free: the download's titles as they compare
    // with a stored copy's (only where the item store did not count), and
    // the new stored copy written next to the old one, ready to be put in
    // its place. Null when Fetch did not get that far (the result then does
    // the work itself, and reports what fails).
    const std::vector<std::string>* DownloadedTitles() const { return FTitlesRead ? &FDownloadedTitles : nullptr; }
    TPendingFile* PendingStoredCopy() { return FStoredCopy.Ready() ? &FStoredCopy : nullptr; }
    // What grows with the feed's size (the downloaded document, both title
    // lists), handed over once the result is applied, so that it can be
    // freed away from the user-interface thread.
    struct TLargeParts {
        std::unique_ptr<feed::TFeedDocument> Document;
        std::vector<std::string> DownloadedTitles;
        TStoredTitles PreviousTitles;
    };
    TLargeParts ReleaseLargeParts();

private:
    TFeedUpdateRequest FRequest;
    THandler FStart;
    THandler FFinish;
    std::string FDisplayText;
    http::THttpClient FClient;
    std::unique_ptr<feed::TFeedDocument> FDocument;
    std::string FError;
    TStoredTitles FPreviousTitles;
    bool FPreviousRead = false;
    // The stored copy's titles, read beside the download where no item
    // store counts the new items.
    std::future<TStoredTitles> FPreviousReading;
    void WriteStoredCopy(const std::string& path);
    void RecordInStore(items::TItemStore& store, const std::vector<items::TStoredItem>& items, const std::string& path);
    std::optional<items::TDownloadResult> FRecorded;
    bool FFirstDownload = false;
    std::vector<std::string> FDownloadedTitles;
    bool FTitlesRead = false;
    TPendingFile FStoredCopy;
    std::optional<std::string> FStoredCopyText;    // serialised, not yet written
    std::vector<items::TStoredItem> FStoredItems;  // taken for the store, not yet recorded
    std::atomic<bool> FFetched{false};
    std::atomic<bool> FDone{false};
    bool FNotModified = false;
    http::TValidators FValidators;
    std::optional<std::chrono::system_clock::time_point> FRetryAfter;
    schedule::TAnswerHints FAnswerHints;
    void NoteAnswerHints(const http::TFetchResult& answer, const feed::TFeedDocument* document);
    std::size_t FBytesReceived = 0;
    std::optional<schedule::TFetchFacts> FFacts;
    std::optional<schedule::TFetchOutcome> FOutcome;
    // Classifies the fetch and records it in the health book.
    void RecordOutcome();
    TAlertVerdicts FAlertVerdicts;
    // Matches the items the window will count as new against the alert
    // words, so that announcing them costs the window no matching.
    void MatchAlertWords();
};

// How many items of a download are new, given the item titles of the
// download and of the stored copy, in document order.
struct TNewItemCount {
    int Count = 0;
    // True: the count replaces the unread count; false: it is added to it.
    bool Replace = false;
};

// The first stored title marks where the already seen items begin: the
// items of the download before its first occurrence are new. When it no
// longer occurs, at most as many items as the stored copy held are taken
// as new, and that number replaces the unread count. A stored copy without
// items has no reference title: every downloaded item is new.
TNewItemCount CountNewItems(const std::vector<std::string>& downloaded, const std::vector<std::string>& stored);

// The titles of a document's items in the form a stored copy gives back.
std::vector<std::string> ComparableTitles(const feed::TFeedDocument& document);

// A feed id names a file: only decimal digits are accepted.
bool IsValidFeedId(std::string_view id);

// "feeds/<id>.xml", relative to the working directory; raises
// std::runtime_error for an id that is not a decimal number.
std::string StoredCopyPath(std::string_view id);

// The stylesheet reference of every stored copy: rss.xsl in the working
// directory, one level above feeds/.
inline constexpr char kStoredCopyStylesheet[] = "../rss.xsl";

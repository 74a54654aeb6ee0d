#include "FeedUpdate.h"

#include "FeedUtils.h"
#include "ItemBase.h"
#include "ItemFromFeed.h"

#include <QThreadPool>

#include <algorithm>
#include <filesystem>
#include <future>
#include <stdexcept>
#include <system_error>

TFeedUpdate::TFeedUpdate(TFeedUpdateRequest request, THandler start, THandler finish)
    : FRequest(std::move(request)), FStart(std::move(start)), FFinish(std::move(finish)), FClient(FRequest.Options) {}

void TFeedUpdate::Start() {
    if (FStart) FStart(*this);
}

void TFeedUpdate::Fetch() {
    Download();
    Complete();
}

void TFeedUpdate::Download() {
    try {
        // Checked before anything goes over the network: the id will name
        // the stored copy.
        const std::string path = StoredCopyPath(FRequest.Id);
        // Without an item store, counting the new items needs the previous
        // stored copy: it is read on the side while the download runs, so
        // neither the user-interface thread nor the update's duration pays
        // for it. (An early return still waits for it: the future's
        // destructor joins.)
        try {
            if (!FRequest.Items)
                FPreviousReading = std::async(std::launch::async, [path] { return ReadStoredTitles(path); });
        } catch (const std::system_error&) {
            // No thread to spare: it is read after the download instead.
        }
        // "Not modified" is only worth asking while there is a copy to keep.
        std::error_code ignored;
        const bool haveCopy = std::filesystem::exists(path, ignored);
        http::TFetchResult answer = FClient.Fetch(FRequest.Url, haveCopy ? FRequest.Validators : http::TValidators{});
        FFacts = schedule::FactsFromResult(FRequest.Url, FRequest.Options.followRedirects, answer);
        FBytesReceived = answer.BytesReceived;
        if (answer.NotModified) {
            FPreviousTitles = FPreviousReading.valid() ? FPreviousReading.get() : ReadStoredTitles(path);
            FPreviousRead = true;
            if (FPreviousTitles) {
                NoteAnswerHints(answer, nullptr);
                FValidators = std::move(answer.Validators);
                FNotModified = true;
                return;
            }
            // The copy the server compared with has gone or cannot be read:
            // the feed is fetched whole, once, to replace it.
            answer = FClient.Fetch(FRequest.Url);
            FFacts = schedule::FactsFromResult(FRequest.Url, FRequest.Options.followRedirects, answer);
            FBytesReceived += answer.BytesReceived;
        }
        FValidators = std::move(answer.Validators);
        auto document = std::make_unique<feed::TFeedDocument>();
        // Relative addresses in the feed resolve against where it came from.
        document->SetDocumentURL(FRequest.Url);
        document->LoadFromString(answer.Body);
        document->SetXSLFileName(kStoredCopyStylesheet);
        NoteAnswerHints(answer, document.get());
        // The stored copy's text and the items for the store are made
        // here: writing and flushing, the completion's part, takes longer
        // than the download's part.
        try {
            document->GenerateXML();
            FStoredCopyText = document->XMLFile().SaveToString();
        } catch (const std::exception&) {
            // The result saves it itself, and reports the failure in order.
        }
        if (FRequest.Items) FStoredItems = items::StoredItemsFromFeed(*document);
        FDocument = std::move(document);
    } catch (const http::HttpError& e) {
        FRetryAfter = e.RetryAfter();
        FAnswerHints.RetryAfter = e.RetryAfter();
        FError = e.what();
        FFacts = schedule::FactsFromError(FRequest.Url, FRequest.Options.followRedirects, e);
    } catch (const std::exception& e) {
        FError = e.what();
    }
}

void TFeedUpdate::Complete() {
    if (FNotModified) {
        FFetched = true;
        return;
    }
    if (FDocument) {
        const std::string path = StoredCopyPath(FRequest.Id);  // a valid id: the download got this far
        // The connection of the thread that completes: the polling thread's
        // completions run on a thread of their own, beside its downloads.
        items::TItemStore* store = FRequest.Items ? FRequest.Items->ThreadConnection() : nullptr;
        // The store's write and the stored copy's write and flush are
        // independent: they run side by side, the items taken from the
        // model by the download. A pooled thread, not a new one per update:
        // polling completes hundreds of updates a second.
        const std::vector<items::TStoredItem> items = std::move(FStoredItems);
        std::promise<void> recorded;
        std::future<void> recording;
        const auto record = [this, store, &items, &path, &recorded] {
            try {
                RecordInStore(*store, items, path);
            } catch (...) {
                // counted by the stored copy (RecordInStore reports its own)
            }
            recorded.set_value();
        };
        if (store) {
            recording = recorded.get_future();
            if (!QThreadPool::globalInstance()->tryStart(record)) record();  // no thread to spare
        }
        WriteStoredCopy(path);
        if (recording.valid()) recording.get();
        // Without the store's count (none, none reachable from this
        // thread, or it failed), the titles count: the download's against
        // the stored copy's.
        if (!FRecorded) {
            FDownloadedTitles = ComparableTitles(*FDocument);
            FTitlesRead = true;
            FPreviousTitles = FPreviousReading.valid() ? FPreviousReading.get() : ReadStoredTitles(path);
            FPreviousRead = true;
        }
    }
    if (!FDocument && FError.empty()) FError = "Unknown error";
    MatchAlertWords();
    RecordOutcome();
    FFetched = true;
}

void TFeedUpdate::RecordOutcome() {
    if (!FFacts || FClient.Cancelled()) return;
    FFacts->IsFeed = FDocument != nullptr;
    if (FFacts->IsFeed) {
        if (FRecorded)
            FFacts->HadNewItem = FRecorded->NewCount > 0;
        else if (FTitlesRead && FPreviousRead && FPreviousTitles)
            FFacts->HadNewItem = CountNewItems(FDownloadedTitles, *FPreviousTitles).Count > 0;
        else
            FFacts->HadNewItem = true;  // the first download: its items are news to Quillet
    }
    FOutcome = schedule::Classify(*FFacts, std::chrono::system_clock::now());
    if (!FRequest.Health) return;
    FRequest.Health->Record(FRequest.Id, *FOutcome);
    // Written from here, off the window, now and then; the window writes the
    // last changes as it closes.
    FRequest.Health->SaveIfDue(schedule::kHealthFile, std::chrono::minutes(5));
}

void TFeedUpdate::MatchAlertWords() {
    if (!FDocument || !FRequest.Alerts || FRequest.Alerts->Empty() || FClient.Cancelled()) return;
    const feed::TRSSItems& items = FDocument->Items();
    const std::size_t count = static_cast<std::size_t>(items.Count());
    std::vector<bool> fresh(count, false);
    if (FRecorded && !FFirstDownload) {
        for (std::size_t i = 0; i < count && i < FRecorded->New.size(); ++i) fresh[i] = FRecorded->New[i];
    } else if (!FRecorded && FTitlesRead && FPreviousRead && FPreviousTitles) {
        const int newCount = CountNewItems(FDownloadedTitles, *FPreviousTitles).Count;
        std::fill_n(fresh.begin(), std::min<std::size_t>(count, static_cast<std::size_t>(std::max(0, newCount))), true);
    }
    FAlertVerdicts.MatchedBy = FRequest.Alerts;
    FAlertVerdicts.ByIndex.assign(count, -1);
    for (std::size_t i = 0; i < count; ++i) {
        if (fresh[i]) {
            const feed::TRSSItem& item = items[static_cast<int>(i)];
            FAlertVerdicts.ByIndex[i] = FRequest.Alerts->Matches(item.Title(), item.Description()) ? 1 : 0;
        }
    }
}

void TFeedUpdate::WriteStoredCopy(const std::string& path) {
    // The stored copy is written (and flushed to the disk) here, beside the
    // download, and only put in place by the window: a flush waits on the
    // disk, which the item store's log also keeps busy, and the window
    // must never wait on the disk.
    if (!FStoredCopyText) return;  // it could not be made: the result saves and reports
    try {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        FStoredCopy = TPendingFile(path, *FStoredCopyText);
        FStoredCopyText.reset();
    } catch (const std::exception&) {
        // Saved by the result instead, which reports the failure in order.
    }
}

void TFeedUpdate::RecordInStore(items::TItemStore& store, const std::vector<items::TStoredItem>& items,
                                const std::string& path) {
    try {
        const std::int64_t now = ItemStoreNow();
        // The stored copy is still the previous download's: the window
        // replaces it only when the result is applied.
        const TSeedResult seed = SeedFeedFromStoredCopy(store, FRequest.Id, path, FRequest.Unread, now);
        FRecorded = store.RecordDownload(FRequest.Id, items, now);
        FFirstDownload = !seed.Known && !seed.FromCopy;
    } catch (const std::exception&) {
        // The store failed (disk full, I/O error): this download is counted
        // by the stored copy, as without a store.
        FRecorded.reset();
    }
}

TFeedUpdate::TLargeParts TFeedUpdate::ReleaseLargeParts() {
    TLargeParts parts{std::move(FDocument), std::move(FDownloadedTitles), std::move(FPreviousTitles)};
    FTitlesRead = false;
    FPreviousRead = false;
    return parts;
}

void TFeedUpdate::Finish() {
    // Done however the result's steps end.
    struct TMarkDone {
        std::atomic<bool>& Done;
        ~TMarkDone() { Done = true; }
    } markDone{FDone};
    if (FFinish) FFinish(*this);
}

void TFeedUpdate::Cancel() {
    FClient.Cancel();
    FDone = true;
}

TNewItemCount CountNewItems(const std::vector<std::string>& downloaded, const std::vector<std::string>& stored) {
    const int downloadedCount = static_cast<int>(downloaded.size());
    if (stored.empty()) return {downloadedCount, false};
    const auto match = std::find(downloaded.begin(), downloaded.end(), stored.front());
    const int n = static_cast<int>(match - downloaded.begin());  // the download's size when absent
    const int storedCount = static_cast<int>(stored.size());
    if (n < storedCount) return {n, false};
    return {storedCount, true};
}

std::vector<std::string> ComparableTitles(const feed::TFeedDocument& document) {
    std::vector<std::string> titles;
    const feed::TRSSItems& items = document.Items();
    titles.reserve(static_cast<std::size_t>(items.Count()));
    for (int i = 0; i < items.Count(); ++i) titles.push_back(feed::ComparableTitle(items[i].Title()));
    return titles;
}

TStoredTitles ReadStoredTitles(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return std::nullopt;
    try {
        feed::TFeedDocument stored;
        stored.LoadFromFile(path);
        return ComparableTitles(stored);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool IsValidFeedId(std::string_view id) {
    return !id.empty() && std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string StoredCopyPath(std::string_view id) {
    if (!IsValidFeedId(id))
        throw std::runtime_error("Invalid feed id \"" + std::string(id) + "\": it must be a decimal number");
    return "feeds/" + std::string(id) + ".xml";
}

void TFeedUpdate::NoteAnswerHints(const http::TFetchResult& answer, const feed::TFeedDocument* document) {
    FAnswerHints.FreshUntil = answer.FreshUntil;
    if (!document) return;
    const feed::TRSSChannelOpt& channel = document->Channel().Optional();
    FAnswerHints.HadFeed = true;
    // The model's ttl defaults to 60: only one the feed gave counts.
    if (channel.TTLModified() && channel.TTL() > 0) FAnswerHints.Ttl = std::chrono::minutes(channel.TTL());
    for (int hour = 0; hour < 24; ++hour)
        FAnswerHints.Skip.Hours[static_cast<std::size_t>(hour)] = channel.SkipHours().Hour(hour);
    for (int day = 0; day < 7; ++day)
        FAnswerHints.Skip.Days[static_cast<std::size_t>(day)] = channel.SkipDays().Day(day);
}

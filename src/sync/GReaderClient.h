// A client of the Google Reader API, and only that: it speaks in streams,
// item ids, tags and continuations, signs in and keeps the session and
// action tokens, and reports every failure as a TSyncError of one kind.
// What the answers mean for Quillet's feeds is GReaderMapping's business,
// when to ask what is TAccountSync's.
//
// Answers are parsed defensively: malformed JSON, a field of the wrong type
// or a continuation that never ends are TSyncErrorKind::Malformed, never an
// exception of the JSON library. Item contents arrive in batches handed to
// a callback, so a long list never sits in memory whole.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "GReaderTypes.h"
#include "HttpClient.h"
#include "SyncError.h"

namespace greader {

// What subscription/edit is asked to do.
struct TSubscriptionEdit {
    enum class TAction { Subscribe, Unsubscribe, Edit };
    TAction Action = TAction::Edit;
    std::string Stream;                     // s: "feed/12", or "feed/<address>" to subscribe
    std::string Title;                      // t: a new title; "" leaves it
    std::vector<std::string> AddLabels;     // a: "user/-/label/Tech"
    std::vector<std::string> RemoveLabels;  // r
};

class TGReaderClient {
public:
    // base: the API's address, "https://host/api/greader.php" for FreshRSS.
    explicit TGReaderClient(std::string base, std::shared_ptr<http::TCancelToken> cancel = nullptr);

    // The API addresses an address typed by the user may stand for, most
    // likely first: the address itself, then FreshRSS's /api/greader.php
    // below it when the address is a site's.
    static std::vector<std::string> CandidateBases(const std::string& address);

    const std::string& Base() const { return FBase; }

    // accounts/ClientLogin: keeps the Auth token. 401/403 are WrongPassword;
    // an answer without a token, or a missing page, is NotGoogleReader.
    void ClientLogin(const std::string& user, const std::string& password);
    const std::string& AuthToken() const { return FAuth; }
    void SetAuthToken(std::string token) { FAuth = std::move(token); }
    bool SignedIn() const { return !FAuth.empty(); }
    // reader/api/0/token, kept until the server refuses it.
    const std::string& ActionToken();

    std::vector<TSubscription> SubscriptionList();
    std::vector<TTag> TagList();
    // unread-count: how many unread items each stream holds ("feed/12",
    // labels, states), the labels named and the reading list's newest stamp.
    TUnreadCounts UnreadCounts();

    // One page of stream/items/ids; continuation "" asks the first.
    TIdPage ItemIds(const TIdQuery& query, const std::string& continuation = {});
    // Every page, in the server's order. More than maxIds ids, or a
    // continuation the server repeats, is Malformed.
    std::vector<TItemId> AllItemIds(const TIdQuery& query, std::size_t maxIds = 5'000'000);

    // stream/items/contents for these ids, posted up to batchSize at a time
    // (fewer first, and fewer where the server answers fewer); each batch of
    // items (continuations followed) is handed to onBatch before the next is
    // asked for. Items the server adds that were not asked for are dropped.
    static constexpr std::size_t kFirstContentsBatch = 250;
    static constexpr std::size_t kLargestContentsBatch = 1000;
    static constexpr std::size_t kContentsBatchBytes = 4 * 1024 * 1024;
    void ItemContents(const std::vector<TItemId>& ids, const std::function<void(std::vector<TApiItem>&)>& onBatch,
                      std::size_t batchSize = kLargestContentsBatch);

    // edit-tag: adds and removes a tag ("user/-/state/com.google/read") on items.
    void EditTag(const std::vector<TItemId>& ids, const std::string& add, const std::string& remove);
    // mark-all-as-read: every item of the stream up to olderThanUsec (0: all).
    void MarkAllAsRead(const std::string& stream, std::int64_t olderThanUsec = 0);
    // subscription/quickadd: the new subscription's stream id.
    std::string QuickAdd(const std::string& feedUrl);
    void EditSubscription(const TSubscriptionEdit& edit);
    // rename-tag and disable-tag on a label ("user/-/label/Tech").
    void RenameTag(const std::string& tag, const std::string& newName);
    void DisableTag(const std::string& tag);

    // Pages of item ids and contents this client may still ask for: a
    // server whose lists never end costs this many requests, then the call
    // fails as Malformed. The engine sets it for each sync.
    static constexpr int kDefaultPages = 1000;
    void LimitPages(int pages) { FPageLimit = FPagesLeft = pages; }
    void AllowMorePages(int pages) {
        FPageLimit += pages;
        FPagesLeft += pages;
    }
    int PagesLeft() const { return FPagesLeft; }

    // Limits of every request; the defaults suit real use.
    void SetDeadline(std::chrono::milliseconds deadline) { FDeadline = deadline; }
    void SetStallTimeout(std::chrono::milliseconds timeout) { FStall = timeout; }
    void SetCertificateAuthorityFile(std::string path) { FCaFile = std::move(path); }

    // Requests made and bytes received, for measuring what a sync costs.
    int RequestCount() const { return FRequests; }
    std::size_t BytesReceived() const { return FTraffic.Body; }
    const TTraffic& Traffic() const { return FTraffic; }

private:
    std::string Get(const std::string& path, const std::vector<std::pair<std::string, std::string>>& query);
    std::string Post(const std::string& path, const std::vector<std::pair<std::string, std::string>>& form,
                     bool withAuth = true);
    // A write: posts with the action token, renewing it once when refused.
    std::string Write(const std::string& path, std::vector<std::pair<std::string, std::string>> form);
    std::string Send(http::TRequest request, bool withAuth);
    void TakePage();

    std::string FBase;
    std::shared_ptr<http::TCancelToken> FCancel;
    std::string FAuth;
    std::string FToken;
    std::chrono::milliseconds FDeadline{120'000};
    std::chrono::milliseconds FStall{60'000};
    std::string FCaFile;
    int FRequests = 0;
    bool FLastTooLarge = false;  // the last request failed on the size cap
    int FPageLimit = kDefaultPages;
    int FPagesLeft = kDefaultPages;
    TTraffic FTraffic;
};

// "a=b&c=d" with every byte outside the unreserved set %-encoded.
std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields);

}  // namespace greader

#include "GReaderClient.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <deque>
#include <set>
#include <string_view>

namespace greader {

namespace {

using json = nlohmann::json;
using Fields = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kApiPath = "/reader/api/0/";

TSyncError Malformed(const std::string& what) {
    return TSyncError(TSyncErrorKind::Malformed, "The server's answer is not valid: " + what);
}

json ParseJson(const std::string& body, const char* what) {
    json value = json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) throw Malformed(std::string(what) + " is not JSON");
    if (!value.is_object()) throw Malformed(std::string(what) + " is not a JSON object");
    return value;
}

// Readers that never throw the JSON library's exceptions: a missing member
// is empty, a member of the wrong type is Malformed.
const json* Member(const json& object, const char* name) {
    if (!object.is_object()) return nullptr;
    const auto it = object.find(name);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

std::string Text(const json& object, const char* name) {
    const json* value = Member(object, name);
    if (value == nullptr) return {};
    if (!value->is_string()) throw Malformed(std::string("\"") + name + "\" is not text");
    return value->get<std::string>();
}

const json& Array(const json& object, const char* name, const json& empty) {
    const json* value = Member(object, name);
    if (value == nullptr) return empty;
    if (!value->is_array()) throw Malformed(std::string("\"") + name + "\" is not a list");
    return *value;
}

// A number the server may send as a JSON number or as text ("1796758218").
std::int64_t Integer(const json& object, const char* name) {
    const json* value = Member(object, name);
    if (value == nullptr) return 0;
    if (value->is_number_integer()) return value->get<std::int64_t>();
    if (value->is_number_float()) return static_cast<std::int64_t>(value->get<double>());
    if (value->is_string()) {
        const std::string text = value->get<std::string>();
        std::int64_t number = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (error == std::errc() && end == text.data() + text.size()) return number;
    }
    throw Malformed(std::string("\"") + name + "\" is not a number");
}

// Every id the server names (streams, labels, items) enters here: one with
// a control character is refused, never cleaned, since a cleaned copy
// (config.xml keeps no control characters) would no longer name what the
// server's other answers name, and each sync would make the feed again.
std::string IdText(std::string text, const char* what) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            throw Malformed(std::string(what) + " holds a control character");
    return text;
}

std::string StreamId(const json& object, const char* name, const char* what) {
    return IdText(Text(object, name), what);
}

TItemId ItemIdOf(const json& value) {
    std::optional<TItemId> id;
    if (value.is_string())
        id = ParseItemId(IdText(value.get<std::string>(), "an item id"));
    else if (value.is_number_unsigned())
        id = value.get<std::uint64_t>();
    else if (value.is_number_integer())
        id = static_cast<TItemId>(value.get<std::int64_t>());
    if (!id) throw Malformed("an item id is neither decimal nor the long form");
    return *id;
}

TApiItem ItemFrom(const json& entry) {
    static const json kEmpty = json::array();
    if (!entry.is_object()) throw Malformed("an item is not an object");
    TApiItem item;
    const json* id = Member(entry, "id");
    if (id == nullptr) throw Malformed("an item has no id");
    item.Id = ItemIdOf(*id);
    item.Title = Text(entry, "title");
    item.Author = Text(entry, "author");
    item.Published = Integer(entry, "published");
    item.TimestampUsec = Integer(entry, "timestampUsec");
    for (const json& link : Array(entry, "alternate", kEmpty)) {
        const std::string href = Text(link, "href");
        if (!href.empty()) {
            item.Link = href;
            break;
        }
    }
    if (item.Link.empty())
        for (const json& link : Array(entry, "canonical", kEmpty))
            if (item.Link.empty()) item.Link = Text(link, "href");
    if (const json* summary = Member(entry, "summary")) item.Summary = Text(*summary, "content");
    if (const json* content = Member(entry, "content")) item.Content = Text(*content, "content");
    for (const json& category : Array(entry, "categories", kEmpty)) {
        if (!category.is_string()) throw Malformed("a category is not text");
        item.Categories.push_back(category.get<std::string>());
    }
    for (const json& enclosure : Array(entry, "enclosure", kEmpty)) {
        TEnclosure out;
        out.Url = Text(enclosure, "href");
        out.Type = Text(enclosure, "type");
        out.Length = Integer(enclosure, "length");
        if (!out.Url.empty()) item.Enclosures.push_back(std::move(out));
    }
    if (const json* origin = Member(entry, "origin")) {
        item.StreamId = StreamId(*origin, "streamId", "an item's stream id");
        item.StreamTitle = Text(*origin, "title");
        item.StreamHtmlUrl = Text(*origin, "htmlUrl");
    }
    return item;
}

TSyncError FromHttp(const http::HttpError& error) {
    const int status = error.StatusCode();
    switch (error.Failure()) {
        case http::HttpFailure::Status:
            if (status == 401 || status == 403) return TSyncError(TSyncErrorKind::Unauthorized, error.what(), status);
            if (status >= 500 || status == 429)
                return TSyncError(TSyncErrorKind::Server, error.what(), status, error.RetryAfter());
            return TSyncError(TSyncErrorKind::Rejected, error.what(), status);
        case http::HttpFailure::TimedOut:
            return TSyncError(TSyncErrorKind::TimedOut, error.what());
        case http::HttpFailure::Tls:
            return TSyncError(TSyncErrorKind::Tls, error.what());
        case http::HttpFailure::Cancelled:
            return TSyncError(TSyncErrorKind::Cancelled, error.what());
        case http::HttpFailure::TooLarge:
            return TSyncError(TSyncErrorKind::Malformed, error.what());
        case http::HttpFailure::Other:
            break;
    }
    return TSyncError(TSyncErrorKind::Unreachable, error.what());
}

bool Unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == '~';
}

std::string TrimLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

std::string FormEncode(const Fields& fields) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    for (const auto& [name, value] : fields) {
        if (!out.empty()) out += '&';
        for (const std::string* part : {&name, &value}) {
            for (const char c : *part) {
                const auto byte = static_cast<unsigned char>(c);
                if (Unreserved(byte)) {
                    out += c;
                } else {
                    out += '%';
                    out += kHex[byte >> 4];
                    out += kHex[byte & 15];
                }
            }
            if (part == &name) out += '=';
        }
    }
    return out;
}

TGReaderClient::TGReaderClient(std::string base, std::shared_ptr<http::TCancelToken> cancel)
    : FBase(std::move(base)), FCancel(cancel ? std::move(cancel) : std::make_shared<http::TCancelToken>()) {
    while (!FBase.empty() && FBase.back() == '/') FBase.pop_back();
}

std::vector<std::string> TGReaderClient::CandidateBases(const std::string& address) {
    std::string base = address;
    while (!base.empty() && (base.back() == '/' || base.back() == ' ')) base.pop_back();
    while (!base.empty() && base.front() == ' ') base.erase(base.begin());
    if (base.find("://") == std::string::npos) base = "https://" + base;
    std::vector<std::string> bases{base};
    if (base.find("greader.php") == std::string::npos) bases.push_back(base + "/api/greader.php");
    return bases;
}

std::string TGReaderClient::Send(http::TRequest request, bool withAuth) {
    if (withAuth && !FAuth.empty()) request.Headers.emplace_back("Authorization", "GoogleLogin auth=" + FAuth);
    http::FetchOptions options;
    options.secureFeeds = true;
    http::THttpClient client(options, FCancel);
    client.SetDeadline(FDeadline);
    client.SetStallTimeout(FStall);
    if (!FCaFile.empty()) client.SetCertificateAuthorityFile(FCaFile);
    ++FRequests;
    FLastTooLarge = false;
    try {
        auto result = client.Send(request);
        FTraffic.Body += result.BytesReceived;
        FTraffic.Headers += result.HeaderBytes;
        FTraffic.Decoded += result.Body.size();
        return std::move(result.Body);
    } catch (const http::HttpError& error) {
        FLastTooLarge = error.Failure() == http::HttpFailure::TooLarge;
        FTraffic.Body += error.Body().size();
        FTraffic.Decoded += error.Body().size();
        throw FromHttp(error);
    }
}

std::string TGReaderClient::Get(const std::string& path, const Fields& query) {
    http::TRequest request;
    request.Url = FBase + path + (query.empty() ? "" : "?" + FormEncode(query));
    return Send(std::move(request), true);
}

std::string TGReaderClient::Post(const std::string& path, const Fields& form, bool withAuth) {
    http::TRequest request;
    request.Url = FBase + path;
    request.Method = "POST";
    request.Body = FormEncode(form);
    return Send(std::move(request), withAuth);
}

void TGReaderClient::ClientLogin(const std::string& user, const std::string& password) {
    std::string body;
    try {
        body = Post("/accounts/ClientLogin", {{"Email", user}, {"Passwd", password}}, false);
    } catch (const TSyncError& error) {
        if (error.Kind() == TSyncErrorKind::Unauthorized)
            throw TSyncError(TSyncErrorKind::WrongPassword, "The server refused the user name or password",
                             error.StatusCode());
        // 501: the server (a static site, a plain web server) cannot take a
        // sign-in at all, which is no trouble of an API but the lack of one.
        if (error.Kind() == TSyncErrorKind::Rejected ||
            (error.Kind() == TSyncErrorKind::Server && error.StatusCode() == 501))
            throw TSyncError(TSyncErrorKind::NotGoogleReader,
                             "No Google Reader API at " + FBase + " (" + error.what() + ")", error.StatusCode());
        throw;
    }
    // "SID=...\nLSID=...\nAuth=...\n"
    std::size_t position = 0;
    while (position < body.size()) {
        const auto end = std::min(body.find('\n', position), body.size());
        const std::string line = TrimLineEnd(body.substr(position, end - position));
        if (line.rfind("Auth=", 0) == 0 && line.size() > 5) {
            FAuth = line.substr(5);
            FToken.clear();
            return;
        }
        position = end + 1;
    }
    throw TSyncError(TSyncErrorKind::NotGoogleReader,
                     "No Google Reader API at " + FBase + " (the sign-in answer carries no Auth token)");
}

const std::string& TGReaderClient::ActionToken() {
    if (FToken.empty()) {
        std::string token = TrimLineEnd(Get(std::string(kApiPath) + "token", {}));
        if (token.empty() || token.find_first_of(" \t<>{}") != std::string::npos) throw Malformed("the action token");
        FToken = std::move(token);
    }
    return FToken;
}

std::string TGReaderClient::Write(const std::string& path, Fields form) {
    form.emplace_back("T", ActionToken());
    try {
        return Post(std::string(kApiPath) + path, form);
    } catch (const TSyncError& error) {
        // A session may outlive its action token: ask for a fresh one once.
        if (error.Kind() != TSyncErrorKind::Unauthorized) throw;
    }
    FToken.clear();
    form.back().second = ActionToken();
    return Post(std::string(kApiPath) + path, form);
}

std::vector<TSubscription> TGReaderClient::SubscriptionList() {
    static const json kEmpty = json::array();
    const json answer =
        ParseJson(Get(std::string(kApiPath) + "subscription/list", {{"output", "json"}}), "the subscription list");
    if (Member(answer, "subscriptions") == nullptr) throw Malformed("the subscription list has no subscriptions");
    std::vector<TSubscription> list;
    for (const json& entry : Array(answer, "subscriptions", kEmpty)) {
        TSubscription subscription;
        subscription.Id = StreamId(entry, "id", "a subscription's stream id");
        if (subscription.Id.empty()) throw Malformed("a subscription has no id");
        subscription.Title = Text(entry, "title");
        subscription.Url = Text(entry, "url");
        subscription.HtmlUrl = Text(entry, "htmlUrl");
        for (const json& category : Array(entry, "categories", kEmpty))
            subscription.Categories.push_back({StreamId(category, "id", "a folder's id"), Text(category, "label")});
        list.push_back(std::move(subscription));
    }
    return list;
}

std::vector<TTag> TGReaderClient::TagList() {
    static const json kEmpty = json::array();
    const json answer = ParseJson(Get(std::string(kApiPath) + "tag/list", {{"output", "json"}}), "the tag list");
    std::vector<TTag> tags;
    for (const json& entry : Array(answer, "tags", kEmpty))
        tags.push_back({StreamId(entry, "id", "a tag's id"), Text(entry, "type")});
    return tags;
}

TUnreadCounts TGReaderClient::UnreadCounts() {
    static const json kEmpty = json::array();
    const json answer =
        ParseJson(Get(std::string(kApiPath) + "unread-count", {{"output", "json"}}), "the unread counts");
    TUnreadCounts counts;
    for (const json& entry : Array(answer, "unreadcounts", kEmpty)) {
        if (!entry.is_object()) throw Malformed("an unread count is not an object");
        std::string id = StreamId(entry, "id", "an unread count's stream id");
        if (id == kReadingList) counts.NewestUsec = Integer(entry, "newestItemTimestampUsec");
        if (id.starts_with(kLabelPrefix)) counts.Labels.insert(id);
        counts.Counts[std::move(id)] = Integer(entry, "count");
    }
    return counts;
}

TIdPage TGReaderClient::ItemIds(const TIdQuery& query, const std::string& continuation) {
    static const json kEmpty = json::array();
    Fields fields{{"s", query.Stream}, {"n", std::to_string(query.PageSize)}, {"output", "json"}};
    if (!query.Exclude.empty()) fields.emplace_back("xt", query.Exclude);
    if (query.Since) fields.emplace_back("ot", std::to_string(*query.Since));
    if (!continuation.empty()) fields.emplace_back("c", continuation);
    TakePage();
    const json answer = ParseJson(Get(std::string(kApiPath) + "stream/items/ids", fields), "the item id list");
    TIdPage page;
    const json& refs = Array(answer, "itemRefs", kEmpty);
    page.Ids.reserve(refs.size());
    for (const json& ref : refs) {
        const json* id = Member(ref, "id");
        if (id == nullptr) throw Malformed("an item reference has no id");
        page.Ids.push_back(ItemIdOf(*id));
    }
    page.Continuation = Text(answer, "continuation");
    return page;
}

void TGReaderClient::TakePage() {
    if (FPagesLeft <= 0)
        throw TSyncError(TSyncErrorKind::Malformed, "The server's item lists did not end within " +
                                                        std::to_string(FPageLimit) +
                                                        " requests; the sync stopped there");
    --FPagesLeft;
}

std::vector<TItemId> TGReaderClient::AllItemIds(const TIdQuery& query, std::size_t maxIds) {
    std::vector<TItemId> ids;
    std::set<std::string> seen;
    std::string continuation;
    for (;;) {
        TIdPage page = ItemIds(query, continuation);
        if (ids.size() + page.Ids.size() > maxIds) throw Malformed("more than " + std::to_string(maxIds) + " item ids");
        ids.insert(ids.end(), page.Ids.begin(), page.Ids.end());
        // A page without ids ends the list whatever it says, and a
        // continuation seen before would go round for ever.
        if (page.Continuation.empty() || page.Ids.empty()) break;
        if (!seen.insert(page.Continuation).second) throw Malformed("the item id list repeats a continuation");
        continuation = std::move(page.Continuation);
    }
    return ids;
}

void TGReaderClient::ItemContents(const std::vector<TItemId>& ids,
                                  const std::function<void(std::vector<TApiItem>&)>& onBatch, std::size_t batchSize) {
    static const json kEmpty = json::array();
    batchSize = std::clamp<std::size_t>(batchSize, 1, kLargestContentsBatch);
    // A batch starts at the size every server takes and grows while the
    // server answers whole batches, as far as their bytes stay near
    // kContentsBatchBytes (memory, and the client's cap on an answer). A
    // server that answers fewer than it was asked for (a cap of its own)
    // is asked that many from then on, and the ids it left out are asked
    // once more; an answer over the cap is asked again in smaller batches.
    std::size_t size = std::min(batchSize, kFirstContentsBatch);
    std::deque<TItemId> queue(ids.begin(), ids.end());
    std::set<TItemId> askedAgain;
    while (!queue.empty()) {
        Fields form;
        std::set<TItemId> asked;
        std::vector<TItemId> order;
        while (!queue.empty() && asked.size() < size) {
            if (asked.insert(queue.front()).second) {
                form.emplace_back("i", DecimalItemId(queue.front()));
                order.push_back(queue.front());
            }
            queue.pop_front();
        }
        const std::size_t askedCount = asked.size();
        const std::size_t decodedBefore = FTraffic.Decoded;
        std::set<std::string> seen;
        std::string continuation;
        int pages = 0;
        for (;;) {
            Fields fields = form;
            if (!continuation.empty()) fields.emplace_back("c", continuation);
            std::vector<TApiItem> batch;
            {
                TakePage();
                ++pages;
                std::string body;
                try {
                    body = Post(std::string(kApiPath) + "stream/items/contents?output=json", fields);
                } catch (const TSyncError&) {
                    if (!FLastTooLarge || pages > 1 || askedCount == 1) throw;
                    // Too much at once: the same ids again, a quarter at a time.
                    size = std::max<std::size_t>(askedCount / 4, 1);
                    queue.insert(queue.begin(), order.begin(), order.end());
                    break;
                }
                const json answer = ParseJson(body, "the item contents");
                body = {};
                const json& entries = Array(answer, "items", kEmpty);
                batch.reserve(std::min(entries.size(), asked.size()));
                // Only what was asked for, each once: an answer cannot make
                // the sync hold or store more than the ids it listed.
                for (const json& entry : entries) {
                    TApiItem item = ItemFrom(entry);
                    if (asked.erase(item.Id)) batch.push_back(std::move(item));
                }
                continuation = Text(answer, "continuation");
            }
            const bool progress = !batch.empty();
            if (progress) onBatch(batch);
            if (continuation.empty() || !progress || asked.empty()) break;
            if (!seen.insert(continuation).second) throw Malformed("the item contents repeat a continuation");
        }
        if (asked.size() == askedCount) continue;  // refused as too large, or every id gone
        const std::size_t answered = askedCount - asked.size();
        if (asked.empty() && pages == 1) {
            const std::size_t perItem = std::max<std::size_t>((FTraffic.Decoded - decodedBefore) / answered, 1);
            // Never below the first size on bytes alone: the sync's page
            // budget counts on it. Only an answer over the cap goes lower.
            size = std::clamp(kContentsBatchBytes / perItem, std::min(size, std::min(batchSize, kFirstContentsBatch)),
                              std::min(batchSize, size * 2));
        } else if (!asked.empty()) {
            size = std::min(size, answered);
            for (const TItemId id : asked)
                if (askedAgain.insert(id).second) queue.push_front(id);
        }
    }
}

void TGReaderClient::EditTag(const std::vector<TItemId>& ids, const std::string& add, const std::string& remove) {
    Fields form;
    for (const TItemId id : ids) form.emplace_back("i", DecimalItemId(id));
    if (!add.empty()) form.emplace_back("a", add);
    if (!remove.empty()) form.emplace_back("r", remove);
    Write("edit-tag", std::move(form));
}

void TGReaderClient::MarkAllAsRead(const std::string& stream, std::int64_t olderThanUsec) {
    Fields form{{"s", stream}};
    if (olderThanUsec > 0) form.emplace_back("ts", std::to_string(olderThanUsec));
    Write("mark-all-as-read", std::move(form));
}

std::string TGReaderClient::QuickAdd(const std::string& feedUrl) {
    const json answer = ParseJson(Write("subscription/quickadd", {{"quickadd", feedUrl}}), "the quick-add answer");
    const std::string stream = StreamId(answer, "streamId", "the new subscription's stream id");
    if (stream.empty()) {
        const std::string error = Text(answer, "error");
        throw TSyncError(TSyncErrorKind::Rejected,
                         "The server did not subscribe to " + feedUrl + (error.empty() ? "" : ": " + error));
    }
    return stream;
}

void TGReaderClient::EditSubscription(const TSubscriptionEdit& edit) {
    const char* action = edit.Action == TSubscriptionEdit::TAction::Subscribe     ? "subscribe"
                         : edit.Action == TSubscriptionEdit::TAction::Unsubscribe ? "unsubscribe"
                                                                                  : "edit";
    Fields form{{"ac", action}, {"s", edit.Stream}};
    if (!edit.Title.empty()) form.emplace_back("t", edit.Title);
    for (const auto& label : edit.AddLabels) form.emplace_back("a", label);
    for (const auto& label : edit.RemoveLabels) form.emplace_back("r", label);
    Write("subscription/edit", std::move(form));
}

void TGReaderClient::RenameTag(const std::string& tag, const std::string& newName) {
    Write("rename-tag", {{"s", tag}, {"dest", kLabelPrefix + newName}});
}

void TGReaderClient::DisableTag(const std::string& tag) { Write("disable-tag", {{"s", tag}}); }

}  // namespace greader

#include "ChangeQueue.h"

#include <nlohmann/json.hpp>

namespace greader {

namespace {

nlohmann::json IdList(const std::vector<TItemId>& ids) {
    nlohmann::json list = nlohmann::json::array();
    for (const TItemId id : ids) list.push_back(LongItemId(id));
    return list;
}

}  // namespace

TChangeQueue::TChangeQueue(items::TItemStore& store, std::string account, std::function<std::int64_t()> now)
    : FStore(&store), FAccount(std::move(account)), FNow(std::move(now)) {}

TChangeQueue::TChangeQueue(std::vector<items::TPendingChange>& record, std::string account,
                           std::function<std::int64_t()> now)
    : FRecord(&record), FAccount(std::move(account)), FNow(std::move(now)) {}

void TChangeQueue::Add(const char* kind, const std::string& payload) {
    if (FRecord)
        FRecord->push_back({0, FAccount, kind, payload, FNow()});
    else
        FStore->Enqueue(FAccount, kind, payload, FNow());
}

void TChangeQueue::AddIds(const char* kind, const std::vector<TItemId>& ids) {
    if (!ids.empty()) Add(kind, nlohmann::json{{"ids", IdList(ids)}}.dump());
}

void TChangeQueue::MarkRead(const std::vector<TItemId>& ids) { AddIds(kMarkRead, ids); }

void TChangeQueue::MarkUnread(const std::vector<TItemId>& ids) { AddIds(kMarkUnread, ids); }

void TChangeQueue::Star(const std::vector<TItemId>& ids) { AddIds(kStar, ids); }

void TChangeQueue::Unstar(const std::vector<TItemId>& ids) { AddIds(kUnstar, ids); }

void TChangeQueue::Subscribe(const std::string& url, const std::string& title, const std::string& folder) {
    Add(kSubscribe, nlohmann::json{{"url", url}, {"title", title}, {"folder", folder}}.dump());
}

void TChangeQueue::Rename(const std::string& stream, const std::string& title) {
    Add(kRename, nlohmann::json{{"stream", stream}, {"title", title}}.dump());
}

void TChangeQueue::Move(const std::string& stream, const std::string& fromFolder, const std::string& toFolder) {
    Add(kMove, nlohmann::json{{"stream", stream}, {"from", fromFolder}, {"to", toFolder}}.dump());
}

void TChangeQueue::Unsubscribe(const std::string& stream) {
    Add(kUnsubscribe, nlohmann::json{{"stream", stream}}.dump());
}

void TChangeQueue::RenameLabel(const std::string& name, const std::string& newName) {
    Add(kRenameLabel, nlohmann::json{{"name", name}, {"to", newName}}.dump());
}

void TChangeQueue::DeleteLabel(const std::string& name) { Add(kDeleteLabel, nlohmann::json{{"name", name}}.dump()); }

std::vector<items::TPendingChange> TChangeQueue::Pending() const {
    return FStore ? FStore->Pending(FAccount) : std::vector<items::TPendingChange>();
}

}  // namespace greader

// Local changes waiting for the account's server, kept as rows of the item
// store (account name as the key, the change as JSON text) so that a
// restart or a kill -9 loses none. TAccountSync sends them in order and
// removes each only once the server has taken it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "GReaderTypes.h"
#include "ItemStore.h"

namespace greader {

// The kinds of change, as stored.
inline constexpr const char* kMarkRead = "mark-read";
inline constexpr const char* kMarkUnread = "mark-unread";
inline constexpr const char* kStar = "star";
inline constexpr const char* kUnstar = "unstar";
inline constexpr const char* kSubscribe = "subscribe";
inline constexpr const char* kRename = "rename";
inline constexpr const char* kMove = "move";
inline constexpr const char* kUnsubscribe = "unsubscribe";
inline constexpr const char* kRenameLabel = "rename-label";
inline constexpr const char* kDeleteLabel = "delete-label";

class TChangeQueue {
public:
    TChangeQueue(items::TItemStore& store, std::string account, std::function<std::int64_t()> now);
    // Writes the changes down in `record` instead, each with the time it was
    // made, for TItemStore::EnqueueAll once the store is at hand.
    TChangeQueue(std::vector<items::TPendingChange>& record, std::string account, std::function<std::int64_t()> now);

    void MarkRead(const std::vector<TItemId>& ids);
    void MarkUnread(const std::vector<TItemId>& ids);
    void Star(const std::vector<TItemId>& ids);
    void Unstar(const std::vector<TItemId>& ids);
    // Subscribes to a feed's address, into a folder when one is given.
    void Subscribe(const std::string& url, const std::string& title = {}, const std::string& folder = {});
    void Rename(const std::string& stream, const std::string& title);
    // From one folder to another; "" for none on either side.
    void Move(const std::string& stream, const std::string& fromFolder, const std::string& toFolder);
    void Unsubscribe(const std::string& stream);
    void RenameLabel(const std::string& name, const std::string& newName);
    void DeleteLabel(const std::string& name);

    std::vector<items::TPendingChange> Pending() const;

private:
    void Add(const char* kind, const std::string& payload);
    void AddIds(const char* kind, const std::vector<TItemId>& ids);

    items::TItemStore* FStore = nullptr;
    std::vector<items::TPendingChange>* FRecord = nullptr;
    std::string FAccount;
    std::function<std::int64_t()> FNow;
};

}  // namespace greader

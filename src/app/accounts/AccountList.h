// Accounts of a feed server in the feed list: each account is a top-level
// folder with the account's id, the server's address and the user name (in
// config.xml a <folder account="ID" address="…" user="…">); its labels are
// folders inside it and its subscriptions feeds with the server's stream. The tree, the
// counts and the saving treat it as any folder; the polling thread never
// fetches a feed inside it, because the server does. The password is never
// here: it lives in the desktop's secret store.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "FeedListModel.h"

namespace accountlist {

struct TAccountRecord {
    std::string Id;       // stable key: the sync state, the queue, the secret
    std::string Caption;  // the node's name in the tree
    std::string Address;  // as typed: the API's base or the site's
    std::string User;
};

// The account folders directly in the list, in its order.
std::vector<const feedlist::TListEntry*> AccountFolders(const feedlist::TFeedList& list);
std::optional<TAccountRecord> RecordOf(const feedlist::TListEntry* folder);
// An id no account of the list has yet, made from the user and the host.
std::string NewAccountId(const feedlist::TFeedList& list, const std::string& user, const std::string& address);
// Appends the account's folder at the end of the list (open).
const feedlist::TListEntry* AddAccount(feedlist::TFeedList& list, const TAccountRecord& record);
// Removes the account's folder with its feeds; false when there is none.
bool RemoveAccount(feedlist::TFeedList& list, const std::string& id);

}  // namespace accountlist

// Accounts of a feed server as config.xml keeps them: each account is a
// top-level <folder> of the feed list marked with account="ID" and holding
// the server's address and the user name; its labels are folders inside it
// and its subscriptions <item> elements with stream="feed/…". The tree, the
// counts and the saving treat it as any folder; the polling thread never
// fetches a feed inside it, because the server does. The password is never
// here: it lives in the desktop's secret store.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "FeedListModel.h"
#include "XmlDom.h"

namespace accountlist {

struct TAccountRecord {
    std::string Id;       // stable key: the sync state, the queue, the secret
    std::string Caption;  // the node's name in the tree
    std::string Address;  // as typed: the API's base or the site's
    std::string User;
};

bool IsAccountFolder(const xml::Node& element);
// The account folders directly in the feed list, in its order.
std::vector<xml::Node> AccountFolders(const xml::Node& items);
std::optional<TAccountRecord> RecordOf(const xml::Node& folder);
// The account folder an element (feed or folder) lies in; null for a local one.
xml::Node AccountOf(const xml::Node& element);
xml::Node AccountFolder(const xml::Node& items, const std::string& id);

// An id no account of the list has yet, made from the user and the host.
std::string NewAccountId(const xml::Node& items, const std::string& user, const std::string& address);
// Appends the account's folder at the end of the list (expanded).
xml::Node AddAccount(xml::Node items, const TAccountRecord& record);
// Removes the account's folder with its feeds; false when there is none.
bool RemoveAccount(const xml::Node& items, const std::string& id);

// The same on the typed list, which the window works on.
std::vector<const feedlist::TListEntry*> AccountFolders(const feedlist::TFeedList& list);
std::optional<TAccountRecord> RecordOf(const feedlist::TListEntry* folder);
std::string NewAccountId(const feedlist::TFeedList& list, const std::string& user, const std::string& address);
const feedlist::TListEntry* AddAccount(feedlist::TFeedList& list, const TAccountRecord& record);
bool RemoveAccount(feedlist::TFeedList& list, const std::string& id);

}  // namespace accountlist

#include "AccountList.h"

#include <cctype>

namespace accountlist {

std::string NewAccountId(const feedlist::TFeedList& list, const std::string& user, const std::string& address) {
    // user@host, cut to letters, digits and a few marks so that it can name
    // files and secret-store entries as it is.
    std::string host = address;
    if (const auto scheme = host.find("://"); scheme != std::string::npos) host.erase(0, scheme + 3);
    host = host.substr(0, host.find_first_of("/?#"));
    std::string base;
    for (char c : user + "@" + host) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '@' || c == '.' || c == '-' || c == '_')
            base += c;
        else if (c == ':')
            base += '-';  // host:port stays readable
    }
    if (base.size() > 64) base.resize(64);
    if (base.empty() || base == "@") base = "account";
    std::string id = base;
    for (int n = 2; list.FindAccount(id); ++n) id = base + "-" + std::to_string(n);
    return id;
}

std::vector<const feedlist::TListEntry*> AccountFolders(const feedlist::TFeedList& list) {
    std::vector<const feedlist::TListEntry*> folders;
    for (const auto& child : list.Root().Children())
        if (child->IsAccount()) folders.push_back(child.get());
    return folders;
}

std::optional<TAccountRecord> RecordOf(const feedlist::TListEntry* folder) {
    if (!folder || !folder->IsAccount()) return std::nullopt;
    const feedlist::TAccountEntry& account = *folder->Folder().Account;
    return TAccountRecord{account.Id, folder->Folder().Caption, account.Address, account.User};
}

const feedlist::TListEntry* AddAccount(feedlist::TFeedList& list, const TAccountRecord& record) {
    feedlist::TFolderEntry folder = feedlist::NewFolder(record.Caption);
    folder.Account = feedlist::TAccountEntry{record.Id, record.Address, record.User};
    folder.Order.insert(folder.Order.end(), {"account", "address", "user"});
    return list.AddFolder(list.Root(), std::move(folder));
}

bool RemoveAccount(feedlist::TFeedList& list, const std::string& id) {
    const feedlist::TListEntry* folder = list.FindAccount(id);
    if (!folder) return false;
    list.Remove(*folder);
    return true;
}

}  // namespace accountlist

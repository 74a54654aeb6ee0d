#include "AccountList.h"

#include <cctype>

#include "Convert.h"
#include "FeedList.h"

namespace accountlist {

bool IsAccountFolder(const xml::Node& element) {
    return element.IsElement() && element.Name() == "folder" && !element.Attribute("account").value_or("").empty();
}

std::vector<xml::Node> AccountFolders(const xml::Node& items) {
    std::vector<xml::Node> folders;
    for (const xml::Node& child : items.ChildElements())
        if (IsAccountFolder(child)) folders.push_back(child);
    return folders;
}

std::optional<TAccountRecord> RecordOf(const xml::Node& folder) {
    if (!IsAccountFolder(folder)) return std::nullopt;
    return TAccountRecord{*folder.Attribute("account"), folder.Attribute("caption").value_or(""),
                          folder.Attribute("address").value_or(""), folder.Attribute("user").value_or("")};
}

xml::Node AccountOf(const xml::Node& element) {
    for (xml::Node node = element; node && node.IsElement(); node = node.Parent())
        if (IsAccountFolder(node)) return node;
    return {};
}

xml::Node AccountFolder(const xml::Node& items, const std::string& id) {
    for (const xml::Node& folder : AccountFolders(items))
        if (folder.Attribute("account") == id) return folder;
    return {};
}

namespace {

// user@host, cut to letters, digits and a few marks so that it can name
// files and secret-store entries as it is; `taken` says whether an id is
// some account's already.
template <class Taken>
std::string MakeAccountId(const std::string& user, const std::string& address, Taken&& taken) {
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
    for (int n = 2; taken(id); ++n) id = base + "-" + std::to_string(n);
    return id;
}

}  // namespace

std::string NewAccountId(const xml::Node& items, const std::string& user, const std::string& address) {
    return MakeAccountId(user, address, [&items](const std::string& id) { return !AccountFolder(items, id).IsNull(); });
}

xml::Node AddAccount(xml::Node items, const TAccountRecord& record) {
    xml::Node folder = items.AppendElement("folder");
    folder.SetAttribute("caption", record.Caption);
    folder.SetAttribute("expanded", plat::BoolToStr(true));
    folder.SetAttribute("account", record.Id);
    folder.SetAttribute("address", record.Address);
    folder.SetAttribute("user", record.User);
    return folder;
}

bool RemoveAccount(const xml::Node& items, const std::string& id) {
    xml::Node folder = AccountFolder(items, id);
    if (!folder) return false;
    folder.Remove();
    return true;
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

std::string NewAccountId(const feedlist::TFeedList& list, const std::string& user, const std::string& address) {
    return MakeAccountId(user, address, [&list](const std::string& id) { return list.FindAccount(id) != nullptr; });
}

const feedlist::TListEntry* AddAccount(feedlist::TFeedList& list, const TAccountRecord& record) {
    feedlist::TFolderEntry folder;
    folder.Caption = record.Caption;
    folder.Expanded = true;
    folder.Account = feedlist::TAccountEntry{record.Id, record.Address, record.User};
    folder.Order = {"caption", "expanded", "account", "address", "user"};
    return list.AddFolder(list.Root(), std::move(folder));
}

bool RemoveAccount(feedlist::TFeedList& list, const std::string& id) {
    const feedlist::TListEntry* folder = list.FindAccount(id);
    if (!folder) return false;
    list.Remove(*folder);
    return true;
}

}  // namespace accountlist

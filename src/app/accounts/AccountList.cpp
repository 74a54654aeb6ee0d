#include "AccountList.h"

#include <cctype>

#include "Convert.h"
#include "FeedList.h"

namespace accountlist {

bool IsAccountFolder(const xml::Node& element) {
    return feedlist::IsFolder(element) && !element.Attribute("account").value_or("").empty();
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

std::string NewAccountId(const xml::Node& items, const std::string& user, const std::string& address) {
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
    for (int n = 2; AccountFolder(items, id); ++n) id = base + "-" + std::to_string(n);
    return id;
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

}  // namespace accountlist

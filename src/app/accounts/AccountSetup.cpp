#include "AccountSetup.h"

namespace accountsetup {

namespace {

std::string WithoutTrailingSlashes(std::string address) {
    while (!address.empty() && address.back() == '/') address.pop_back();
    return address;
}

std::string HostOf(const std::string& address) {
    std::string host = address;
    if (const auto scheme = host.find("://"); scheme != std::string::npos) host.erase(0, scheme + 3);
    return host.substr(0, host.find_first_of("/?#"));
}

}  // namespace

std::optional<accountlist::TAccountRecord> FindAccount(const feedlist::TFeedList& list, const std::string& base,
                                                       const std::string& user) {
    for (const feedlist::TListEntry* folder : accountlist::AccountFolders(list)) {
        auto record = accountlist::RecordOf(folder);
        if (record && record->User == user && WithoutTrailingSlashes(record->Address) == WithoutTrailingSlashes(base))
            return record;
    }
    return std::nullopt;
}

accountlist::TAccountRecord NewRecord(const feedlist::TFeedList& list, const std::string& base, const std::string& user,
                                      const std::string& caption) {
    accountlist::TAccountRecord record;
    record.Id = accountlist::NewAccountId(list, user, base);
    record.Caption = caption.empty() ? HostOf(base) : caption;
    record.Address = base;
    record.User = user;
    return record;
}

}  // namespace accountsetup

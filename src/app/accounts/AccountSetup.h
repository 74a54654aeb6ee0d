// Adding a checked account to the feed list, the same way from the window
// and from the command line: one account per API address and user, named
// after the server's host unless the user names it.
#pragma once

#include <optional>
#include <string>

#include "AccountList.h"

namespace accountsetup {

// The account of the list with this API address (trailing slashes aside)
// and user, if there is one.
std::optional<accountlist::TAccountRecord> FindAccount(const feedlist::TFeedList& list, const std::string& base,
                                                       const std::string& user);

// The record a new account gets: a fresh id, the caption given or the
// host's name, and the API address that signed in (so the sync never has
// to guess it again).
accountlist::TAccountRecord NewRecord(const feedlist::TFeedList& list, const std::string& base, const std::string& user,
                                      const std::string& caption);

}  // namespace accountsetup

// Whether a feed address is in the list already, as Add Feed and the
// health view's page chooser ask before taking one.
#pragma once

#include <QString>

#include <optional>
#include <string>

namespace feedlist {
class TFeedList;
}

// The shown name of the listed feed at `url` (compared as addresses, not as
// text), passing by the feed `exceptId`; nullopt when none is there.
std::optional<QString> ListedFeedName(const feedlist::TFeedList& list, const std::string& url,
                                      const std::string& exceptId = {});

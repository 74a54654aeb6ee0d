// Addresses as people paste them, and the small URL helpers discovery needs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace discover {

// The address to fetch for what a person pasted: blanks around it dropped,
// "feed:https://…" unwrapped, "feed://host/path" read as http, a bare host
// or "host/path" tried as https, the scheme in lower case. nullopt when it
// cannot be a web address (empty, blanks inside, another scheme, no host).
std::optional<std::string> NormalizeAddress(std::string_view input);

// Whether what was pasted names no scheme ("example.org", "example.org/blog"):
// NormalizeAddress tries it as https, and http is worth a try after that.
bool IsBareHost(std::string_view input);

// The host of an absolute address ("example.org" for
// "https://user@example.org:8080/x"), "" when it has none.
std::string HostOf(std::string_view url);

// A form of url in which two spellings of one address compare equal:
// scheme and host in lower case, a default port and the fragment dropped,
// an empty path as "/".
std::string ComparableUrl(std::string_view url);

}  // namespace discover

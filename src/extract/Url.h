// Addresses in an extracted article: only web addresses survive.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace extract {

// http or https, in any letter case, with a host.
bool IsWebAddress(std::string_view url);

// reference resolved against base; nullopt unless the result is a web
// address (javascript:, file:, mailto: and the like are dropped).
std::optional<std::string> ResolveWebAddress(const std::string& base, std::string_view reference);

// An image address to keep: a web address as above, or a small inline
// raster image (data:image/png, gif, jpeg or webp of at most 4 KB).
std::optional<std::string> ResolveImageAddress(const std::string& base, std::string_view reference);

}  // namespace extract

#include "Url.h"

#include "FeedUtils.h"
#include "Page.h"

namespace extract {

namespace {
constexpr std::size_t kMaxInlineImage = 4096;
}

bool IsWebAddress(std::string_view url) {
    const std::string head = AsciiLower(url.substr(0, 8));
    const std::size_t hostAt = head.rfind("http://", 0) == 0 ? 7 : head.rfind("https://", 0) == 0 ? 8 : 0;
    return hostAt != 0 && url.size() > hostAt && url[hostAt] != '/' && url[hostAt] != '?' && url[hostAt] != '#';
}

std::optional<std::string> ResolveWebAddress(const std::string& base, std::string_view reference) {
    const std::string trimmed = CollapseBlanks(reference);
    if (trimmed.empty()) return std::nullopt;
    std::string url = feed::ResolveURL(base, trimmed);
    if (!IsWebAddress(url)) return std::nullopt;
    return url;
}

std::optional<std::string> ResolveImageAddress(const std::string& base, std::string_view reference) {
    const std::string head = AsciiLower(reference.substr(0, 16));
    if (head.rfind("data:", 0) != 0) return ResolveWebAddress(base, reference);
    if (reference.size() > kMaxInlineImage) return std::nullopt;
    for (const std::string_view type : {"data:image/png", "data:image/gif", "data:image/jpeg", "data:image/webp"})
        if (head.rfind(type, 0) == 0) return std::string(reference);
    return std::nullopt;
}

}  // namespace extract

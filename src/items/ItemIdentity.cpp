#include "ItemIdentity.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "Text.h"

namespace items {

namespace {

constexpr char kSeparator = '\x1f';

// Identities are stored: what counts as a blank and a letter here must
// never change, or every remembered item would come back as new.
using plat::AsciiLower;
using plat::CollapseBlanks;
using plat::Trim;

// Query parameters that say where a reader came from, not what the page is.
bool IsTrackingParameter(std::string_view name) {
    static constexpr std::array<std::string_view, 16> kNames = {
        "fbclid", "gclid",   "dclid",   "msclkid", "yclid", "igshid",  "mc_cid",      "mc_eid",
        "ref",    "ref_src", "ref_url", "_hsenc",  "_hsmi", "mkt_tok", "oly_anon_id", "oly_enc_id"};
    const std::string lower = AsciiLower(name);
    if (lower.rfind("utm_", 0) == 0) return true;
    return std::find(kNames.begin(), kNames.end(), lower) != kNames.end();
}

std::string WithoutTrackingParameters(std::string_view query) {
    std::string kept;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty() || IsTrackingParameter(pair.substr(0, pair.find('=')))) continue;
        if (!kept.empty()) kept += '&';
        kept += pair;
    }
    return kept;
}

// FNV-1a: stable across runs and builds, unlike std::hash.
std::uint64_t Fnv1a(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string BodyDigest(std::string_view body) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(Fnv1a(body)));
    return text;
}

}  // namespace

std::string NormalisedLink(std::string_view link) {
    link = Trim(link);
    const std::size_t colon = link.find("://");
    if (colon == std::string_view::npos) return std::string(link);
    const std::string scheme = AsciiLower(link.substr(0, colon));
    if (scheme != "http" && scheme != "https") return std::string(link);
    std::string_view rest = link.substr(colon + 3);

    std::string_view fragment;
    if (const std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
        fragment = rest.substr(hash);
        rest = rest.substr(0, hash);
    }
    std::string_view query;
    if (const std::size_t mark = rest.find('?'); mark != std::string_view::npos) {
        query = rest.substr(mark + 1);
        rest = rest.substr(0, mark);
    }
    const std::size_t slash = rest.find('/');
    std::string host = AsciiLower(rest.substr(0, slash));
    std::string_view path = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    for (std::string_view port : {":80", ":443"}) {
        if (host.size() > port.size() && host.ends_with(port)) host.resize(host.size() - port.size());
    }
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);

    std::string out = "//" + host + std::string(path);
    const std::string kept = WithoutTrackingParameters(query);
    if (!kept.empty()) out += "?" + kept;
    out += fragment;
    return out;
}

std::string TitleDateKey(const TStoredItem& item) {
    const std::string title = CollapseBlanks(item.Title);
    const std::string date = item.DateUTC ? std::to_string(*item.DateUTC) : std::string(Trim(item.DateText));
    if (title.empty() || date.empty()) return {};
    return title + kSeparator + date;
}

std::int64_t IdentityHash(std::string_view key) {
    if (key.empty()) return 0;
    const auto hash = static_cast<std::int64_t>(Fnv1a(key));
    return hash == 0 ? 1 : hash;
}

std::string ItemKey(const TStoredItem& item) {
    // A one-letter tag per source, so a guid never collides with a link.
    if (const std::string_view guid = Trim(item.Guid); !guid.empty()) return "g:" + std::string(guid);
    if (const std::string link = NormalisedLink(item.Link); !link.empty()) return "l:" + link;
    const std::string title = CollapseBlanks(item.Title);
    const std::string date = item.DateUTC ? std::to_string(*item.DateUTC) : std::string(Trim(item.DateText));
    // An item with neither title nor date is known by its body alone.
    if (title.empty() && date.empty()) return "b:" + BodyDigest(item.Body);
    return "t:" + title + kSeparator + date;
}

}  // namespace items

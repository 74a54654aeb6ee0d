#include "Address.h"

#include <algorithm>
#include <cctype>

#include "Text.h"

namespace discover {

namespace {

using plat::AsciiLower;
using plat::StartsWithNoCase;

// Blanks around a pasted address, the no-break space (U+00A0, common in text
// copied from a page) included.
std::string_view TrimPasted(std::string_view text) {
    constexpr std::string_view kNoBreakSpace = "\xC2\xA0";
    for (text = plat::TrimLeft(text); text.starts_with(kNoBreakSpace); text = plat::TrimLeft(text))
        text.remove_prefix(kNoBreakSpace.size());
    for (text = plat::TrimRight(text); text.ends_with(kNoBreakSpace); text = plat::TrimRight(text))
        text.remove_suffix(kNoBreakSpace.size());
    return text;
}

struct Authority {
    std::string_view scheme;     // "" for a scheme-less reference
    std::string_view authority;  // between "//" and the path
    std::string_view rest;       // path, query and fragment
};

// Splits "scheme://authority/rest"; nullopt without "//".
std::optional<Authority> SplitAuthority(std::string_view url) {
    Authority parts;
    const auto marker = url.find("//");
    if (marker == std::string_view::npos) return std::nullopt;
    if (marker > 0) {
        if (url[marker - 1] != ':') return std::nullopt;
        parts.scheme = url.substr(0, marker - 1);
    }
    url.remove_prefix(marker + 2);
    const auto end = url.find_first_of("/?#");
    parts.authority = url.substr(0, end);
    parts.rest = end == std::string_view::npos ? std::string_view() : url.substr(end);
    return parts;
}

// The host[:port] part of an authority, user information dropped.
std::string_view HostPort(std::string_view authority) {
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    return authority;
}

// A host a person may type: a name with a dot (or "localhost"), an IPv4
// address or a bracketed IPv6 one, optionally with a port.
bool LooksLikeHost(std::string_view hostPort) {
    if (hostPort.empty()) return false;
    std::string_view host = hostPort;
    if (host.front() == '[') {
        const auto close = host.find(']');
        if (close == std::string_view::npos) return false;
        std::string_view after = host.substr(close + 1);
        return after.empty() ||
               (after.front() == ':' && after.size() > 1 &&
                std::all_of(after.begin() + 1, after.end(), [](unsigned char c) { return std::isdigit(c); }));
    }
    if (const auto colon = host.find(':'); colon != std::string_view::npos) {
        const std::string_view port = host.substr(colon + 1);
        if (port.empty() || !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
            return false;
        host = host.substr(0, colon);
    }
    if (host.empty() || host.front() == '.' || host.front() == '-') return false;
    for (const unsigned char c : host)
        if (!(std::isalnum(c) || c == '.' || c == '-' || c == '_' || c >= 0x80)) return false;
    return host.find('.') != std::string_view::npos || AsciiLower(host) == "localhost";
}

}  // namespace

std::optional<std::string> NormalizeAddress(std::string_view input) {
    std::string_view text = TrimPasted(input);
    if (text.empty()) return std::nullopt;
    for (const char c : text)
        if (plat::IsBlank(c) || static_cast<unsigned char>(c) < 0x20) return std::nullopt;

    std::string scheme = "https";
    // feed:https://… and feed:http://… wrap a real address; feed://host/path
    // is the old spelling of http://host/path.
    if (StartsWithNoCase(text, "feed:")) {
        text.remove_prefix(5);
        if (text.substr(0, 2) == "//")
            scheme = "http";
        else if (!StartsWithNoCase(text, "http://") && !StartsWithNoCase(text, "https://"))
            return std::nullopt;
    }
    if (StartsWithNoCase(text, "http://")) {
        scheme = "http";
        text.remove_prefix(5);
    } else if (StartsWithNoCase(text, "https://")) {
        scheme = "https";
        text.remove_prefix(6);
    } else if (text.substr(0, 2) != "//") {
        // Not one of ours: "ftp://x", "mailto:x", "javascript:x". A bare host
        // with a port ("example.org:8080/x") also has a colon, but no "//".
        if (text.find("://") != std::string_view::npos) return std::nullopt;
        const auto end = text.find_first_of("/?#");
        if (!LooksLikeHost(text.substr(0, end))) return std::nullopt;
        return scheme + "://" + std::string(text);
    }
    const auto parts = SplitAuthority(text);
    if (!parts || HostPort(parts->authority).empty()) return std::nullopt;
    return scheme + ":" + std::string(text);
}

bool IsBareHost(std::string_view input) {
    const std::string_view text = TrimPasted(input);
    return NormalizeAddress(text) && !StartsWithNoCase(text, "http://") && !StartsWithNoCase(text, "https://") &&
           !StartsWithNoCase(text, "feed:") && text.substr(0, 2) != "//";
}

std::string HostOf(std::string_view url) {
    const auto parts = SplitAuthority(url);
    if (!parts) return {};
    std::string_view host = HostPort(parts->authority);
    if (!host.empty() && host.front() == '[') return std::string(host.substr(0, host.find(']') + 1));
    return std::string(host.substr(0, host.find(':')));
}

std::string ComparableUrl(std::string_view url) {
    url = url.substr(0, url.find('#'));
    const auto parts = SplitAuthority(url);
    if (!parts || parts->scheme.empty()) return std::string(url);
    const std::string scheme = AsciiLower(parts->scheme);
    std::string authority = AsciiLower(parts->authority);
    const std::string defaultPort = scheme == "http" ? ":80" : scheme == "https" ? ":443" : "";
    if (!defaultPort.empty() && authority.size() > defaultPort.size() &&
        authority.compare(authority.size() - defaultPort.size(), defaultPort.size(), defaultPort) == 0)
        authority.resize(authority.size() - defaultPort.size());
    std::string rest(parts->rest);
    if (rest.empty() || rest.front() != '/') rest.insert(0, "/");
    return scheme + "://" + authority + rest;
}

}  // namespace discover

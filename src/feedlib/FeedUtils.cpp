#include "FeedUtils.h"

#include <array>
#include <cctype>
#include <vector>
#include <string_view>

#include "FeedDocument.h"
#include "Text.h"
#include "XmlDom.h"

namespace feed {

namespace {

// The code texts in the order of TLanguages (langAF .. langUK). "za-cn" is
// not a typo to fix: stored copies and feeds written by this library's
// ancestors carry it, and they must keep reading as langZH_CN.
constexpr std::array<std::string_view, langX> kLanguageCodes = {
    "af",    "sq",    "eu",    "be",    "bg",    "ca",    "za-cn", "zh-tw", "hr",    "cs",    "da",    "nl",
    "nl-be", "nl-nl", "en",    "en-au", "en-bz", "en-ca", "en-ie", "en-jm", "en-nz", "en-ph", "en-za", "en-tt",
    "en-gb", "en-us", "en-zw", "et",    "fo",    "fi",    "fr",    "fr-be", "fr-ca", "fr-fr", "fr-lu", "fr-mc",
    "fr-ch", "gl",    "gd",    "de",    "de-at", "de-de", "de-li", "de-lu", "de-ch", "el",    "haw",   "hu",
    "is",    "in",    "ga",    "it",    "it-it", "it-ch", "ja",    "ko",    "mk",    "no",    "pl",    "pt",
    "pt-br", "pt-pt", "ro",    "ro-mo", "ro-rp", "ru",    "ru-mo", "ru-ru", "sr",    "sk",    "sl",    "es",
    "es-ar", "es-bo", "es-cl", "es-co", "es-cr", "es-do", "es-ec", "es-sv", "es-gt", "es-hn", "es-mx", "es-ni",
    "es-pa", "es-py", "es-pe", "es-pr", "es-es", "es-uy", "es-ve", "sv",    "sv-fi", "sv-se", "tr",    "uk",
};

constexpr std::string_view kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int, 256> MakeBase64Values() {
    std::array<int, 256> values{};
    for (auto& v : values) v = -1;
    for (std::size_t i = 0; i < kBase64Alphabet.size(); ++i)
        values[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<int>(i);
    return values;
}
constexpr std::array<int, 256> kBase64Values = MakeBase64Values();

// A child holding markup is no hour or day; it is passed over.
std::string ValueOrEmpty(const xml::Node& node) {
    try {
        return node.Text();
    } catch (const xml::XmlError&) {
        return {};
    }
}

}  // namespace

TLanguages LanguageFromCode(const std::string& code) {
    for (std::size_t i = 0; i < kLanguageCodes.size(); ++i) {
        if (kLanguageCodes[i] == code) return static_cast<TLanguages>(i);
    }
    return langX;
}

std::string LanguageCode(TLanguages language) {
    const auto index = static_cast<std::size_t>(language);
    return index < kLanguageCodes.size() ? std::string(kLanguageCodes[index]) : std::string();
}

void ReadSkipHours(const xml::Node& element, TFeedDocument& rss) {
    auto& hours = rss.Channel().Optional().SkipHours();
    for (const xml::Node& child : element.Children()) {
        const std::string text = ValueOrEmpty(child);
        for (int hour = 0; hour < 24; ++hour) {
            if (text == std::to_string(hour)) hours.SetHour(hour, true);
        }
    }
}

void ReadSkipDays(const xml::Node& element, TFeedDocument& rss) {
    auto& days = rss.Channel().Optional().SkipDays();
    for (const xml::Node& child : element.Children()) {
        const std::string text = ValueOrEmpty(child);
        for (int day = 0; day < TRSSChannelSkipDays::kDayCount; ++day) {
            if (text == TRSSChannelSkipDays::DayName(day)) days.SetDay(day, true);
        }
    }
}

std::string DecodeContent(bool plain, const std::string& text) {
    if (plain) return text;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    unsigned buffer = 0;
    int bits = 0;
    for (unsigned char c : text) {
        if (c == '=') break;
        const int value = kBase64Values[c];
        if (value < 0) continue;
        buffer = (buffer << 6) | static_cast<unsigned>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return out;
}

std::string ComparableTitle(const std::string& title) { return xml::CleanText(title); }

}  // namespace feed

namespace feed {

namespace {

struct NamedEntity {
    const char* name;
    const char* text;
};

// The entities HTML titles really carry; anything else is left as written.
constexpr NamedEntity kNamedEntities[] = {
    {"amp", "&"},
    {"lt", "<"},
    {"gt", ">"},
    {"quot", "\""},
    {"apos", "'"},
    {"nbsp", "\xC2\xA0"},
    {"hellip", "\xE2\x80\xA6"},
    {"mdash", "\xE2\x80\x94"},
    {"ndash", "\xE2\x80\x93"},
    {"lsquo", "\xE2\x80\x98"},
    {"rsquo", "\xE2\x80\x99"},
    {"ldquo", "\xE2\x80\x9C"},
    {"rdquo", "\xE2\x80\x9D"},
    {"laquo", "\xC2\xAB"},
    {"raquo", "\xC2\xBB"},
    {"copy", "\xC2\xA9"},
    {"reg", "\xC2\xAE"},
    {"trade", "\xE2\x84\xA2"},
    {"euro", "\xE2\x82\xAC"},
    {"pound", "\xC2\xA3"},
    {"middot", "\xC2\xB7"},
    {"bull", "\xE2\x80\xA2"},
    {"eacute", "\xC3\xA9"},
    {"egrave", "\xC3\xA8"},
    {"uuml", "\xC3\xBC"},
    {"ouml", "\xC3\xB6"},
    {"auml", "\xC3\xA4"},
    {"szlig", "\xC3\x9F"},
};

// A reference to no character (0, a surrogate, past U+10FFFF) becomes the
// replacement character rather than bytes no XML document can hold.
void AppendCodePoint(std::string& out, unsigned long cp) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    xml::AppendUtf8(out, static_cast<char32_t>(cp));
}

// Decodes the reference at html[i] ('&'); returns the characters used, 0
// when it is no reference this decoder knows.
std::size_t DecodeReference(std::string_view html, std::size_t i, std::string& out) {
    const auto semicolon = html.find(';', i);
    if (semicolon == std::string_view::npos || semicolon - i > 12) return 0;
    const std::string_view body = html.substr(i + 1, semicolon - i - 1);
    if (body.size() >= 2 && body[0] == '#') {
        const bool hex = body[1] == 'x' || body[1] == 'X';
        const std::string_view digits = body.substr(hex ? 2 : 1);
        if (digits.empty()) return 0;
        unsigned long cp = 0;
        for (char c : digits) {
            int value;
            if (c >= '0' && c <= '9')
                value = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                value = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                value = c - 'A' + 10;
            else
                return 0;
            cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(value);
            if (cp > 0x10FFFF) cp = 0x110000;
        }
        AppendCodePoint(out, cp);
        return semicolon - i + 1;
    }
    for (const NamedEntity& entity : kNamedEntities) {
        if (body == entity.name) {
            out += entity.text;
            return semicolon - i + 1;
        }
    }
    return 0;
}

void AppendTextContent(std::string& out, const xml::Node& node) {
    for (xml::Node child = node.FirstChild(); child; child = child.NextSibling()) {
        switch (child.Type()) {
            case xml::NodeType::Text:
            case xml::NodeType::CData:
                out += child.Text();
                break;
            case xml::NodeType::Element:
                AppendTextContent(out, child);
                break;
            default:
                break;
        }
    }
}

bool IsSchemeChar(char c, bool first) {
    const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    return alpha || (!first && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
}

// RFC 3986 5.2.4: "." and ".." segments removed.
std::string RemoveDotSegments(std::string_view path) {
    std::vector<std::string_view> segments;
    const bool absolute = !path.empty() && path[0] == '/';
    std::size_t start = absolute ? 1 : 0;
    bool trailingSlash = false;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        const std::string_view segment =
            path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        const bool last = slash == std::string_view::npos;
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
            trailingSlash = true;
        } else if (segment == ".") {
            trailingSlash = true;
        } else {
            segments.push_back(segment);
            trailingSlash = false;
        }
        if (last) break;
        start = slash + 1;
    }
    std::string out = absolute ? "/" : "";
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (i) out += '/';
        out += segments[i];
    }
    if (trailingSlash && !segments.empty() && !segments.back().empty()) out += '/';
    return out;
}

struct URLParts {
    std::string_view scheme, authority, path, query, fragment;
    bool hasAuthority = false, hasQuery = false, hasFragment = false;
};

URLParts SplitURL(std::string_view url) {
    URLParts parts;
    if (const auto hash = url.find('#'); hash != std::string_view::npos) {
        parts.fragment = url.substr(hash + 1);
        parts.hasFragment = true;
        url = url.substr(0, hash);
    }
    if (const auto question = url.find('?'); question != std::string_view::npos) {
        parts.query = url.substr(question + 1);
        parts.hasQuery = true;
        url = url.substr(0, question);
    }
    if (IsAbsoluteURL(url)) {
        const auto colon = url.find(':');
        parts.scheme = url.substr(0, colon);
        url = url.substr(colon + 1);
    }
    if (url.size() >= 2 && url[0] == '/' && url[1] == '/') {
        url = url.substr(2);
        const auto slash = url.find('/');
        parts.authority = url.substr(0, slash);
        parts.hasAuthority = true;
        url = slash == std::string_view::npos ? std::string_view() : url.substr(slash);
    }
    parts.path = url;
    return parts;
}

}  // namespace

std::string HtmlToText(std::string_view html) {
    if (html.find_first_of("<&") == std::string_view::npos) return std::string(html);
    std::string out;
    out.reserve(html.size());
    for (std::size_t i = 0; i < html.size();) {
        const char c = html[i];
        if (c == '<') {
            const auto close = html.find('>', i);
            // A lone "<" ("1 < 2") is text, not a tag.
            const bool tag = close != std::string_view::npos && i + 1 < html.size() &&
                             (std::isalpha(static_cast<unsigned char>(html[i + 1])) || html[i + 1] == '/' ||
                              html[i + 1] == '!' || html[i + 1] == '?');
            if (tag) {
                i = close + 1;
                continue;
            }
        } else if (c == '&') {
            if (const std::size_t used = DecodeReference(html, i, out)) {
                i += used;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return out;
}

std::string TextContent(const xml::Node& element) {
    std::string out;
    AppendTextContent(out, element);
    return out;
}

bool IsAbsoluteURL(std::string_view reference) {
    const auto colon = reference.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    for (std::size_t i = 0; i < colon; ++i)
        if (!IsSchemeChar(reference[i], i == 0)) return false;
    return true;
}

std::string ResolveURL(std::string_view base, std::string_view reference) {
    reference = plat::Trim(reference, plat::Blanks::Xml);
    if (IsAbsoluteURL(reference) || !IsAbsoluteURL(base)) return std::string(reference);
    const URLParts b = SplitURL(base);
    const URLParts r = SplitURL(reference);
    std::string out(b.scheme);
    out += ':';
    std::string path;
    std::string_view query;
    bool hasQuery = false;
    if (r.hasAuthority) {
        out += "//";
        out += r.authority;
        path = RemoveDotSegments(r.path);
        query = r.query;
        hasQuery = r.hasQuery;
    } else {
        if (b.hasAuthority) {
            out += "//";
            out += b.authority;
        }
        if (r.path.empty()) {
            path = std::string(b.path);
            query = r.hasQuery ? r.query : b.query;
            hasQuery = r.hasQuery || b.hasQuery;
        } else {
            if (r.path[0] == '/') {
                path = RemoveDotSegments(r.path);
            } else {
                std::string merged;
                if (b.hasAuthority && b.path.empty())
                    merged = "/";
                else if (const auto slash = b.path.rfind('/'); slash != std::string_view::npos)
                    merged = std::string(b.path.substr(0, slash + 1));
                merged += r.path;
                path = RemoveDotSegments(merged);
            }
            query = r.query;
            hasQuery = r.hasQuery;
        }
    }
    out += path;
    if (hasQuery) {
        out += '?';
        out += query;
    }
    if (r.hasFragment) {
        out += '#';
        out += r.fragment;
    }
    return out;
}

}  // namespace feed

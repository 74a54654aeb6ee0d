#include "FeedUtils.h"

#include <array>
#include <string_view>

#include "FeedDocument.h"

namespace feed {

namespace {

// The code texts in the order of TLanguages (langAF .. langUK). "za-cn" is
// not a typo to fix: stored copies and feeds written by this library's
// ancestors carry it, and they must keep reading as langZH_CN.
constexpr std::array<std::string_view, langX> kLanguageCodes = {
    "af", "sq", "eu", "be", "bg", "ca", "za-cn", "zh-tw", "hr", "cs",
    "da", "nl", "nl-be", "nl-nl", "en", "en-au", "en-bz", "en-ca", "en-ie",
    "en-jm", "en-nz", "en-ph", "en-za", "en-tt", "en-gb", "en-us", "en-zw",
    "et", "fo", "fi", "fr", "fr-be", "fr-ca", "fr-fr", "fr-lu", "fr-mc",
    "fr-ch", "gl", "gd", "de", "de-at", "de-de", "de-li", "de-lu", "de-ch",
    "el", "haw", "hu", "is", "in", "ga", "it", "it-it", "it-ch", "ja",
    "ko", "mk", "no", "pl", "pt", "pt-br", "pt-pt", "ro", "ro-mo", "ro-rp",
    "ru", "ru-mo", "ru-ru", "sr", "sk", "sl", "es", "es-ar", "es-bo",
    "es-cl", "es-co", "es-cr", "es-do", "es-ec", "es-sv", "es-gt", "es-hn",
    "es-mx", "es-ni", "es-pa", "es-py", "es-pe", "es-pr", "es-es", "es-uy",
    "es-ve", "sv", "sv-fi", "sv-se", "tr", "uk",
};

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int, 256> MakeBase64Values() {
    std::array<int, 256> values{};
    for (auto& v : values) v = -1;
    for (std::size_t i = 0; i < kBase64Alphabet.size(); ++i)
        values[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<int>(i);
    return values;
}
constexpr std::array<int, 256> kBase64Values = MakeBase64Values();

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
        const std::string text = child.Text();
        for (int hour = 0; hour < 24; ++hour) {
            if (text == std::to_string(hour)) hours.SetHour(hour, true);
        }
    }
}

void ReadSkipDays(const xml::Node& element, TFeedDocument& rss) {
    auto& days = rss.Channel().Optional().SkipDays();
    for (const xml::Node& child : element.Children()) {
        const std::string text = child.Text();
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

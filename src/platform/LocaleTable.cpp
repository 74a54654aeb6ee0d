#include "LocaleTable.h"

#include <cstdlib>

#include "Text.h"

namespace plat {
namespace {

struct LocaleEntry {
    std::uint32_t lcid;
    const char* name;
    // Chosen when a locale name is asked for by its language alone ("de"),
    // or when two identifiers share a name (Spanish has a traditional and a
    // modern sort order, both "es-ES").
    bool preferred;
};

// Windows locale identifiers: the primary language in the low ten bits, the
// sub-language (mostly the country) above them.
constexpr LocaleEntry kLocales[] = {
    {0x0401, "ar-SA", true},  {0x0402, "bg-BG", true},  {0x0403, "ca-ES", true},  {0x0404, "zh-TW", false},
    {0x0405, "cs-CZ", true},  {0x0406, "da-DK", true},  {0x0407, "de-DE", true},  {0x0408, "el-GR", true},
    {0x0409, "en-US", true},  {0x040A, "es-ES", false}, {0x040B, "fi-FI", true},  {0x040C, "fr-FR", true},
    {0x040D, "he-IL", true},  {0x040E, "hu-HU", true},  {0x040F, "is-IS", true},  {0x0410, "it-IT", true},
    {0x0411, "ja-JP", true},  {0x0412, "ko-KR", true},  {0x0413, "nl-NL", true},  {0x0414, "nb-NO", true},
    {0x0415, "pl-PL", true},  {0x0416, "pt-BR", true},  {0x0418, "ro-RO", true},  {0x0419, "ru-RU", true},
    {0x041A, "hr-HR", true},  {0x041B, "sk-SK", true},  {0x041C, "sq-AL", true},  {0x041D, "sv-SE", true},
    {0x041E, "th-TH", true},  {0x041F, "tr-TR", true},  {0x0420, "ur-PK", true},  {0x0421, "id-ID", true},
    {0x0422, "uk-UA", true},  {0x0423, "be-BY", true},  {0x0424, "sl-SI", true},  {0x0425, "et-EE", true},
    {0x0426, "lv-LV", true},  {0x0427, "lt-LT", true},  {0x0429, "fa-IR", true},  {0x042A, "vi-VN", true},
    {0x042B, "hy-AM", true},  {0x042D, "eu-ES", true},  {0x042F, "mk-MK", true},  {0x0436, "af-ZA", true},
    {0x0437, "ka-GE", true},  {0x0438, "fo-FO", true},  {0x0439, "hi-IN", true},  {0x043E, "ms-MY", true},
    {0x043F, "kk-KZ", true},  {0x0441, "sw-KE", true},  {0x0445, "bn-IN", true},  {0x0449, "ta-IN", true},
    {0x0452, "cy-GB", true},  {0x0456, "gl-ES", true},  {0x0804, "zh-CN", true},  {0x0807, "de-CH", false},
    {0x0809, "en-GB", false}, {0x080A, "es-MX", false}, {0x080C, "fr-BE", false}, {0x0810, "it-CH", false},
    {0x0813, "nl-BE", false}, {0x0814, "nn-NO", true},  {0x0816, "pt-PT", false}, {0x083C, "ga-IE", true},
    {0x0C04, "zh-HK", false}, {0x0C07, "de-AT", false}, {0x0C09, "en-AU", false}, {0x0C0A, "es-ES", true},
    {0x0C0C, "fr-CA", false}, {0x1004, "zh-SG", false}, {0x1009, "en-CA", false}, {0x100C, "fr-CH", false},
    {0x1409, "en-NZ", false}, {0x1809, "en-IE", false}, {0x1C09, "en-ZA", false}, {0x4009, "en-IN", false},
};

// Language codes that systems still use under their withdrawn names.
struct LanguageAlias {
    const char* alias;
    const char* language;
};
constexpr LanguageAlias kLanguageAliases[] = {{"no", "nb"}, {"iw", "he"}, {"in", "id"}};

// "de_DE.UTF-8", "de-de" and "de_DE@euro" all become "de-de"; the
// comparison is then without regard to letter case.
std::string Canonical(std::string_view name) {
    const std::size_t end = name.find_first_of(".@");
    if (end != std::string_view::npos) {
        name = name.substr(0, end);
    }
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        out.push_back(c == '_' ? '-' : AsciiLower(c));
    }
    return out;
}

std::string LanguageOf(std::string_view canonicalName) {
    return std::string(canonicalName.substr(0, canonicalName.find('-')));
}

std::uint32_t LookupExact(const std::string& canonical) {
    std::uint32_t found = 0;
    for (const LocaleEntry& entry : kLocales) {
        if (Canonical(entry.name) == canonical) {
            if (entry.preferred) {
                return entry.lcid;
            }
            if (found == 0) {
                found = entry.lcid;
            }
        }
    }
    return found;
}

std::uint32_t LookupLanguage(const std::string& language) {
    std::uint32_t found = 0;
    for (const LocaleEntry& entry : kLocales) {
        if (LanguageOf(Canonical(entry.name)) == language) {
            if (entry.preferred) {
                return entry.lcid;
            }
            if (found == 0) {
                found = entry.lcid;
            }
        }
    }
    return found;
}

std::uint32_t LCIDFromEnvironment() {
    // The POSIX order of precedence for the language of messages. An empty
    // variable counts as unset; a set one decides, even when it is "C".
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            const std::uint32_t lcid = LCIDFromLocaleName(value);
            return lcid != 0 ? lcid : kLcidEnglishUS;
        }
    }
    return kLcidEnglishUS;
}

}  // namespace

std::string LocaleNameFromLCID(std::uint32_t lcid) {
    for (const LocaleEntry& entry : kLocales) {
        if (entry.lcid == lcid) {
            return entry.name;
        }
    }
    return {};
}

std::uint32_t LCIDFromLocaleName(std::string_view name) {
    const std::string canonical = Canonical(name);
    if (canonical.empty() || canonical == "c" || canonical == "posix") {
        return 0;
    }
    std::string language = LanguageOf(canonical);
    std::string rest = canonical.substr(language.size());
    for (const LanguageAlias& alias : kLanguageAliases) {
        if (language == alias.alias) {
            language = alias.language;
        }
    }
    if (const std::uint32_t exact = LookupExact(language + rest)) {
        return exact;
    }
    // A country the table does not list ("de_LU") still has a known
    // language, and a German speaker is better served in German.
    return LookupLanguage(language);
}

std::uint32_t UserDefaultLCID() { return LCIDFromEnvironment(); }

// A desktop session has no separate system language: the session's
// environment is what the system set up for this user.
std::uint32_t SystemDefaultLCID() { return LCIDFromEnvironment(); }

}  // namespace plat

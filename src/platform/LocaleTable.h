// Windows locale identifiers (LCIDs) name the language folders
// ("languages/0409" is 1033, English). This table maps them to locale names
// the rest of the system understands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

constexpr std::uint32_t kLcidUserDefault = 1024;    // LOCALE_USER_DEFAULT
constexpr std::uint32_t kLcidSystemDefault = 2048;  // LOCALE_SYSTEM_DEFAULT
constexpr std::uint32_t kLcidEnglishUS = 1033;

// "en-US" for 1033, "de-DE" for 1031; "" for an identifier not in the table.
std::string LocaleNameFromLCID(std::uint32_t lcid);
// The inverse; accepts "de_DE", "de-DE", "de_DE.UTF-8", and a bare
// language ("de") giving its primary locale. 0 when unknown.
std::uint32_t LCIDFromLocaleName(std::string_view name);

// The user's and the system's default locale, read from the environment
// (LC_ALL, LC_MESSAGES, LANG); 1033 when none is set or known.
std::uint32_t UserDefaultLCID();
std::uint32_t SystemDefaultLCID();

}  // namespace plat

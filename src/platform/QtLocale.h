// The user-interface side of the locale table: native language names
// through QLocale.
#pragma once

#include <cstdint>
#include <QString>

namespace plat {

// The language's own name for itself, as a language menu shows it:
// "English" for 1033, "Deutsch" for 1031. Falls back to the locale name,
// then to the hexadecimal identifier.
QString NativeLanguageName(std::uint32_t lcid);

}  // namespace plat

// The texts of the accounts' dialogs and messages: the language's, or the
// English given where the language file lacks one (an older translation,
// or the command line, which reads no language file).
#pragma once

#include <QString>

#include <exception>
#include <vector>

#include "Format.h"
#include "uvxLanguage.h"

inline QString AccountText(const char* name, const QString& english, const std::vector<plat::FormatArg>& args = {}) {
    try {
        const QString text = LangFmtQ(name, args);
        if (!text.isEmpty()) return text;
    } catch (const std::exception&) {
    }
    return english;
}

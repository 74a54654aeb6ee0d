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
    return LangTextQ(name, args, english);
}

// An address on plain http: the API password and the session's token would
// cross the network readable. Warned of, never refused: a server on this
// computer or a trusted network may rightly go without TLS.
inline bool TravelsReadable(const QString& address) {
    return address.trimmed().startsWith(QStringLiteral("http://"), Qt::CaseInsensitive);
}

inline QString PlainHttpWarning() {
    return AccountText("AccountPlainHttp",
                       QStringLiteral("This address is plain http://: the API password and the session token cross "
                                      "the network readable by anyone on the way. Use https:// unless the server is "
                                      "on this computer or a network you trust."));
}

// What the running window does for a second start: the verbs of the single-
// instance channel besides "show".
//   add ADDRESS          the Add Feed dialog for an address, or a feed or
//                        OPML file (answered at once; the dialog follows)
//   import-opml FILE     imports into the feed list: "ok N feeds imported,
//                        M skipped" or "error <reason>"
//   export-opml FILE     writes the feed list: "ok …" or "error <reason>"
//   export-starred FILE  writes the starred items as RSS 2.0: "ok …" or
//                        "error <reason>"
//   add-account JSON     adds a checked account ({"base", "user",
//                        "password"}; the channel is the user's own): "ok …"
//                        or "error <reason>"
// Anything else is "unknown".
#pragma once

#include <QByteArray>
#include <QString>

class TFormMain;

QString AnswerInstanceRequest(TFormMain& form, const QByteArray& verb, const QString& argument);

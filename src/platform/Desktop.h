// Opening addresses and documents with the programs the desktop chooses:
// external links in the user's browser, the help file in its viewer.
#pragma once

#include <QString>
#include <QUrl>

namespace plat {

// The address the desktop is asked to open: a text with a scheme
// ("https://...", "mailto:...") is taken as it is; anything else is a path,
// relative to the current directory unless absolute, made a file URL.
// Empty for an empty text.
QUrl DesktopUrlFor(const QString& addressOrPath);

// Opens an address or a file with the desktop's program for it. Returns
// false when there is nothing to open or the desktop cannot open it.
bool OpenWithDesktop(const QString& addressOrPath);

}  // namespace plat

// What the start-up learnt before the window existed (a home passed over,
// shipped files left old, no channel for a second start), in the words of
// the chosen language for the status bar.
#pragma once

#include <QString>
#include <QStringList>

#include "Home.h"

namespace startup {

// One line per notice; the language must be loaded.
QStringList NoticeTexts(const plat::THomeChoice& Home, const QString& ChannelProblem);

// The same in English on standard error, at once, for a start that never
// reaches a window.
void LogHomeNotices(const plat::THomeChoice& Home);

}  // namespace startup

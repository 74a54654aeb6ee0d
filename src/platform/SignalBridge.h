// Ending the program from outside: a desktop session that logs out, a
// service manager or the user's Ctrl+C sends SIGTERM or SIGINT. The first
// such signal asks the program to close the way the user would, on the Qt
// main thread, so settings and feed copies are written as usual; a second
// one means the user has lost patience and ends the process at once.
#pragma once

#include <functional>

namespace plat {

// Call on the Qt main thread once a QCoreApplication exists. The first
// SIGTERM or SIGINT afterwards calls `firstSignal` from the event loop;
// any later one ends the process with _exit(128 + signal number). Calling
// it again replaces the callback. Raises std::logic_error without a
// QCoreApplication and std::system_error when the signal channel cannot be
// set up.
void InstallQuitOnSignals(std::function<void()> firstSignal);

}  // namespace plat

// "Start when I log in": a desktop entry in the session's autostart folder,
// $XDG_CONFIG_HOME/autostart/<application id>.desktop, that starts this
// program with this home. It is the one file Quillet writes outside its
// home, and only while the user asks for it.
#pragma once

#include <QString>

class TOptions;

namespace autostart {

// The option on the General page.
inline constexpr char kOptionPath[] = "general\\StartOnLogin";

// $XDG_CONFIG_HOME/autostart/<id>.desktop, ~/.config when XDG_CONFIG_HOME is
// unset or not absolute.
QString EntryPath();

// The entry that starts Program with --home Home. Raises
// std::invalid_argument for a path a desktop entry cannot carry (a line
// break in it).
QString EntryText(const QString& Program, const QString& Home);

// Whether the entry at EntryPath() starts this home.
bool StartsHome(const QString& Home);

// Writes the entry (when it differs) or removes it. An entry that starts
// another home (a portable copy's) is left alone by a removal. Raises
// std::runtime_error with the reason when the file cannot be written or
// removed.
void Apply(bool Enabled, const QString& Program, const QString& Home);

// Apply with the option's stored value, the running program and the working
// directory (the home).
void ApplyOption(TOptions& Options);

}  // namespace autostart

// Where Quillet keeps its files. The program addresses everything relative
// to its working directory (languages/, config.xml, feeds/, rss.xsl, the
// help page), so the first thing it does is choose that folder and enter it:
//   1. the folder given with --home DIR;
//   2. the current directory, when it already holds config.xml or languages/
//      (a portable copy, or the staged build folder);
//   3. the folder of the executable, when that holds them;
//   4. the per-user folder $XDG_DATA_HOME/quillet (~/.local/share/quillet).
// A portable folder (2, 3) is taken only when it is the user's and neither
// group nor others may write to it: whoever can change config.xml or the
// stylesheet there decides what Quillet fetches and shows. One that is not
// is passed over with a notice; --home is obeyed, with the same warning.
// A home Quillet makes itself is private to the user (mode 0700).
// A home that is not a portable folder is filled from the installed, read-
// only shared data (share/quillet beside the program's bin/, else one of
// $XDG_DATA_DIRS): missing files are copied, and the files that belong to
// the program rather than the user (languages, rss.xsl, help) are refreshed
// when the installed copy is newer. config.xml is never overwritten. The
// refresh is best effort: a copy that fails (a full disk) keeps the old one
// and yields a notice; only a home left without any language is an error.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "UserAccess.h"

namespace plat {

// Everything the choice depends on, so that it can be made without touching
// the real process (tests give their own).
struct THomeEnvironment {
    std::filesystem::path CurrentDir;
    std::filesystem::path ProgramDir;                   // folder of the executable
    std::optional<std::filesystem::path> ExplicitHome;  // --home DIR
    std::string XdgDataHome;                            // empty when unset
    std::string UserHome;                               // $HOME
    std::string XdgDataDirs;                            // empty when unset
    unsigned UserId = CurrentUserId();                  // whose folders are trusted

    // The running process: its current directory, executable and variables;
    // ExplicitHome from the command line.
    static THomeEnvironment FromProcess(int argc, char** argv);
};

enum class THomeKind { Explicit, Current, Program, PerUser };

// Something the user should learn at start-up, though Quillet starts.
struct THomeNotice {
    enum TKind {
        PassedOver,    // Folder held the program's files but others can change it
        OpenToOthers,  // the home named with --home (Folder) can be changed by others
        NotRefreshed,  // shipped files in the home (Folder) kept their old copies
    };
    TKind Kind;
    std::filesystem::path Folder;
    std::string Detail;  // the reason in English, for the log
};

struct THomeChoice {
    std::filesystem::path Folder;
    THomeKind Kind = THomeKind::PerUser;
    // The installed data the home is filled from; empty for portable homes
    // and when nothing is installed.
    std::filesystem::path SharedData;
    std::vector<THomeNotice> Notices;
};

// The folder name under the data folders, both per user and shared.
inline constexpr const char* kHomeFolderName = "quillet";

// The value of "--home DIR" or "--home=DIR" before any "--"; nullopt
// without one. Raises std::invalid_argument when --home is the last
// argument.
std::optional<std::string> HomeArgument(int argc, char** argv);

// Whether the folder holds the program's files: config.xml or languages/.
bool HoldsProgramFiles(const std::filesystem::path& folder);

// The per-user home: $XDG_DATA_HOME/quillet, or ~/.local/share/quillet when
// XDG_DATA_HOME is unset or not absolute.
std::filesystem::path PerUserHome(const THomeEnvironment& env);

// Installed shared data folders, most preferred first: ../share/quillet from
// the executable, then <each of XDG_DATA_DIRS>/quillet (default
// /usr/local/share:/usr/share). Only folders holding languages/ count.
std::vector<std::filesystem::path> SharedDataCandidates(const THomeEnvironment& env);
std::optional<std::filesystem::path> FindSharedData(const THomeEnvironment& env);

THomeChoice ChooseHome(const THomeEnvironment& env);

// Creates the home with its feeds/ folder and fills it from shared data as
// described above; returns the notices of shipped files it could not bring
// up to date. Raises std::runtime_error with a readable reason when the
// folder or feeds/ cannot be made, or when the home would stay without any
// language file.
std::vector<THomeNotice> PrepareHome(const THomeChoice& choice);

// ChooseHome, PrepareHome and make the home the working directory. Returns
// the choice with every notice; errors as for PrepareHome.
THomeChoice EnterHome(const THomeEnvironment& env);

}  // namespace plat

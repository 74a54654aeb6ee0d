// The program's command line, read into a value before anything else runs:
//   quillet [--home DIR] [ADDRESS | FILE]...
//   quillet [--home DIR] --import-opml FILE
//   quillet [--home DIR] --export-opml FILE
//   quillet [--home DIR] --export-starred FILE
//   quillet [--home DIR] --add-account ADDRESS --user NAME   (password on stdin)
//   quillet --help | --version
//
// It is read before the QApplication exists, because --help and --version
// must work without a display. The same argv is then handed to QApplication,
// which takes out its own options (-platform, -style, -display…); so the
// parser knows those options and skips them with their values rather than
// taking them for addresses. Qt also accepts them with two dashes, and so
// does the parser. An argument of "--" ends the options: everything after it
// is an address or a file, even when it begins with a dash.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct TCommandLine {
    std::optional<std::string> Home;  // --home DIR, as given
    // Feed addresses (https://…, feed:https://…, feed://host/path), bare
    // hosts, or paths to a feed or .opml file, as given and in order.
    std::vector<std::string> Addresses;
    std::optional<std::string> ImportOpml;
    std::optional<std::string> ExportOpml;
    std::optional<std::string> ExportStarred;
    // --add-account ADDRESS --user NAME: a feed-server account.
    std::optional<std::string> AddAccount;
    std::optional<std::string> User;
    bool Help = false;
    bool Version = false;
    // Non-empty for a bad command line: what is wrong, in plain words.
    std::string Error;
};

TCommandLine ParseCommandLine(int argc, char** argv);

// The --help text: synopsis, the options one per line, and where the files
// are kept.
std::string UsageText();

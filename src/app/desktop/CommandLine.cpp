#include "CommandLine.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

namespace {

const std::string_view kHome = "--home";
const std::string_view kImportOpml = "--import-opml";
const std::string_view kExportOpml = "--export-opml";
const std::string_view kExportStarred = "--export-starred";
const std::string_view kAddAccount = "--add-account";
const std::string_view kUser = "--user";
// The same words as the home folder's own reading of --home, so that both
// say the same thing about the same mistake.
const char* const kHomeNeedsFolder = "--home needs a folder, as in --home ~/feeds";

// The options QGuiApplication, QApplication and the X11 platform take out of
// argv. They are skipped here so that QApplication still finds them.
constexpr std::array<std::string_view, 16> kQtOptionsWithValue = {
    "platform",    "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "style",  "stylesheet",
    "display",     "geometry",           "title",         "icon",   "name",
    "visual"};
constexpr std::array<std::string_view, 7> kQtFlags = {"reverse", "widgetcount", "testability",  "sync",
                                                      "nograb",  "dograb",      "qmljsdebugger"};

template <std::size_t N>
bool Contains(const std::array<std::string_view, N>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::string UnknownOption(std::string_view arg) {
    return "unknown option " + std::string(arg) + " (see quillet --help)";
}

// Reads the arguments one by one; the first mistake ends the reading.
class TParser {
public:
    TParser(int argc, char** argv) : Argc(argc), Argv(argv) {}

    TCommandLine Run() {
        bool optionsEnded = false;
        for (Index = 1; Index < Argc && Result.Error.empty(); ++Index) {
            const std::string_view arg = Argv[Index] ? Argv[Index] : "";
            // An empty argument names nothing: a launcher's empty field.
            if (arg.empty()) continue;
            if (optionsEnded || arg == "-" || arg.front() != '-')
                Result.Addresses.emplace_back(arg);
            else if (arg == "--")
                optionsEnded = true;
            else
                Option(arg);
        }
        if (Result.Error.empty()) CheckCombination();
        return std::move(Result);
    }

private:
    void Option(std::string_view arg) {
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        std::optional<std::string_view> attached;
        if (equals != std::string_view::npos) attached = arg.substr(equals + 1);

        if (name == "--help" || name == "--version") {
            if (attached) return Fail(name, " takes no value");
            (name == "--help" ? Result.Help : Result.Version) = true;
        } else if (name == kHome) {
            // The last --home counts, as for the home folder's own reading.
            auto value = Value(attached);
            if (!value || value->empty())
                Result.Error = kHomeNeedsFolder;
            else
                Result.Home = std::string(*value);
        } else if (name == kImportOpml || name == kExportOpml || name == kExportStarred) {
            auto& target = name == kImportOpml   ? Result.ImportOpml
                           : name == kExportOpml ? Result.ExportOpml
                                                 : Result.ExportStarred;
            auto value = Value(attached);
            if (!value || value->empty())
                return Fail(name, " needs a file, as in " + std::string(name) +
                                      (name == kExportStarred ? " starred.xml" : " feeds.opml"));
            if (target) return Fail(name, " is given twice");
            target = std::string(*value);
        } else if (name == kAddAccount || name == kUser) {
            auto& target = name == kAddAccount ? Result.AddAccount : Result.User;
            auto value = Value(attached);
            if (!value || value->empty())
                return Fail(name, name == kUser ? " needs a user name, as in --user alice"
                                                : " needs the server's address, as in --add-account "
                                                  "https://rss.example.org/api/greader.php");
            if (target) return Fail(name, " is given twice");
            target = std::string(*value);
        } else {
            QtOption(arg, name, attached);
        }
    }

    // Qt's options come with one dash or, as Qt also reads them, two.
    void QtOption(std::string_view arg, std::string_view name, std::optional<std::string_view> attached) {
        std::string_view bare = name.substr(name.starts_with("--") ? 2 : 1);
        if (Contains(kQtFlags, bare)) return;
        if (Contains(kQtOptionsWithValue, bare)) {
            if (!Value(attached)) Fail(name, " needs a value");
            return;
        }
        Result.Error = UnknownOption(arg.substr(0, arg.find('=')));
    }

    // An option's value: after "=", else the next argument (taken whatever
    // it looks like, as the home folder's reading of --home does).
    std::optional<std::string_view> Value(std::optional<std::string_view> attached) {
        if (attached) return attached;
        if (Index + 1 >= Argc || !Argv[Index + 1]) return std::nullopt;
        return std::string_view(Argv[++Index]);
    }

    void CheckCombination() {
        // The file commands, of which one at most is given.
        std::vector<std::string_view> files;
        if (Result.ImportOpml) files.push_back(kImportOpml);
        if (Result.ExportOpml) files.push_back(kExportOpml);
        if (Result.ExportStarred) files.push_back(kExportStarred);
        if (files.size() > 1)
            Result.Error = std::string(files[0]) + " and " + std::string(files[1]) + " cannot be given together";
        else if (!files.empty() && !Result.Addresses.empty())
            Result.Error =
                std::string(files[0]) + " takes one file and no addresses (found " + Result.Addresses.front() + ")";
        else if (Result.User && !Result.AddAccount)
            Result.Error = "--user belongs to --add-account";
        else if (Result.AddAccount && !Result.User)
            Result.Error = "--add-account needs --user NAME";
        else if (Result.AddAccount && (!files.empty() || !Result.Addresses.empty()))
            Result.Error = "--add-account takes one address and --user, nothing else";
    }

    void Fail(std::string_view name, const std::string& what) { Result.Error = std::string(name) + what; }

    int Argc;
    char** Argv;
    int Index = 1;
    TCommandLine Result;
};

}  // namespace

TCommandLine ParseCommandLine(int argc, char** argv) { return TParser(argc, argv).Run(); }

std::string UsageText() {
    return R"(Usage:
  quillet [--home DIR] [ADDRESS | FILE]...
  quillet [--home DIR] --import-opml FILE
  quillet [--home DIR] --export-opml FILE
  quillet [--home DIR] --export-starred FILE
  quillet [--home DIR] --add-account ADDRESS --user NAME < password
  quillet --help | --version

Quillet watches news feeds and tells you about new items.
One instance runs per home folder; a second start hands its work to it.

Options:
  ADDRESS | FILE       open the Add Feed dialog for a feed address (https://...,
                       feed:https://..., feed://host/path, a bare host such as
                       example.org) or a feed or .opml file
  --home DIR           keep settings and feeds in DIR instead of the usual home
  --import-opml FILE   add the feeds of an OPML file, without the dialog
  --export-opml FILE   write the feed list to an OPML file, without the dialog
  --export-starred FILE
                       write the starred items, newest star first, to an RSS
                       2.0 file, each naming its feed; exits 0, or 1 with the
                       reason
  --add-account ADDRESS --user NAME
                       add the account of a feed server with the Google Reader
                       API (FreshRSS, Miniflux...): ADDRESS is the API's
                       (https://host/api/greader.php) or a FreshRSS site's; the
                       API password is read as one line from standard input.
                       Signs in first; exits 0 when the account was added, or
                       1 with the reason
  --help               print this help and exit
  --version            print the version and exit
  --                   end of options: what follows is an address or a file
  Qt's own options (-platform, -style, -display and the like) are left to Qt.

Files:
  Quillet keeps everything in its home folder, chosen in this order:
    1. the folder given with --home DIR;
    2. the current folder, when it holds config.xml or languages/ and is
       yours and not writable by others;
    3. the program's folder, likewise;
    4. $XDG_DATA_HOME/quillet (~/.local/share/quillet).
  config.xml           settings and the feed list (accounts among it)
  accounts/<id>.secret an account's password, only where no secret store
                       (Secret Service) answers; readable only by you
  feeds/<id>.xml       the stored copy of each feed
  languages/<LCID>/    the texts (language.xml) and option pages (struct.xml)

More in the manual page: man quillet
)";
}

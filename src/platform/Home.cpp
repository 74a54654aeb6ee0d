#include "Home.h"

#include <cstdlib>
#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "AtomicFile.h"

#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace plat {

namespace {

// Installed files that are the program's, not the user's: a newer install
// replaces them. Folders are refreshed file by file.
const char* const kShippedFiles[] = {"rss.xsl"};
const char* const kShippedFolders[] = {"languages", "help"};
const char* const kConfigFile = "config.xml";
// The delivered configuration, kept in the home so that a user who deletes
// config.xml starts again from it.
const char* const kDefaultConfigFile = "config.default.xml";

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string UserHomeFolder() {
    std::string home = Env("HOME");
    if (!home.empty()) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return {};
}

std::vector<std::string> SplitColons(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(':', start), text.size());
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool IsDirectory(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

bool IsFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// Copies through a temporary file in the target folder, so an interrupted
// copy never leaves half a language file behind, and gives the copy the
// source's time so that "newer" compares installs, not copy times.
void CopyAtomically(const fs::path& source, const fs::path& target) {
    std::ifstream in(source, std::ios::binary);
    if (!in) throw std::runtime_error("Cannot read '" + source.string() + "'");
    TAtomicFile file(target.string());
    std::vector<char> buffer(64 * 1024);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
        file.Write(std::string_view(buffer.data(), static_cast<std::size_t>(in.gcount())));
    if (in.bad()) throw std::runtime_error("Cannot read '" + source.string() + "'");
    file.Finish();
    fs::last_write_time(file.TemporaryPath(), fs::last_write_time(source));
    file.Commit();
}

// Fills the home from the installed data one file at a time. A file that
// cannot be copied (a full disk, a read error) keeps its old copy and the
// rest go on; the first reason is kept for the notice.
class TRefresh {
public:
    void IfMissing(const fs::path& source, const fs::path& target) {
        Step(target, [&] {
            if (!fs::exists(target)) CopyAtomically(source, target);
        });
    }
    void IfNewer(const fs::path& source, const fs::path& target) {
        Step(target, [&] {
            if (!fs::exists(target) || fs::last_write_time(source) > fs::last_write_time(target))
                CopyAtomically(source, target);
        });
    }
    void Folder(const fs::path& source, const fs::path& target) {
        Step(target, [&] {
            fs::create_directories(target);
            for (const auto& entry : fs::directory_iterator(source)) {
                const fs::path to = target / entry.path().filename();
                if (entry.is_directory())
                    Folder(entry.path(), to);
                else if (entry.is_regular_file())
                    IfNewer(entry.path(), to);
            }
        });
    }
    const std::string& FirstFailure() const { return FFirstFailure; }

private:
    template <typename Body>
    void Step(const fs::path& target, Body body) {
        // Earlier versions copied through "<name>.part" and left it behind
        // when the disk was full.
        std::error_code ignored;
        fs::remove(fs::path(target.string() + ".part"), ignored);
        try {
            body();
        } catch (const fs::filesystem_error& error) {
            Failed(error.code().message() + " (" + error.path1().string() + ")");
        } catch (const std::runtime_error& error) {
            Failed(error.what());
        }
    }
    void Failed(const std::string& reason) {
        if (FFirstFailure.empty()) FFirstFailure = reason;
    }

    std::string FFirstFailure;
};

// Whether some languages/<LCID>/ holds a language file.
bool HoldsAnyLanguage(const fs::path& home) {
    std::error_code error;
    for (fs::directory_iterator it(home / "languages", error), end; !error && it != end; it.increment(error)) {
        if (IsFile(it->path() / "language.xml")) return true;
    }
    return false;
}

// Makes a missing home private to the user; an existing one is left as the
// user set it.
void CreateHomeFolder(const fs::path& home) {
    if (IsDirectory(home)) return;
    if (home.has_parent_path()) fs::create_directories(home.parent_path());
    if (fs::create_directory(home)) fs::permissions(home, fs::perms::owner_all, fs::perm_options::replace);
}

fs::path Absolute(const fs::path& path, const fs::path& base) {
    return (path.is_absolute() ? path : base / path).lexically_normal();
}

fs::path WithoutTrailingSlash(fs::path path) {
    if (!path.has_filename() && path.has_parent_path() && path != path.root_path()) path = path.parent_path();
    return path;
}

}  // namespace

std::optional<std::string> HomeArgument(int argc, char** argv) {
    static const std::string kOption = "--home";
    std::optional<std::string> home;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i] ? argv[i] : "";
        if (arg == "--") break;  // the rest are addresses or files
        if (arg == kOption) {
            if (i + 1 >= argc) throw std::invalid_argument("--home needs a folder, as in --home ~/feeds");
            home = argv[++i];
        } else if (arg.rfind(kOption + "=", 0) == 0) {
            home = arg.substr(kOption.size() + 1);
        }
    }
    if (home && home->empty()) throw std::invalid_argument("--home needs a folder, as in --home ~/feeds");
    return home;
}

THomeEnvironment THomeEnvironment::FromProcess(int argc, char** argv) {
    THomeEnvironment env;
    std::error_code error;
    env.CurrentDir = fs::current_path(error);
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (!error) env.ProgramDir = executable.parent_path();
    if (auto home = HomeArgument(argc, argv)) env.ExplicitHome = fs::path(*home);
    env.XdgDataHome = Env("XDG_DATA_HOME");
    env.UserHome = UserHomeFolder();
    env.XdgDataDirs = Env("XDG_DATA_DIRS");
    return env;
}

bool HoldsProgramFiles(const fs::path& folder) {
    if (folder.empty()) return false;
    return IsFile(folder / kConfigFile) || IsDirectory(folder / "languages");
}

fs::path PerUserHome(const THomeEnvironment& env) {
    // The XDG rules say a relative value is invalid and is to be ignored.
    fs::path data = env.XdgDataHome;
    if (data.empty() || !data.is_absolute()) data = fs::path(env.UserHome) / ".local" / "share";
    return WithoutTrailingSlash(data) / kHomeFolderName;
}

std::vector<fs::path> SharedDataCandidates(const THomeEnvironment& env) {
    std::vector<fs::path> candidates;
    if (!env.ProgramDir.empty()) {
        // An installed tree keeps bin/ and share/ side by side wherever it
        // was put; a portable folder carries the data beside the program.
        candidates.push_back((env.ProgramDir / ".." / "share" / kHomeFolderName).lexically_normal());
        candidates.push_back(env.ProgramDir);
    }
    const std::string dirs = env.XdgDataDirs.empty() ? "/usr/local/share:/usr/share" : env.XdgDataDirs;
    for (const std::string& dir : SplitColons(dirs)) {
        if (fs::path(dir).is_absolute()) candidates.push_back(WithoutTrailingSlash(dir) / kHomeFolderName);
    }
    return candidates;
}

std::optional<fs::path> FindSharedData(const THomeEnvironment& env) {
    for (const fs::path& candidate : SharedDataCandidates(env)) {
        if (IsDirectory(candidate / "languages")) return candidate;
    }
    return std::nullopt;
}

THomeChoice ChooseHome(const THomeEnvironment& env) {
    THomeChoice choice;
    // A portable folder that others can change is passed over: its
    // config.xml and stylesheet would be theirs to set.
    auto usablePortable = [&](const fs::path& folder) {
        if (!HoldsProgramFiles(folder)) return false;
        const TFolderTrust trust = CheckFolder(folder, env.UserId, kWritableByOthers);
        if (trust == TFolderTrust::Trusted) return true;
        std::error_code error;
        const bool told = std::any_of(choice.Notices.begin(), choice.Notices.end(), [&](const THomeNotice& notice) {
            return fs::equivalent(notice.Folder, folder, error);
        });
        if (!told) choice.Notices.push_back({THomeNotice::PassedOver, folder, DescribeTrust(trust)});
        return false;
    };
    if (env.ExplicitHome) {
        choice.Folder = WithoutTrailingSlash(Absolute(*env.ExplicitHome, env.CurrentDir));
        choice.Kind = THomeKind::Explicit;
    } else if (usablePortable(env.CurrentDir)) {
        choice.Folder = env.CurrentDir;
        choice.Kind = THomeKind::Current;
        return choice;
    } else if (usablePortable(env.ProgramDir)) {
        choice.Folder = env.ProgramDir;
        choice.Kind = THomeKind::Program;
        return choice;
    } else {
        choice.Folder = PerUserHome(env);
        choice.Kind = THomeKind::PerUser;
    }
    // The folder the user named is used whatever its mode, with a warning
    // when others can change it. One Quillet makes is private
    // (CreateHomeFolder).
    if (choice.Kind == THomeKind::Explicit) {
        const TFolderTrust trust = CheckFolder(choice.Folder, env.UserId, kWritableByOthers);
        if (trust == TFolderTrust::OtherOwner || trust == TFolderTrust::OpenToOthers)
            choice.Notices.push_back({THomeNotice::OpenToOthers, choice.Folder, DescribeTrust(trust)});
    }
    // A home never fills itself from itself (--home naming a portable folder).
    std::error_code error;
    if (auto shared = FindSharedData(env); shared && !fs::equivalent(*shared, choice.Folder, error))
        choice.SharedData = *shared;
    return choice;
}

std::vector<THomeNotice> PrepareHome(const THomeChoice& choice) {
    // A portable folder is used as it is.
    if (choice.Kind == THomeKind::Current || choice.Kind == THomeKind::Program) return {};
    const fs::path& home = choice.Folder;
    auto fatal = [&](const std::string& reason) {
        return std::runtime_error("Quillet cannot prepare its folder " + home.string() + ": " + reason);
    };
    try {
        CreateHomeFolder(home);
    } catch (const fs::filesystem_error& error) {
        throw fatal(error.code().message() + " (" + error.path1().string() + ")");
    }
    TRefresh refresh;
    if (!choice.SharedData.empty()) {
        const fs::path& shared = choice.SharedData;
        for (const char* folder : kShippedFolders) {
            if (IsDirectory(shared / folder)) refresh.Folder(shared / folder, home / folder);
        }
        for (const char* file : kShippedFiles) {
            if (IsFile(shared / file)) refresh.IfNewer(shared / file, home / file);
        }
        // A portable folder keeps its delivered configuration apart from
        // the user's; an installed one ships only the default.
        const fs::path defaults =
            IsFile(shared / kDefaultConfigFile) ? shared / kDefaultConfigFile : shared / kConfigFile;
        if (IsFile(defaults)) {
            refresh.IfNewer(defaults, home / kDefaultConfigFile);
            // Should this fail, loading the settings makes it from the
            // default and reports a failure itself.
            refresh.IfMissing(defaults, home / kConfigFile);
        }
    }
    std::error_code error;
    fs::create_directories(home / "feeds", error);
    if (error) throw fatal(error.message() + " (" + (home / "feeds").string() + ")");
    if (!HoldsAnyLanguage(home)) {
        if (!refresh.FirstFailure().empty()) throw fatal("no language file could be copied: " + refresh.FirstFailure());
        throw std::runtime_error("The folder " + home.string() +
                                 " holds no language files, and Quillet's installed data was not found "
                                 "(share/quillet beside the program's folder, or in XDG_DATA_DIRS).");
    }
    if (refresh.FirstFailure().empty()) return {};
    return {{THomeNotice::NotRefreshed, home, refresh.FirstFailure()}};
}

THomeChoice EnterHome(const THomeEnvironment& env) {
    THomeChoice choice = ChooseHome(env);
    for (THomeNotice& notice : PrepareHome(choice)) choice.Notices.push_back(std::move(notice));
    std::error_code error;
    fs::current_path(choice.Folder, error);
    if (error)
        throw std::runtime_error("Quillet cannot enter its folder " + choice.Folder.string() + ": " + error.message());
    return choice;
}

}  // namespace plat

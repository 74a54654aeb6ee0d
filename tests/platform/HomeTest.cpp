// The choice of the home folder and how a new home is filled from the
// installed data.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include <unistd.h>

#include "Home.h"
#include "Isolation.h"
#include "TempFolder.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

// An installed tree: <root>/bin/ for the program, <root>/share/quillet/.
struct Installed {
    fs::path root;
    fs::path bin() const { return root / "bin"; }
    fs::path data() const { return root / "share" / "quillet"; }
    explicit Installed(const fs::path& at) : root(at) {
        fs::create_directories(bin());
        Write(data() / "languages" / "0409" / "language.xml", "en v1");
        Write(data() / "languages" / "0407" / "language.xml", "de v1");
        Write(data() / "rss.xsl", "xsl v1");
        Write(data() / "help" / "Quillet.html", "help v1");
        Write(data() / "config.xml", "<config>default</config>");
    }
};

class HomeTest : public ::testing::Test {
protected:
    testsupport::TempFolder temp{"quillet-home"};
    fs::path base = temp.Path();
    Installed installed{base / "usr"};
    fs::path start = base / "start";

    plat::THomeEnvironment Env() {
        fs::create_directories(start);
        // Whatever the umask: a portable folder the group may write is passed over.
        for (const fs::path& folder : {start, installed.bin()}) fs::permissions(folder, fs::perms(0755));
        plat::THomeEnvironment env;
        env.CurrentDir = start;
        env.ProgramDir = installed.bin();
        env.UserHome = (base / "user").string();
        env.XdgDataDirs = "/nonexistent";
        return env;
    }
};

}  // namespace

TEST_F(HomeTest, ChoosesTheFirstFolderThatHoldsTheProgramsFiles) {
    struct Case {
        const char* name;
        bool currentHasConfig, currentHasLanguages, programHasLanguages, xdgDataHome;
        plat::THomeKind kind;
    };
    const Case cases[] = {
        {"portable folder with config", true, false, true, false, plat::THomeKind::Current},
        {"portable folder with languages", false, true, true, false, plat::THomeKind::Current},
        {"program folder holds the files", false, false, true, false, plat::THomeKind::Program},
        {"installed, default data home", false, false, false, false, plat::THomeKind::PerUser},
        {"installed, XDG_DATA_HOME", false, false, false, true, plat::THomeKind::PerUser},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(start);
        fs::remove_all(installed.bin() / "languages");
        auto env = Env();
        if (c.currentHasConfig) Write(start / "config.xml", "<config/>");
        if (c.currentHasLanguages) fs::create_directories(start / "languages");
        if (c.programHasLanguages) fs::create_directories(installed.bin() / "languages");
        if (c.xdgDataHome) env.XdgDataHome = (base / "xdg-data/").string();

        const plat::THomeChoice choice = plat::ChooseHome(env);
        EXPECT_EQ(choice.Kind, c.kind);
        switch (c.kind) {
            case plat::THomeKind::Current:
                EXPECT_EQ(choice.Folder, start);
                EXPECT_TRUE(choice.SharedData.empty()) << "a portable folder is never filled";
                break;
            case plat::THomeKind::Program:
                EXPECT_EQ(choice.Folder, installed.bin());
                break;
            default:
                EXPECT_EQ(choice.Folder,
                          c.xdgDataHome ? base / "xdg-data" / "quillet" : base / "user/.local/share/quillet");
                EXPECT_EQ(choice.SharedData, installed.data());
        }
    }
}

TEST_F(HomeTest, ExplicitHomeWinsAndRelativePathsAndBadXdgValuesAreHandled) {
    auto env = Env();
    Write(start / "config.xml", "<config/>");
    env.ExplicitHome = fs::path("mine/");
    const auto explicitChoice = plat::ChooseHome(env);
    EXPECT_EQ(explicitChoice.Kind, plat::THomeKind::Explicit);
    EXPECT_EQ(explicitChoice.Folder, start / "mine");
    EXPECT_EQ(explicitChoice.SharedData, installed.data());

    // XDG: a relative XDG_DATA_HOME is ignored; XDG_DATA_DIRS is searched
    // in order when nothing lies beside the program.
    env = Env();
    fs::remove(start / "config.xml");
    env.XdgDataHome = "relative/data";
    env.ProgramDir = base / "elsewhere";
    Write(base / "second/quillet/languages/0409/language.xml", "x");
    env.XdgDataDirs = (base / "first").string() + "::relative:" + (base / "second/").string();
    const auto perUser = plat::ChooseHome(env);
    EXPECT_EQ(perUser.Folder, base / "user/.local/share/quillet");
    EXPECT_EQ(perUser.SharedData, base / "second/quillet");
}

TEST_F(HomeTest, HomeArgumentIsReadInBothSpellingsAndAMissingFolderIsAnError) {
    auto parse = [](std::vector<std::string> args) {
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        return plat::HomeArgument(static_cast<int>(argv.size()), argv.data());
    };
    EXPECT_EQ(parse({"quillet"}), std::nullopt);
    EXPECT_EQ(parse({"quillet", "--home", "/a b"}), "/a b");
    EXPECT_EQ(parse({"quillet", "-style", "x", "--home=/c"}), "/c");
    EXPECT_THROW(parse({"quillet", "--home"}), std::invalid_argument);
    EXPECT_THROW(parse({"quillet", "--home="}), std::invalid_argument);
}

TEST_F(HomeTest, FirstStartFillsTheHomeAndLaterStartsKeepTheUsersFiles) {
    auto env = Env();
    const fs::path previous = fs::current_path();
    const plat::THomeChoice first = plat::EnterHome(env);
    const fs::path home = first.Folder;
    EXPECT_EQ(fs::current_path(), home);
    fs::current_path(previous);
    EXPECT_EQ(Read(home / "config.xml"), "<config>default</config>");
    EXPECT_EQ(Read(home / "config.default.xml"), "<config>default</config>");
    EXPECT_EQ(Read(home / "languages/0407/language.xml"), "de v1");
    EXPECT_EQ(Read(home / "rss.xsl"), "xsl v1");
    EXPECT_EQ(Read(home / "help/Quillet.html"), "help v1");
    EXPECT_TRUE(fs::is_directory(home / "feeds"));
    EXPECT_TRUE(fs::is_empty(start)) << "nothing is written where the program was started";

    // The user works: settings change, a feed is stored, a language file is
    // edited by hand after the install.
    Write(home / "config.xml", "<config>mine</config>");
    Write(home / "feeds/1.xml", "feed");
    Write(home / "languages/0407/language.xml", "de edited");
    fs::last_write_time(home / "languages/0407/language.xml", fs::last_write_time(installed.data() / "rss.xsl") + 1h);

    // A newer install: new config default, changed stylesheet, new language.
    Write(installed.data() / "config.xml", "<config>default v2</config>");
    Write(installed.data() / "rss.xsl", "xsl v2");
    Write(installed.data() / "languages/040C/language.xml", "fr v2");
    for (const char* file : {"config.xml", "rss.xsl", "languages/040C/language.xml"})
        fs::last_write_time(installed.data() / file, fs::last_write_time(installed.data() / file) + 10s);

    plat::PrepareHome(plat::ChooseHome(env));
    EXPECT_EQ(Read(home / "config.xml"), "<config>mine</config>") << "config.xml is never overwritten";
    EXPECT_EQ(Read(home / "config.default.xml"), "<config>default v2</config>");
    EXPECT_EQ(Read(home / "feeds/1.xml"), "feed");
    EXPECT_EQ(Read(home / "rss.xsl"), "xsl v2") << "a newer shipped file replaces the old one";
    EXPECT_EQ(Read(home / "languages/040C/language.xml"), "fr v2");
    EXPECT_EQ(Read(home / "languages/0407/language.xml"), "de edited") << "an older install does not win";
    for (const auto& entry : fs::recursive_directory_iterator(home))
        EXPECT_NE(entry.path().extension(), ".part") << "no half copy is left: " << entry.path();

    // Deleting config.xml brings the delivered one back at the next start.
    fs::remove(home / "config.xml");
    plat::PrepareHome(plat::ChooseHome(env));
    EXPECT_EQ(Read(home / "config.xml"), "<config>default v2</config>");
}

TEST_F(HomeTest, AHomeWithoutLanguagesOrThatCannotBeMadeIsAClearError) {
    auto env = Env();
    env.ProgramDir = base / "nowhere";  // no installed data anywhere
    try {
        plat::PrepareHome(plat::ChooseHome(env));
        ADD_FAILURE() << "expected an error";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("language"), std::string::npos) << error.what();
    }

    env = Env();
    Write(base / "file", "x");
    env.ExplicitHome = base / "file" / "home";  // below a plain file
    try {
        plat::PrepareHome(plat::ChooseHome(env));
        ADD_FAILURE() << "expected an error";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find((base / "file" / "home").string()), std::string::npos) << error.what();
    }
}

TEST_F(HomeTest, AFolderOthersCanChangeIsPassedOverAndANamedOneIsUsedWithAWarning) {
    enum Owner { Self, Nobody, StrangerById };
    using N = plat::THomeNotice;
    struct Case {
        const char* name;
        unsigned mode;
        Owner owner;
        bool named;  // --home
        std::optional<N::TKind> notice;
    };
    const Case cases[] = {
        {"the user's own portable folder", 0755, Self, false, std::nullopt},
        {"a shared folder like /tmp", 01777, Self, false, N::PassedOver},
        {"a folder the group may write", 0775, Self, false, N::PassedOver},
        {"another user's folder", 0755, Nobody, false, N::PassedOver},
        {"another user's folder, by user id", 0755, StrangerById, false, N::PassedOver},
        {"--home naming a shared folder", 01777, Self, true, N::OpenToOthers},
        {"--home naming a private folder", 0700, Self, true, std::nullopt},
    };
    const auto nobody = testsupport::AnotherUser();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.owner == Nobody && !nobody) {
            std::printf("skipped row \"%s\": only root can give a folder to another user\n", c.name);
            continue;
        }
        fs::remove_all(start);
        auto env = Env();
        Write(start / "config.xml", "<config/>");
        fs::permissions(start, fs::perms(c.mode));
        if (c.owner == Nobody) {
            ASSERT_EQ(::chown(start.c_str(), nobody->uid, nobody->gid), 0);
        }
        if (c.owner == StrangerById) env.UserId = plat::CurrentUserId() + 1;
        if (c.named) env.ExplicitHome = start;

        const plat::THomeChoice choice = plat::ChooseHome(env);
        const bool passedOver = c.notice == N::PassedOver;
        EXPECT_EQ(choice.Kind, passedOver ? plat::THomeKind::PerUser
                               : c.named  ? plat::THomeKind::Explicit
                                          : plat::THomeKind::Current);
        EXPECT_EQ(choice.Folder, passedOver ? plat::PerUserHome(env) : start);
        ASSERT_EQ(choice.Notices.size(), c.notice ? 1u : 0u);
        if (c.notice) {
            EXPECT_TRUE(choice.Notices[0].Kind == *c.notice && choice.Notices[0].Folder == start);
        }
    }
}

TEST_F(HomeTest, AFullDiskKeepsTheOldShippedFilesAndOnlyAHomeWithoutLanguagesIsFatal) {
    auto env = Env();
    const plat::THomeChoice existing = plat::ChooseHome(env);
    plat::PrepareHome(existing);
    Write(existing.Folder / "rss.xsl.part", "");  // what a failed copy once left behind
    // A newer install whose files no longer fit on the disk.
    for (const char* file : {"rss.xsl", "languages/0409/language.xml", "languages/0407/language.xml"}) {
        Write(installed.data() / file, std::string(4096, 'x'));
        fs::last_write_time(installed.data() / file, fs::last_write_time(installed.data() / file) + 10s);
    }
    env.ExplicitHome = base / "fresh";
    const plat::THomeChoice fresh = plat::ChooseHome(env);
    // 0: starts with one notice; 1: an error that names the languages
    const std::pair<const plat::THomeChoice*, int> cases[] = {{&existing, 0}, {&fresh, 1}};
    for (const auto& [choice, expected] : cases) {
        const int status = testsupport::RunInChild([choice = choice] {
            testsupport::FullDisk full(1024);
            try {
                const auto notices = plat::PrepareHome(*choice);
                return notices.size() == 1 && notices[0].Kind == plat::THomeNotice::NotRefreshed ? 0 : 2;
            } catch (const std::runtime_error& error) {
                return std::string(error.what()).find("language") != std::string::npos ? 1 : 3;
            }
        });
        EXPECT_EQ(status, expected) << choice->Folder;
        for (const auto& entry : fs::recursive_directory_iterator(choice->Folder)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name.find(".tmp-") == std::string::npos && name.find(".part") == std::string::npos) << name;
        }
    }
    EXPECT_EQ(Read(existing.Folder / "rss.xsl"), "xsl v1");
    EXPECT_EQ(Read(existing.Folder / "languages/0409/language.xml"), "en v1");
}

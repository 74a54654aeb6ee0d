#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Home.h"
#include "TempFolder.h"

namespace {

using Strings = std::vector<std::string>;

TCommandLine Parse(Strings args, std::optional<std::string>* homeSeenByHome = nullptr) {
    args.insert(args.begin(), "quillet");
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    if (homeSeenByHome) *homeSeenByHome = plat::HomeArgument(static_cast<int>(argv.size()), argv.data());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLineTest, ArgumentsBecomeFieldsOrOneError) {
    struct Case {
        Strings Args;
        std::optional<std::string> Home;
        Strings Addresses;
        std::optional<std::string> Import, Export;
        bool Help, Version;
        std::string Error;
    };
    const std::vector<Case> cases = {
        {{}, {}, {}, {}, {}, false, false, ""},
        {{"https://a.example/f", "feed:https://b.example/", "example.org", "x.opml"},
         {},
         {"https://a.example/f", "feed:https://b.example/", "example.org", "x.opml"},
         {},
         {},
         false,
         false,
         ""},
        {{"--home", "/h", "feed://c.example/rss"}, "/h", {"feed://c.example/rss"}, {}, {}, false, false, ""},
        {{"--home=/a b", "--home", "/last"}, "/last", {}, {}, {}, false, false, ""},
        {{"--home", "/h", "--import-opml", "in.opml"}, "/h", {}, "in.opml", {}, false, false, ""},
        {{"--export-opml=out.opml"}, {}, {}, {}, "out.opml", false, false, ""},
        // Qt's options and their values are left for QApplication.
        {{"-platform", "offscreen", "-style=fusion", "--display", ":1", "-reverse", "a.xml"},
         {},
         {"a.xml"},
         {},
         {},
         false,
         false,
         ""},
        // After "--" nothing is an option, not even --home.
        {{"--", "--home", "-x.xml"}, {}, {"--home", "-x.xml"}, {}, {}, false, false, ""},
        {{"", "-", "b.xml"}, {}, {"-", "b.xml"}, {}, {}, false, false, ""},
        {{"--help", "https://a.example/"}, {}, {"https://a.example/"}, {}, {}, true, false, ""},
        {{"--version"}, {}, {}, {}, {}, false, true, ""},
        {{"--bogus"}, {}, {}, {}, {}, false, false, "unknown option --bogus (see quillet --help)"},
        {{"--bogus=1"}, {}, {}, {}, {}, false, false, "unknown option --bogus (see quillet --help)"},
        {{"-x"}, {}, {}, {}, {}, false, false, "unknown option -x (see quillet --help)"},
        {{"a.xml", "-platform"}, {}, {}, {}, {}, false, false, "-platform needs a value"},
        {{"--import-opml"}, {}, {}, {}, {}, false, false, "--import-opml needs a file, as in --import-opml feeds.opml"},
        {{"--export-opml="},
         {},
         {},
         {},
         {},
         false,
         false,
         "--export-opml needs a file, as in --export-opml feeds.opml"},
        {{"--home"}, {}, {}, {}, {}, false, false, "--home needs a folder, as in --home ~/feeds"},
        {{"--import-opml", "a", "--export-opml", "b"},
         {},
         {},
         {},
         {},
         false,
         false,
         "--import-opml and --export-opml cannot be given together"},
        {{"--import-opml", "a", "--import-opml", "b"}, {}, {}, {}, {}, false, false, "--import-opml is given twice"},
        {{"x.org", "--export-opml", "b"},
         {},
         {},
         {},
         {},
         false,
         false,
         "--export-opml takes one file and no addresses (found x.org)"},
        {{"--version=2"}, {}, {}, {}, {}, false, false, "--version takes no value"},
    };
    EXPECT_EQ(Parse({"--home", "/h", "--export-starred=s.xml"}).ExportStarred, "s.xml");
    for (const auto& [args, error] : {std::pair<Strings, std::string>{{"--export-starred"}, "needs a file, as in"},
                                      {{"--export-opml", "a", "--export-starred", "b"}, "cannot be given together"},
                                      {{"x.org", "--export-starred", "b"}, "takes one file and no addresses"}})
        EXPECT_NE(Parse(args).Error.find(error), std::string::npos) << Parse(args).Error;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Args));
        std::optional<std::string> homeSeenByHome;
        TCommandLine line;
        try {
            line = Parse(c.Args, &homeSeenByHome);
        } catch (const std::invalid_argument&) {
            line = Parse(c.Args);
            EXPECT_FALSE(line.Error.empty()) << "the home folder refuses what the command line accepts";
        }
        EXPECT_EQ(line.Error, c.Error);
        if (!c.Error.empty()) continue;
        EXPECT_EQ(line.Home, c.Home);
        // main() chooses the home from argv by itself; both must agree.
        EXPECT_EQ(homeSeenByHome, c.Home);
        EXPECT_EQ(line.Addresses, c.Addresses);
        EXPECT_EQ(line.ImportOpml, c.Import);
        EXPECT_EQ(line.ExportOpml, c.Export);
        EXPECT_EQ(line.Help, c.Help);
        EXPECT_EQ(line.Version, c.Version);
    }
}

// The built program answers --help and --version without a display and
// without choosing or making a home; a bad option fails before either.
TEST(CommandLineTest, TheProgramAnswersWithoutADisplayOrAHome) {
    struct Case {
        std::string Args;
        int Status;
        Strings Expected;
    };
    const std::vector<Case> cases = {
        {"--help",
         0,
         {"--home DIR", "--import-opml FILE", "--export-opml FILE", "--help", "--version", "config.xml", "feeds/",
          "languages/", "$XDG_DATA_HOME/quillet"}},
        {"--version", 0, {"quillet " QUILLET_VERSION "\n"}},
        {"--bogus", 1, {"quillet: unknown option --bogus (see quillet --help)\n"}},
    };
    const testsupport::TempFolder scratch("quillet-cli");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args);
        const std::string command = "cd '" + scratch.Path() +
                                    "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME='" +
                                    scratch.Path() + "' XDG_DATA_HOME='" + scratch.Path() + "/data' '" +
                                    QUILLET_PROGRAM_PATH + "' " + c.Args + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        std::array<char, 4096> buffer{};
        while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) output.append(buffer.data(), n);
        const int status = pclose(pipe);
        ASSERT_TRUE(WIFEXITED(status)) << output;
        EXPECT_EQ(WEXITSTATUS(status), c.Status) << output;
        for (const auto& expected : c.Expected) EXPECT_NE(output.find(expected), std::string::npos) << expected;
        EXPECT_TRUE(std::filesystem::is_empty(scratch.Path())) << "something was written";
    }
}

}  // namespace

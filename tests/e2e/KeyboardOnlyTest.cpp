// The staged program on an X display of its own, used with the keyboard
// alone (xdotool): add a feed, move to the next unread one, mark an item
// unread by the item keys, mark all read,
// find an item and open it, give Mark as Unread a key in Options >
// Shortcuts and use it. Each step is judged by what config.xml says.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "LoopbackServer.h"
#include "StagedHome.h"
#include "XmlDom.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const fs::path kStage = QUILLET_STAGE_DIR;

bool Installed(const char* program) {
    return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Rss(const std::string& title, const std::vector<std::string>& items) {
    std::string body;
    for (const auto& item : items)
        body += "<item><title>" + item + "</title><link>http://example.org/" + item + "</link><guid>" + item +
                "</guid></item>";
    return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + title +
           "</title><link>http://example.org/</link><description>d</description>" + body + "</channel></rss>";
}

// The output of a command, "" when it failed; every call is bounded.
std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(("timeout 60 " + command + " 2>/dev/null").c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        if (::pclose(pipe) != 0) return {};
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(200ms);
    }
    return done();
}

void Stop(pid_t& pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    int status = 0;
    if (!WaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 20s)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    pid = -1;
}

class KeyboardOnly : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kStage / "quillet")) GTEST_SKIP() << "no staged program at " << kStage;
        for (const char* program : {"Xvfb", "xdotool"})
            if (!Installed(program)) GTEST_SKIP() << program << " is not installed: the keyboard-only test needs it";
        server.AddEndpoint("/apples.xml", 200, {}, Rss("Apples", {"Cox", "Gala"}));
        server.AddEndpoint("/animals.xml", 200, {}, Rss("Animals", {"Quokka", "Wombat"}));
        server.AddEndpoint("/added.xml", 200, {}, Rss("Added", {"Fresh"}));
        StartDisplay();
        ASSERT_GE(display, 0) << "Xvfb did not start";
        home = fs::temp_directory_path() / ("quillet-keys-" + std::to_string(::getpid()));
        testsupport::StageWorkingDirectory(kStage, home, Config());
        for (const char* program : {"quillet", "quillet-pane"}) fs::copy_file(kStage / program, home / program);
        StartQuillet();
    }

    void TearDown() override {
        Stop(quillet);
        Stop(xvfb);
        if (!HasFailure() && !home.empty()) fs::remove_all(home);
    }

    // Xvfb on the first free display, which it names on a pipe. Without
    // -noreset it would start again when its last client leaves (xdotool,
    // before the program is up) and die writing to the closed pipe.
    void StartDisplay() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        xvfb = ::fork();
        if (xvfb == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                     "-noreset", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        pollfd ready{fds[0], POLLIN, 0};
        char number[16] = {};
        if (::poll(&ready, 1, 20000) == 1 && ::read(fds[0], number, sizeof number - 1) > 0) display = std::atoi(number);
        ::close(fds[0]);
        // xdotool, and the program below, talk to it.
        ::setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
    }

    void StartQuillet() {
        quillet = ::fork();
        if (quillet == 0) {
            if (::chdir(home.c_str()) != 0) ::_exit(127);
            if (::geteuid() == 0) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
            ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 1);
            ::setenv("QT_QPA_PLATFORM", "xcb", 1);
            // What the program says goes beside its files, for a failure's report.
            if (std::FILE* log = std::freopen("quillet.log", "w", stderr)) (void)log;
            ::execl("./quillet", "./quillet", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }

    // Two feeds, polled every second, in a window of a known size.
    std::string Config() const {
        return R"(<?xml version="1.0"?>
<config>
  <general><UpdateInterval>1</UpdateInterval><SecureFeeds>False</SecureFeeds><StartTrayIcon>False</StartTrayIcon></general>
  <internal>
    <language>1033</language>
    <mainform><Width>900</Width><Height>600</Height><TreeViewWidth>250</TreeViewWidth></mainform>
    <feedlist>
      <items>
        <item url=")" +
               server.Url("/apples.xml") + R"(" id="1" caption="" unread="0" lastupdate=""/>
        <item url=")" +
               server.Url("/animals.xml") + R"(" id="2" caption="" unread="0" lastupdate=""/>
      </items>
      <autoincrement><id>3</id></autoincrement>
    </feedlist>
  </internal>
</config>
)";
    }

    // An attribute of a feed's element, or of the shortcut of an action, in
    // config.xml as it is on disk; nothing while absent or half written.
    std::optional<std::string> Stored(const std::string& element, const std::string& key, const std::string& value,
                                      const std::string& attribute) const {
        try {
            xml::Document saved;
            saved.LoadFromFile((home / "config.xml").string());
            xml::Node list =
                element == "item"
                    ? saved.DocumentElement().ChildByName("internal").ChildByName("feedlist").ChildByName("items")
                    : saved.DocumentElement().ChildByName("shortcuts");
            if (!list.IsNull())
                for (const xml::Node& node : list.ChildElements())
                    if (node.Name() == element && node.Attribute(key) == value) return node.Attribute(attribute);
        } catch (const std::exception&) {
        }
        return std::nullopt;
    }
    int Unread(const std::string& id) const {
        return std::atoi(Stored("item", "id", id, "unread").value_or("-1").c_str());
    }

    // The window of this title, waited for, with the keyboard.
    bool Focus(const std::string& title) {
        const std::string window = Shell("xdotool search --sync --onlyvisible --name '^" + title + "$' | head -n 1");
        return !window.empty() && !Shell("xdotool windowfocus --sync " + window + " && echo ok").empty();
    }
    void Keys(const std::string& keys) { Shell("xdotool key --clearmodifiers --delay 80 " + keys + " && echo ok"); }
    // A menu by its Alt key, then an entry by its letter once it is open.
    void Menu(const std::string& menu, const std::string& entry) {
        Keys("alt+" + menu);
        std::this_thread::sleep_for(1s);
        Keys(entry);
    }
    void Type(const std::string& text) { Shell("xdotool type --delay 40 '" + text + "' && echo ok"); }

    testsupport::LoopbackServer server;
    fs::path home;
    int display = -1;
    pid_t xvfb = -1;
    pid_t quillet = -1;
};

struct TStep {
    const char* What;
    std::function<void()> Keys;
    std::function<bool()> Done;
};

}  // namespace

TEST_F(KeyboardOnly, AFeedAddedReadFoundAndAShortcutOfOnesOwn) {
    constexpr char kMain[] = "Veltrax Quillet";
    const TStep steps[] = {
        {"both feeds fetched, with unread items", [] {}, [&] { return Unread("1") == 2 && Unread("2") == 2; }},
        {"Ctrl+N, an address and Enter add a feed",
         [&] {
             Focus(kMain);
             Keys("ctrl+n");
             Focus("Add Feed");
             Type(server.Url("/added.xml"));
             Keys("Return");
         },
         [&] { return Stored("item", "id", "3", "url") == server.Url("/added.xml") && Unread("3") >= 0; }},
        // The filter's Escape hands the keyboard to the tree; Home selects
        // the list's top, N the first feed with unread items, whose page
        // marks them read.
        {"N shows the next unread feed",
         [&] {
             Focus(kMain);
             Keys("ctrl+f Escape Home n");
         },
         [&] { return Unread("1") == 0 && Unread("2") == 2; }},
        // J makes the item the reader is at the current one; M marks it
        // read (as the page already did), M again unread.
        {"J, M and M leave the first item unread",
         [&] {
             Focus(kMain);
             Keys("j m m");
         },
         [&] { return Unread("1") == 1 && Unread("2") == 2; }},
        {"Feed > Mark All as Read",
         [&] {
             Focus(kMain);
             Menu("e", "s");
         },
         [&] { return Unread("1") == 0 && Unread("2") == 0; }},
        {"Find in Feeds opens the item found",
         [&] {
             Focus(kMain);
             Keys("ctrl+shift+f");
             Focus("Find in Feeds");
             Type("Quokka");
             Keys("Return");
         },
         [] { return true; }},
        {"Options > Shortcuts gives Mark as Unread Ctrl+U",
         [&] {
             Focus(kMain);
             Menu("f", "o");
             Focus("Options");
             Keys("alt+s");
             Type("mark as u");
             Keys("alt+p ctrl+u Return");
         },
         [&] { return Stored("shortcut", "action", "ActionMarkUnread", "keys") == "Ctrl+U"; }},
        {"Ctrl+U brings back the unread items of the feed found",
         [&] {
             Focus(kMain);
             Keys("ctrl+u");
         },
         [&] { return Unread("2") == 2 && Unread("1") == 0; }},
    };
    for (const TStep& step : steps) {
        step.Keys();
        ASSERT_TRUE(WaitFor(step.Done, 60s))
            << step.What << "; config.xml:\n"
            << Shell("cat " + (home / "config.xml").string()) << "\nquillet's output:\n"
            << Shell("tail -n 40 " + (home / "quillet.log").string());
    }
}

// Starts the staged quillet binary as a user would, under xvfb-run, with
// three feeds served from 127.0.0.1, and checks what it leaves in its
// working directory.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "LoopbackServer.h"
#include "StagedHome.h"
#include "XmlDom.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const fs::path kStage = QUILLET_STAGE_DIR;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

std::string RssFeed(const std::vector<std::string>& titles) {
    std::string items;
    for (const auto& title : titles)
        items += "<item><title>" + title + "</title><link>http://example.org/" + title + "</link></item>";
    return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Daily RSS</title>"
           "<link>http://example.org/</link><description>d</description>" +
           items + "</channel></rss>";
}

const char* kRdfFeed = R"(<?xml version="1.0"?>
<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#" xmlns="http://purl.org/rss/1.0/">
  <channel rdf:about="http://example.org/"><title>Weekly RDF</title><link>http://example.org/</link>
    <description>r</description></channel>
  <item rdf:about="http://example.org/1"><title>R1</title><link>http://example.org/1</link></item>
  <item rdf:about="http://example.org/2"><title>R2</title><link>http://example.org/2</link></item>
</rdf:RDF>)";

const char* kAtomFeed = R"(<?xml version="1.0"?>
<feed version="0.3" xmlns="http://purl.org/atom/ns#">
  <title>Monthly Atom</title><link rel="alternate" href="http://example.org/"/><tagline>a</tagline>
  <entry><title>A1</title><link href="http://example.org/a1"/><id>a1</id></entry>
</feed>)";

// The quillet process started by xvfb-run (its child, once it exists).
pid_t FindChildNamed(pid_t ancestor, const std::string& name) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string pidText = entry.path().filename();
        if (pidText.find_first_not_of("0123456789") != std::string::npos) continue;
        // The whole name: the reading pane's quillet-pane also starts with it.
        std::string comm = ReadFile(entry.path() / "comm");
        if (comm.substr(0, comm.find('\n')) != name) continue;
        // Walk up the parents to see whether it descends from `ancestor`.
        pid_t pid = std::stoi(pidText);
        for (int depth = 0; depth < 5 && pid > 1; ++depth) {
            std::istringstream stat(ReadFile("/proc/" + std::to_string(pid) + "/stat"));
            std::string skip, comm2, state;
            pid_t parent = 0;
            stat >> skip >> comm2 >> state >> parent;
            if (parent == ancestor) return std::stoi(pidText);
            pid = parent;
        }
    }
    return -1;
}

template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::seconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return done();
}

// Sends `signal` to the program that xvfb-run (`runner`) started and waits
// for the runner to end; after 30 s both are killed. Gives the program's
// pid (-1 when it was not found) and whether the runner ended by itself.
struct TStopped {
    pid_t quillet;
    bool ended;
};
TStopped StopProgram(pid_t runner, int signal) {
    const pid_t quillet = FindChildNamed(runner, "quillet");
    if (quillet > 0) ::kill(quillet, signal);
    int status = 0;
    const bool ended = WaitFor([&] { return ::waitpid(runner, &status, WNOHANG) == runner; }, 30s);
    if (!ended) {
        if (quillet > 0) ::kill(quillet, SIGKILL);
        ::kill(runner, SIGKILL);
        ::waitpid(runner, &status, 0);
    }
    return {quillet, ended};
}

// A config.xml polling every second, with one feed per address (ids 1, 2, ...).
std::string ConfigPolling(const std::vector<std::string>& urls) {
    std::string items;
    for (std::size_t i = 0; i < urls.size(); ++i)
        items += "        <item url=\"" + urls[i] + "\" id=\"" + std::to_string(i + 1) +
                 "\" caption=\"\" unread=\"0\" lastupdate=\"\"/>\n";
    return R"(<?xml version="1.0"?>
<config>
  <general><UpdateInterval>1</UpdateInterval><BalloonTimeout>10</BalloonTimeout>
    <StartTrayIcon>False</StartTrayIcon><ExternalBrowser>False</ExternalBrowser>
    <SecureFeeds>False</SecureFeeds><FollowRedirects>False</FollowRedirects></general>
  <internal>
    <language>1033</language>
    <mainform><Width>700</Width><Height>500</Height><TreeViewWidth>250</TreeViewWidth></mainform>
    <feedlist>
      <items>
)" + items +
           R"(      </items>
      <autoincrement><id>)" +
           std::to_string(urls.size() + 1) + R"(</id></autoincrement>
    </feedlist>
  </internal>
</config>
)";
}

// Starts the staged program in `home` under xvfb-run; returns xvfb-run's pid.
pid_t StartQuillet(const fs::path& home) {
    pid_t runner = ::fork();
    if (runner == 0) {
        if (::chdir(home.c_str()) != 0) ::_exit(127);
        if (::geteuid() == 0) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
        ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 1);
        ::unsetenv("QT_QPA_PLATFORM");
        ::execlp("xvfb-run", "xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", "./quillet",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return runner;
}

// The staged program polling a changing RSS feed (id 1) and fixed RDF and
// Atom feeds from 127.0.0.1, in a working directory of its own.
class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kStage / "quillet")) GTEST_SKIP() << "no staged program at " << kStage;
        if (std::system("command -v xvfb-run >/dev/null 2>&1") != 0) GTEST_SKIP() << "xvfb-run is not installed";
        server.AddHandler("/rss.xml", [this](const testsupport::Request&) {
            std::lock_guard lock(feedMutex);
            testsupport::Response response;
            response.headers = {{"Content-Type", "application/rss+xml"}};
            response.body = RssFeed(rssTitles);
            return response;
        });
        server.AddEndpoint("/rdf.xml", 200, {}, kRdfFeed);
        server.AddEndpoint("/atom.xml", 200, {}, kAtomFeed);
    }

    // Stages `home` polling the given feeds (ids 1, 2, ... in that order)
    // and starts the program there.
    void Start(const std::string& name, const std::vector<std::string>& paths) {
        home = fs::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
        std::vector<std::string> urls;
        for (const auto& path : paths) urls.push_back(server.Url(path));
        testsupport::StageWorkingDirectory(kStage, home, ConfigPolling(urls));
        for (const char* program : {"quillet", "quillet-pane"}) fs::copy_file(kStage / program, home / program);
        runner = StartQuillet(home);
        ASSERT_GE(runner, 0);
    }

    fs::path Stored(int id) const { return home / "feeds" / (std::to_string(id) + ".xml"); }

    // Waits for the first stored copy of feeds 1 to `feeds`, then adds two
    // items to the RSS feed and waits for them to be stored.
    void AwaitFirstCopiesThenAChange(int feeds) {
        allStored = WaitFor(
            [&] {
                for (int id = 1; id <= feeds; ++id)
                    if (!fs::exists(Stored(id))) return false;
                return true;
            },
            90s);
        if (allStored) {
            std::lock_guard lock(feedMutex);
            rssTitles = {"E", "D", "C", "B", "A"};
        }
        rssUpdated = allStored &&
                     WaitFor([&] { return ReadFile(Stored(1)).find("<title>E</title>") != std::string::npos; }, 60s);
    }

    testsupport::LoopbackServer server;
    std::mutex feedMutex;
    std::vector<std::string> rssTitles = {"C", "B", "A"};
    fs::path home;
    pid_t runner = -1;
    bool allStored = false;
    bool rssUpdated = false;
};

}  // namespace

TEST_F(EndToEnd, PollsThreeFormatsCountsNewItemsAndSavesOnSigterm) {
    Start("quillet-e2e", {"/rss.xml", "/rdf.xml", "/atom.xml"});
    AwaitFirstCopiesThenAChange(3);

    const auto [quillet, ended] = StopProgram(runner, SIGTERM);

    EXPECT_TRUE(allStored) << "stored copies did not appear";
    EXPECT_TRUE(rssUpdated) << "the changed feed was not polled again";
    EXPECT_GT(quillet, 0) << "the quillet process was not found";
    EXPECT_TRUE(ended) << "quillet did not end on SIGTERM";

    xml::Document saved;
    ASSERT_NO_THROW(saved.LoadFromFile((home / "config.xml").string()));
    xml::Node items = saved.DocumentElement().ChildByName("internal").ChildByName("feedlist").ChildByName("items");
    auto feeds = items.ChildElements();
    ASSERT_EQ(feeds.size(), 3u);
    EXPECT_EQ(feeds[0].Attribute("caption"), std::optional<std::string>("Daily RSS"));
    EXPECT_EQ(feeds[1].Attribute("caption"), std::optional<std::string>("Weekly RDF"));
    EXPECT_EQ(feeds[2].Attribute("caption"), std::optional<std::string>("Monthly Atom"));
    // Three items on the first download, two more when E and D appeared.
    EXPECT_EQ(feeds[0].Attribute("unread"), std::optional<std::string>("5"));
    EXPECT_EQ(feeds[1].Attribute("unread"), std::optional<std::string>("2"));
    EXPECT_EQ(feeds[2].Attribute("unread"), std::optional<std::string>("1"));
    xml::Node mainform = saved.DocumentElement().ChildByName("internal").ChildByName("mainform");
    EXPECT_EQ(mainform.ChildByName("Width").Text(), "700");
    EXPECT_EQ(mainform.ChildByName("Height").Text(), "500");
    EXPECT_EQ(mainform.ChildByName("TreeViewWidth").Text(), "250");

    if (!HasFailure()) fs::remove_all(home);
}

// Killed without warning (a crash, a power cut) while it polls: config.xml
// must hold the unread counts of the updates made until a few seconds
// before, and be whole.
TEST_F(EndToEnd, UnreadCountsSurviveAKillDuringPolling) {
    Start("quillet-e2e-kill", {"/rss.xml", "/rdf.xml"});

    // The unread count config.xml on disk holds for a feed ("" when none).
    auto unreadOnDisk = [&](const std::string& id) -> std::string {
        try {
            xml::Document saved;
            saved.LoadFromFile((home / "config.xml").string());
            xml::Node items =
                saved.DocumentElement().ChildByName("internal").ChildByName("feedlist").ChildByName("items");
            for (const xml::Node& item : items.ChildElements())
                if (item.Attribute("id") == id) return item.Attribute("unread").value_or("");
        } catch (const std::exception&) {
        }
        return "";
    };
    AwaitFirstCopiesThenAChange(2);
    // Saved a few seconds after the update, with the program still running.
    bool savedWhileRunning =
        rssUpdated && WaitFor([&] { return unreadOnDisk("1") == "5" && unreadOnDisk("2") == "2"; }, 10s);

    const auto [quillet, ended] = StopProgram(runner, SIGKILL);

    EXPECT_TRUE(allStored) << "stored copies did not appear";
    EXPECT_TRUE(rssUpdated) << "the changed feed was not polled again";
    EXPECT_GT(quillet, 0) << "the quillet process was not found";
    EXPECT_TRUE(savedWhileRunning) << "config.xml did not follow the updates while the program ran";

    // What survives the kill: a whole file with the counts and captions.
    xml::Document saved;
    ASSERT_NO_THROW(saved.LoadFromFile((home / "config.xml").string()));
    auto feeds =
        saved.DocumentElement().ChildByName("internal").ChildByName("feedlist").ChildByName("items").ChildElements();
    ASSERT_EQ(feeds.size(), 2u);
    EXPECT_EQ(feeds[0].Attribute("caption"), std::optional<std::string>("Daily RSS"));
    EXPECT_EQ(feeds[0].Attribute("unread"), std::optional<std::string>("5"));
    EXPECT_EQ(feeds[1].Attribute("unread"), std::optional<std::string>("2"));

    if (!HasFailure()) fs::remove_all(home);
}

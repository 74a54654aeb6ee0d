#include "FreshRss.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "HttpClient.h"
#include "LoopbackServer.h"
#include "TempFolder.h"

namespace synctest {

namespace {

std::string Run(const std::string& command, bool mustSucceed = true) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    if (pclose(pipe) != 0 && mustSucceed) throw std::runtime_error(command + " failed: " + output);
    return output;
}

std::string Line(const std::string& output, const std::string& name) {
    const auto at = output.find(name + "=");
    if (at == std::string::npos) throw std::runtime_error("serve printed no " + name + ": " + output);
    const auto end = output.find('\n', at);
    std::string value = output.substr(at + name.size() + 1, end - at - name.size() - 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return value;
}

}  // namespace

bool FreshRss::Available(std::string& why) {
    if (!std::filesystem::exists(FRESHRSS_DIR "/serve")) {
        why = "no FreshRSS test server at " FRESHRSS_DIR;
        return false;
    }
    if (std::system("command -v php >/dev/null 2>&1") != 0) {
        why = "php is not installed";
        return false;
    }
    return true;
}

FreshRss::FreshRss(const std::string& dir, const std::string& opmlPath, bool compressed) : FDir(dir) {
    FPort = testsupport::UnusedLoopbackPort();
    if (compressed) {
        // An extra ini folder beside PHP's own, so its modules still load.
        const std::string iniDir = dir + "/php-ini";
        std::filesystem::create_directories(iniDir);
        std::ofstream(iniDir + "/zlib.ini") << "zlib.output_compression=On\n";
        const std::string scanned = Run("php -r 'echo PHP_CONFIG_FILE_SCAN_DIR;'");
        FEnvironment = "PHP_INI_SCAN_DIR='" + scanned + ":" + iniDir + "' ";
    }
    const std::string output = Run(FEnvironment + FRESHRSS_DIR "/serve " + dir + " " + std::to_string(FPort) + " " +
                                   kUser + " " + kPassword + " " + opmlPath + " 2>&1");
    FUrl = Line(output, "FRESHRSS_URL");
    FPid = std::stoi(Line(output, "FRESHRSS_PID"));
    FRefresh = Line(output, "FRESHRSS_REFRESH");
}

FreshRss::~FreshRss() { Stop(); }

// A feed fetched within its time to live (a second here) is skipped while
// the server's clock in whole seconds is at most its last fetch plus one.
// Every fetch so far ended before this call, so two whole seconds later
// each feed is due, whichever second its own fetch fell in.
void FreshRss::Refresh() const {
    const std::time_t called = std::time(nullptr);
    while (std::time(nullptr) < called + 2) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Run(FRefresh + " 2>&1", false);
}

void FreshRss::Stop() {
    if (FPid > 0) {
        kill(FPid, SIGTERM);
        // Not our child (serve started it): wait until it is gone.
        for (int i = 0; i < 100 && kill(FPid, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    FPid = 0;
}

void FreshRss::Start() {
    // serve would wipe the data: start only the PHP server again.
    const std::string command = "cd " + FDir + "/freshrss && (" + FEnvironment +
                                "php -S 127.0.0.1:" + std::to_string(FPort) + " -t p/ >>" + FDir +
                                "/php-server.log 2>&1 & echo $!)";
    FPid = std::stoi(Run(command));
    for (int i = 0; i < 100; ++i) {
        try {
            http::Get(FUrl);
            return;
        } catch (const http::HttpError& error) {
            if (error.StatusCode() != 0) return;  // it answers
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error("the PHP server did not come back");
}

void WriteTechNewsOpml(const std::string& path, const std::string& techUrl, const std::string& newsUrl) {
    std::ofstream(path) << "<?xml version=\"1.0\"?><opml version=\"2.0\"><head><title>t</title></head><body>"
                        << "<outline text=\"Tech\"><outline type=\"rss\" text=\"tech\" xmlUrl=\"" << techUrl
                        << "\"/></outline><outline text=\"News\"><outline type=\"rss\" text=\"news\" xmlUrl=\""
                        << newsUrl << "\"/></outline></body></opml>";
}

void ServeGeneratedFeeds(testsupport::LoopbackServer& server, const std::string& opmlPath, int feeds, int perFeed) {
    std::ofstream opml(opmlPath);
    opml << "<?xml version=\"1.0\"?><opml version=\"2.0\"><head><title>b</title></head><body>";
    for (int f = 0; f < feeds; ++f) {
        const std::string feed = std::to_string(f);
        std::string body = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Feed " + feed +
                           "</title><link>http://127.0.0.1/" + feed + "</link><description>d</description>";
        for (int i = 0; i < perFeed; ++i) {
            const std::string item = std::to_string(i);
            body += "<item><title>Item " + feed + "." + item + "</title><link>http://127.0.0.1/" + feed + "/" + item +
                    "</link><guid>g" + feed + "-" + item + "</guid><description>" + std::string(400, 'x') +
                    "</description></item>";
        }
        body += "</channel></rss>";
        const std::string path = "/feed" + feed + ".xml";
        server.AddEndpoint(path, 200, {{"Content-Type", "application/rss+xml"}}, body);
        opml << "<outline text=\"Folder " << f % 10 << "\"><outline type=\"rss\" text=\"Feed " << f << "\" xmlUrl=\""
             << server.Url(path) << "\"/></outline>";
    }
    opml << "</body></opml>";
}

TBenchFeeds::TBenchFeeds(const char* folderName, int argc, char** argv)
    : Feeds(argc > 1 ? std::atoi(argv[1]) : 200),
      PerFeed(argc > 2 ? std::atoi(argv[2]) : 50),
      Folder(folderName),
      Opml(Folder.File("feeds.opml")) {
    if (FreshRss::Available(Skip)) ServeGeneratedFeeds(Server, Opml, Feeds, PerFeed);
}

}  // namespace synctest

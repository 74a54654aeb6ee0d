// A real FreshRSS on 127.0.0.1 for the end-to-end sync tests, stood up by
// shared/freshrss/serve (absent: the tests skip). One per test suite: it
// takes seconds to install.
#pragma once

#include <string>

#include "LoopbackServer.h"
#include "TempFolder.h"

namespace synctest {

class FreshRss {
public:
    // True when the serve script and php are there.
    static bool Available(std::string& why);

    // Installs into dir and serves on a free port, subscribed to the OPML.
    // Compressed: PHP gzips its answers (zlib.output_compression), as an
    // installation behind a compressing web server would send them.
    FreshRss(const std::string& dir, const std::string& opmlPath, bool compressed = false);
    ~FreshRss();

    const std::string& ApiUrl() const { return FUrl; }
    // The server fetches its feeds now.
    void Refresh() const;
    // Ends the PHP server; Start() brings it back on the same data and port.
    void Stop();
    void Start();

    static constexpr const char* kUser = "alice";
    static constexpr const char* kPassword = "alice-api-pass-1";

private:
    std::string FDir;
    int FPort = 0;
    std::string FUrl;
    std::string FRefresh;
    int FPid = 0;
    std::string FEnvironment;  // put before the commands that start PHP's server
};

// The subscription lists the servers are stood up with. Two folders, Tech
// and News, of one feed each:
void WriteTechNewsOpml(const std::string& path, const std::string& techUrl, const std::string& newsUrl);
// `feeds` feeds of `perFeed` items (400-byte bodies) served by `server`, in
// ten folders.
void ServeGeneratedFeeds(testsupport::LoopbackServer& server, const std::string& opmlPath, int feeds, int perFeed);

// What the sync benches start from: `feeds [items-per-feed]` from the
// command line (default 200 and 50), served as above with their OPML in a
// scratch folder. Skip says why there is no FreshRSS to sync them ("" when
// there is; nothing is served then).
struct TBenchFeeds {
    TBenchFeeds(const char* folderName, int argc, char** argv);
    int Feeds;
    int PerFeed;
    std::string Skip;
    testsupport::TempFolder Folder;
    testsupport::LoopbackServer Server;
    std::string Opml;
};

}  // namespace synctest

// feedtool run as a user runs it: on fixture files and on addresses served by
// the loopback server, checking its JSON, its files and its exit status.
#include "JsonText.h"
#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using testsupport::LoopbackServer;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Quote(const std::string& arg) {
    std::string quoted = "'";
    for (const char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class FeedTool : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quillet-feedtool-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        FDir = pattern;
    }
    void TearDown() override { fs::remove_all(FDir); }

    Outcome Run(const std::vector<std::string>& args) {
        std::string command = Quote(FEEDTOOL_PATH);
        for (const auto& arg : args) command += " " + Quote(arg);
        command += " >" + Quote((FDir / "out").string()) + " 2>" + Quote((FDir / "err").string());
        const int raw = std::system(command.c_str());
        Outcome outcome;
        outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        outcome.out = ReadFile(FDir / "out");
        outcome.err = ReadFile(FDir / "err");
        return outcome;
    }

    static std::string Fixture(const std::string& name) { return (fs::path(FEED_FIXTURES) / name).string(); }

    fs::path FDir;
};

}  // namespace

TEST(JsonString, EscapesWhatJsonRequiresAndKeepsValidUtf8) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"", "\"\""},
        {"plain", "\"plain\""},
        {"say \"hi\" \\ bye", "\"say \\\"hi\\\" \\\\ bye\""},
        {"tab\tnew\nline\r", "\"tab\\u0009new\\u000aline\\u000d\""},
        {std::string("nul\0end", 7), "\"nul\\u0000end\""},
        {"\x1f\x7f", "\"\\u001f\\u007f\""},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb0", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb0\""},
        {"latin-1 caf\xe9", "\"latin-1 caf\xef\xbf\xbd\""},
        {"cut \xe2\x82", "\"cut \xef\xbf\xbd\xef\xbf\xbd\""},
        {"overlong \xc0\xaf", "\"overlong \xef\xbf\xbd\xef\xbf\xbd\""},
        {"surrogate \xed\xa0\x80", "\"surrogate \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
        {"beyond \xf4\x90\x80\x80", "\"beyond \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
    };
    for (const auto& c : cases) EXPECT_EQ(feedtool::JsonString(c.in), c.out) << c.in;
}

TEST_F(FeedTool, DumpsAFixtureFile) {
    const Outcome result = Run({"dump", Fixture("rss20_full_channel.xml")});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    for (const std::string expected : {
             "\"format\": \"rss\",",
             "\"version\": \"0.91\",",
             "\"title\": \" News \",",
             "\"link\": \"http://example.org/\",",
             "\"description\": \"<p>Daily <b>news</b></p>\",",
             "\"title\": \"First\",",
             "\"pubDate\": \"Sat, 01 May 2004 10:20:30 GMT\"",
         })
        EXPECT_NE(result.out.find(expected), std::string::npos) << expected << "\n" << result.out;
    EXPECT_EQ(result.out.front(), '{');
    EXPECT_EQ(result.out.substr(result.out.size() - 2), "}\n");
}

TEST_F(FeedTool, DumpsBodiesAuthorsEnclosuresAndZonedDates) {
    const Outcome result = Run({"dump", Fixture("atom10_links_xhtml_and_base.xml")});
    ASSERT_EQ(result.status, 0) << result.err;
    for (const std::string expected : {
             "\"format\": \"atom\",",
             "\"pubDate\": \"Mon, 07 Dec 2026 10:20:30 +0100\",",
             "\"content\": \"<p>First <strong>post</strong>, in full.</p>",
             "\"author\": \"Alice\",",
             "\"authorEmail\": \"alice@example.org\",",
             "\"enclosure\": {\"url\": \"http://example.org/blog/audio/episode1.mp3\", \"type\": \"audio/mpeg\", "
             "\"length\": 1234567},",
             "\"categories\": [\"notes\", \"web\"],",
             "\"enclosure\": null,",
             "\"pubDate\": \"Mon, 07 Dec 2026 09:00:00 +0100\"",
             "\"pubDate\": \"Sat, 05 Dec 2026 12:00:00 -0500\"",
         })
        EXPECT_NE(result.out.find(expected), std::string::npos) << expected << "\n" << result.out;
}

TEST_F(FeedTool, DumpsAnAddressWithPlaceholdersAndEscapes) {
    LoopbackServer server;
    server.AddEndpoint("/feed.xml", 200, {{"Content-Type", "application/rss+xml"}},
                       "<rss version=\"2.0\"><channel><title></title><link>http://e.org/</link>"
                       "<description>d</description>"
                       "<item><title>Say \"caf\xc3\xa9\" \\ now</title><guid>g1</guid></item>"
                       "<item><title>Two</title></item>"
                       "</channel></rss>");
    const Outcome result = Run({"dump", server.Url("/feed.xml")});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("\"title\": \"Title Required\","), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\"title\": \"Say \\\"caf\xc3\xa9\\\" \\\\ now\","), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\"guid\": \"g1\","), std::string::npos) << result.out;
    EXPECT_EQ(server.NumHits("/feed.xml"), 1);
}

TEST_F(FeedTool, FailuresExitWithStatusOneAndTheMessage) {
    LoopbackServer server;
    server.AddEndpoint("/gone", 404, {}, "<html/>");
    server.AddEndpoint("/page", 200, {}, "<html><body/></html>");
    server.AddEndpoint("/moved", "HTTP/1.1 301 Moved Permanently", {{"Location", "/feed"}}, "");
    server.AddEndpoint("/feed", 200, {}, ReadFile(Fixture("atom03_feed.xml")));

    const struct {
        std::vector<std::string> args;
        std::string message;  // what stderr must contain
    } cases[] = {
        {{"dump", server.Url("/gone")}, "HTTP/1.1 404 Not Found\n"},
        {{"dump", server.Url("/moved")}, "HTTP/1.1 301 Moved Permanently\n"},
        {{"dump", "HTTPS://127.0.0.1:" + std::to_string(server.Port()) + "/feed"}, "IOHandler value is not valid\n"},
        {{"dump", server.Url("/page")}, "unkown format"},
        {{"dump", (FDir / "missing.xml").string()}, "missing.xml"},
        {{"convert", server.Url("/gone"), (FDir / "never.xml").string()}, "HTTP/1.1 404 Not Found\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        const Outcome result = Run(c.args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    EXPECT_FALSE(fs::exists(FDir / "never.xml"));

    const Outcome followed = Run({"--follow", "dump", server.Url("/moved")});
    EXPECT_EQ(followed.status, 0) << followed.err;
    EXPECT_NE(followed.out.find("\"format\": \"atom\","), std::string::npos);
}

TEST_F(FeedTool, BadUsageExitsWithStatusTwo) {
    const std::vector<std::vector<std::string>> misuses = {
        {}, {"dump"}, {"convert", "a"}, {"list", "a"}, {"--fast", "dump", "a"}};
    for (const auto& args : misuses) {
        const Outcome result = Run(args);
        EXPECT_EQ(result.status, 2);
        EXPECT_NE(result.err.find("usage: feedtool"), std::string::npos);
    }
}

TEST_F(FeedTool, ConvertStoresAnRssCopyThatReadsBack) {
    const std::string stored = (FDir / "1.xml").string();
    const Outcome converted = Run({"convert", Fixture("rdf_items_beside_channel.xml"), stored});
    ASSERT_EQ(converted.status, 0) << converted.err;
    const std::string text = ReadFile(stored);
    EXPECT_NE(text.find("<?xml-stylesheet"), std::string::npos) << text;
    EXPECT_NE(text.find("href=\"../rss.xsl\""), std::string::npos) << text;

    const Outcome original = Run({"dump", Fixture("rdf_items_beside_channel.xml")});
    const Outcome reread = Run({"dump", stored});
    ASSERT_EQ(reread.status, 0) << reread.err;
    EXPECT_NE(original.out.find("\"format\": \"rdf\","), std::string::npos);
    EXPECT_NE(reread.out.find("\"format\": \"rss\","), std::string::npos);
    // Past the format and version the model is the same, dates aside: an item
    // without one reads as "now", which moves between the two runs.
    const auto model = [](const std::string& json) {
        std::istringstream lines(json.substr(json.find("\"title\"")));
        std::string kept;
        for (std::string line; std::getline(lines, line);)
            if (line.find("\"pubDate\"") == std::string::npos) kept += line + "\n";
        return kept;
    };
    EXPECT_EQ(model(reread.out), model(original.out));
}

#ifdef FEEDTOOL_DISCOVER
TEST_F(FeedTool, DiscoverPrintsTheCandidatesAsJsonOrFailsWithTheReason) {
    LoopbackServer server;
    server.AddEndpoint("/", 200, {{"Content-Type", "text/html"}},
                       ReadFile(std::string(DISCOVER_FIXTURES) + "/blogger.html"));
    server.AddEndpoint("/quoted", 200, {{"Content-Type", "text/html"}},
                       "<link rel=alternate type=application/rss+xml title='Say &quot;hi&quot; \\ tab\t' href=f>");
    server.AddEndpoint("/challenge", 403, {}, "<title>Just a moment...</title>");

    const Outcome blog = Run({"discover", server.Url("/")});
    ASSERT_EQ(blog.status, 0) << blog.err;
    EXPECT_EQ(blog.out.find("[\n  {\"url\": \"https://fernmoss.blogspot.example/feeds/posts/default\", "
                            "\"title\": \"Fern & Moss - Atom\", \"type\": \"application/atom+xml\"},\n"),
              0u)
        << blog.out;
    EXPECT_EQ(server.NumRequests(), 1);  // the candidates are not fetched

    const Outcome quoted = Run({"discover", server.Url("/quoted")});
    ASSERT_EQ(quoted.status, 0) << quoted.err;
    EXPECT_NE(quoted.out.find("\"title\": \"Say \\\"hi\\\" \\\\ tab\""), std::string::npos) << quoted.out;

    const Outcome refused = Run({"discover", server.Url("/challenge")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("refused access"), std::string::npos) << refused.err;
}
#endif

#ifdef FEEDTOOL_EXTRACT
TEST_F(FeedTool, ExtractPrintsTheArticleOrFailsWithTheReason) {
    const std::string news = std::string(EXTRACT_FIXTURES) + "/news_ads_related.html";
    LoopbackServer server;
    // The header's charset wins over the page's own <meta>.
    server.AddEndpoint("/story", 200, {{"Content-Type", "text/html; charset=iso-8859-1"}},
                       "<meta charset=utf-8><article><p>Caf\xE9 cr\xE8me and a long enough sentence, with commas, "
                       "to count as the article's paragraph.</p></article>");

    const Outcome saved = Run({"extract", news, "https://news.example/ferry"});
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_NE(saved.out.find("the new ferry terminal will open in March"), std::string::npos);
    EXPECT_EQ(saved.out.find("Most read"), std::string::npos);

    const Outcome fetched = Run({"extract", server.Url("/story")});
    ASSERT_EQ(fetched.status, 0) << fetched.err;
    EXPECT_NE(fetched.out.find("Caf\xC3\xA9 cr\xC3\xA8me"), std::string::npos) << fetched.out;

    const std::string wall = std::string(EXTRACT_FIXTURES) + "/login_wall.html";
    for (const auto& args : std::vector<std::vector<std::string>>{{"extract", wall, "https://news.example/x"},
                                                                  {"extract", news, "file:///etc/passwd"}}) {
        const Outcome refused = Run(args);
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.out, "");
        EXPECT_FALSE(refused.err.empty());
    }
}
#endif

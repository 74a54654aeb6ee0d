// Soak run of the whole program: the real main window, its polling thread
// and its browser, against 1,000 feeds of about 100 KB served from
// 127.0.0.1, with misbehaving feeds mixed in. One run prints every figure
// beside its target:
//   - start-up of the program (a new process) to an exposed window with
//     1,000 feeds against none, and the same window built in a running
//     process;
//   - updates per second of the polling thread against a bare loop of
//     fetch + parse + save with no window;
//   - the longest stall of the user-interface thread while polling;
//   - resident memory after 200 and after 2,000 updates;
//   - what became of each faulty feed, and that every other feed kept
//     updating and the program ended promptly with a download hanging.
//
//   app_soak [--feeds N] [--rounds R] [--startup-only] [--alert-words "W1, W2"] [--full-article]
//   app_soak --network
//
// --startup-only repeats only the start-up measurement (for profiling).
// --full-article turns "Show the full article" on for every feed: each
// item links to an article page of about 25 KB on the same server, which
// the program fetches and extracts beside its polling.
// --network measures what goes over the wire instead: bytes received and
// updates per second of the polling thread for a first pass over 50
// compressible feeds and a second pass with nothing changed, against a
// server that answers plainly (what every fetch got before compression and
// validators) and one that compresses and validates; then "update all"
// against one feed at a time over 200 feeds with 200 ms of latency each.
// (--startup-child DIR T is the new process of one start-up round.)
//
// Half of the feeds gain one item per request, so the steady state includes
// new-item counting, notifications and node captions, not just rewriting
// unchanged copies.
#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QProcess>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include "FeedDocument.h"
#include "HeadlessBrowser.h"
#include "HttpClient.h"
#include "LoopbackServer.h"
#include "StagedHome.h"
#include "UpdateController.h"
#include "Memory.h"
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>

#include "FeedListController.h"
#include "FeedTree.h"
#include "ReadingPane.h"
#include "TrayIcon.h"
#include "fMain.h"
#include "uvxLanguage.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

const fs::path kStage = QUILLET_STAGE_DIR;

// ---------------------------------------------------------------------------
// Measurements

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Resident set of this process in KiB, from /proc/self/status.
long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

// CPU time of the whole process (every thread, the server's included).
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Updates per second, and process CPU per update: on a machine shared with
// other work the wall-clock rate follows the load, the CPU cost much less.
struct Throughput {
    double rate = 0;
    double cpuMs = 0;
};

struct Figure {
    std::string name;
    std::string value;
    std::string target;
    bool pass;
};

std::vector<Figure> gFigures;

void Report(const std::string& name, const std::string& value, const std::string& target, bool pass) {
    gFigures.push_back({name, value, target, pass});
    std::printf("%-44s %-26s target %-14s %s\n", name.c_str(), value.c_str(), target.c_str(), pass ? "PASS" : "MISS");
    std::fflush(stdout);
}

std::string Fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

void Note(const std::string& text) {
    std::printf("  %s\n", text.c_str());
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// Feeds

// About 1.9 KB of HTML per item, escaped the way RSS carries markup inside
// <description>; 57 items make a feed of roughly 100 KB.
constexpr int kItemsPerFeed = 57;
const std::string kParagraph =
    "&lt;p&gt;The committee met on Tuesday to review the &lt;b&gt;quarterly figures&lt;/b&gt; and the "
    "proposed changes to the regional timetable. Members raised questions about maintenance windows, "
    "passenger numbers on the northern branch, and the cost of the new signalling contract. "
    "&lt;a href=\"https://example.org/minutes\"&gt;The minutes&lt;/a&gt; will be published next week."
    "&lt;/p&gt;";

// With --full-article: where the items' articles are ("" links them to
// example.org, never fetched).
bool gFullArticle = false;
std::string gArticleBase;

// An article page of about 25 KB as sites serve them: navigation, the
// article, a related box, comments and a footer around it.
std::string ArticlePage(const std::string& path) {
    std::string page;
    page.reserve(28 * 1024);
    page += "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Story " + path +
            "</title><meta property=\"og:title\" content=\"Committee reviews timetable\"></head><body>"
            "<header><nav><ul>";
    for (int i = 0; i < 30; ++i) page += "<li><a href=\"/section/" + std::to_string(i) + "\">Section</a></li>";
    page +=
        "</ul></nav></header><main><article class=\"post-content\"><h1>Committee reviews timetable</h1>"
        "<p class=\"byline\">By A. Reporter</p>";
    for (int p = 0; p < 40; ++p)
        page +=
            "<p>The committee met on Tuesday to review the <b>quarterly figures</b> and the proposed changes to "
            "the regional timetable. Members raised questions about maintenance windows, passenger numbers on "
            "the northern branch, and the cost of the new signalling contract.</p>";
    page += "</article><aside class=\"related\"><h2>Related</h2><ul>";
    for (int i = 0; i < 10; ++i) page += "<li><a href=\"/story/" + std::to_string(i) + "\">Another story</a></li>";
    page += "</ul></aside><section id=\"comments\">";
    for (int i = 0; i < 10; ++i) page += "<div class=\"comment\"><p>A reader's comment, short.</p></div>";
    return page + "</section></main><footer><p>Copyright, contact, imprint.</p></footer></body></html>";
}

std::string Rfc822(long minutesBeforeBase) {
    const std::time_t base = 1796000000;  // a fixed instant, so runs are comparable
    const std::time_t when = base - minutesBeforeBase * 60;
    std::tm tm{};
    gmtime_r(&when, &tm);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S +0000", &tm);
    return buffer;
}

// Feed `id` whose newest item is number `newest`; items count down from it.
std::string FeedBody(int id, int newest) {
    const std::string feed = std::to_string(id);
    std::string body;
    body.reserve(110 * 1024);
    body +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
        "<title>Soak feed " +
        feed + "</title><link>https://example.org/feeds/" + feed +
        "</link>"
        "<description>Regional news digest number " +
        feed +
        "</description><language>en-gb</language>"
        "<lastBuildDate>" +
        Rfc822(-newest) + "</lastBuildDate>";
    for (int n = newest; n > newest - kItemsPerFeed; --n) {
        const std::string item = std::to_string(n);
        body += "<item><title>Feed " + feed + " story " + item +
                ": committee reviews timetable</title>"
                "<link>" +
                (gArticleBase.empty() ? "https://example.org/feeds/" : gArticleBase) + feed + "/" + item +
                "</link>"
                "<guid>https://example.org/feeds/" +
                feed + "/" + item +
                "</guid>"
                "<pubDate>" +
                Rfc822(-n) + "</pubDate><description>";
        for (int p = 0; p < 4; ++p) body += kParagraph;
        body += "</description></item>";
    }
    body += "</channel></rss>\n";
    return body;
}

// What a feed does when it is requested.
enum class FeedKind { Static, Changing, NeverAnswer, ServerError, CloseMidBody, Huge, Malformed, DeletedWhileSlow };

const char* KindName(FeedKind kind) {
    switch (kind) {
        case FeedKind::Static:
            return "static";
        case FeedKind::Changing:
            return "changing";
        case FeedKind::NeverAnswer:
            return "never answers (armed late in the run)";
        case FeedKind::ServerError:
            return "answers 500";
        case FeedKind::CloseMidBody:
            return "closes the connection mid-body";
        case FeedKind::Huge:
            return "serves 50 MB";
        case FeedKind::Malformed:
            return "serves malformed XML";
        case FeedKind::DeletedWhileSlow:
            return "deleted while its slow download is in flight";
    }
    return "?";
}

enum class Phase { Setup, Bare, Soak };

// The server side of the run: one handler per feed, a pass counter per
// feed, and the marks the soak needs, taken on the server's threads the
// moment the n-th request arrives (a request for feed n+1 means update n
// has been downloaded; the polling thread fetches one feed at a time, and
// the result of update n-1 has been applied by then).
class SoakServer {
public:
    explicit SoakServer(int feeds) : FKinds(feeds + 1, FeedKind::Static), FHits(feeds + 1), FSoakHits(feeds + 1) {
        // Faults sit near the end of the list, so start-up windows (which
        // begin polling at once) never reach them, and the throughput
        // window in the second pass is clean.
        for (int id = 2; id <= feeds; ++id) FKinds[id] = id % 2 == 0 ? FeedKind::Changing : FeedKind::Static;
        FKinds[1] = FeedKind::NeverAnswer;
        FKinds[feeds - 5] = FeedKind::ServerError;
        FKinds[feeds - 4] = FeedKind::CloseMidBody;
        FKinds[feeds - 3] = FeedKind::Huge;
        FKinds[feeds - 2] = FeedKind::Malformed;
        FKinds[feeds - 1] = FeedKind::DeletedWhileSlow;
        for (int id = 1; id <= feeds; ++id)
            FServer.AddHandler(Path(id), [this, id](const testsupport::Request&) { return Answer(id); });
        if (gFullArticle) {
            FServer.KeepRequests(false);
            FServer.AddPrefixHandler("/article/", [](const testsupport::Request& request) {
                testsupport::Response response;
                response.headers = {{"Content-Type", "text/html; charset=utf-8"}};
                response.body = ArticlePage(request.path);
                return response;
            });
            gArticleBase = FServer.Url("/article/");
        }
    }

    int ArticleRequests() const { return FServer.NumHits("/article/"); }

    std::string Url(int id) const { return FServer.Url(Path(id)); }
    FeedKind Kind(int id) const { return FKinds[id]; }
    int Feeds() const { return static_cast<int>(FKinds.size()) - 1; }
    bool IsFault(int id) const { return FKinds[id] != FeedKind::Static && FKinds[id] != FeedKind::Changing; }

    std::atomic<Phase> phase{Phase::Setup};
    std::atomic<bool> neverAnswerArmed{false};
    // Called on a server thread with the soak ordinal of each request.
    std::function<void(int ordinal, int id)> onSoakRequest;

    int SoakRequests() const { return FSoakRequests.load(); }
    int SoakHits(int id) const { return FSoakHits[id].load(); }
    // Soak requests for the feeds that behave.
    int OrdinaryHits() const {
        int sum = 0;
        for (int id = 1; id <= Feeds(); ++id)
            if (!IsFault(id)) sum += FSoakHits[id].load();
        return sum;
    }

private:
    static std::string Path(int id) { return "/feed/" + std::to_string(id) + ".xml"; }

    testsupport::Response Answer(int id) {
        const int pass = ++FHits[id];
        if (phase == Phase::Soak) {
            ++FSoakHits[id];
            const int ordinal = ++FSoakRequests;
            if (onSoakRequest) onSoakRequest(ordinal, id);
        }
        testsupport::Response response;
        response.headers = {{"Content-Type", "application/rss+xml; charset=UTF-8"}};
        switch (FKinds[id]) {
            case FeedKind::Changing:
                response.body = FeedBody(id, 1000 + pass);
                break;
            case FeedKind::Static:
                response.body = FeedBody(id, 1000);
                break;
            case FeedKind::NeverAnswer:
                if (neverAnswerArmed) response.fault = testsupport::Fault::NeverAnswer;
                response.body = FeedBody(id, 1000);
                break;
            case FeedKind::ServerError:
                response.statusLine = testsupport::StatusLine(500);
                response.body = "<html><body>Internal Server Error</body></html>";
                break;
            case FeedKind::CloseMidBody:
                response.fault = testsupport::Fault::CloseMidBody;
                response.body = FeedBody(id, 1000);
                break;
            case FeedKind::Huge:
                // Chunked, so no length announces the size: the client has
                // to enforce its cap while the body streams in.
                response.generatedBodySize = 50ull * 1024 * 1024;
                response.chunked = true;
                response.chunkSize = 64 * 1024;
                break;
            case FeedKind::Malformed: {
                const std::string whole = FeedBody(id, 1000);
                response.body = whole.substr(0, whole.size() / 3) + "<item><title>broken &amp title</item>";
                break;
            }
            case FeedKind::DeletedWhileSlow:
                response.fault = testsupport::Fault::SlowBody;
                response.body = FeedBody(id, 1000);
                response.slowChunkSize = 8 * 1024;
                response.slowDelay = 100ms;  // about 1.3 s for the whole body
                break;
        }
        return response;
    }

    std::vector<FeedKind> FKinds;
    std::vector<std::atomic<int>> FHits;
    std::vector<std::atomic<int>> FSoakHits;
    std::atomic<int> FSoakRequests{0};
    testsupport::LoopbackServer FServer;
};

// ---------------------------------------------------------------------------
// Working directories

// Alert words of the configuration (--alert-words), matched in every download.
std::string gAlertWords;

// The configuration of a working directory polling `feeds` feeds of
// `server` (anything with Url(id)) with no pause.
template <typename Server>
std::string ConfigXml(const Server& server, int feeds, bool secureFeeds = true) {
    std::string items;
    for (int id = 1; id <= feeds; ++id)
        items += "        <item url=\"" + server.Url(id) + "\" id=\"" + std::to_string(id) +
                 "\" caption=\"\" unread=\"0\" lastupdate=\"\"" + (gFullArticle ? " fullarticle=\"True\"" : "") +
                 "/>\n";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n"
           "  <general>\n    <UpdateInterval>0</UpdateInterval>\n    <BalloonTimeout>10</BalloonTimeout>\n"
           "    <StartTrayIcon>False</StartTrayIcon>\n    <ExternalBrowser>False</ExternalBrowser>\n"
           "    <SecureFeeds>" +
           std::string(secureFeeds ? "True" : "False") +
           "</SecureFeeds>\n    <FollowRedirects>False</FollowRedirects>\n" +
           (gAlertWords.empty() ? std::string() : "    <AlertWords>" + gAlertWords + "</AlertWords>\n") +
           "  </general>\n"
           "  <internal>\n    <language>1033</language>\n"
           "    <mainform>\n      <Width>900</Width>\n      <Height>650</Height>\n"
           "      <TreeViewWidth>260</TreeViewWidth>\n    </mainform>\n"
           "    <feedlist>\n      <items>\n" +
           items +
           "      </items>\n"
           "      <autoincrement>\n        <id>" +
           std::to_string(feeds + 1) +
           "</id>\n      </autoincrement>\n"
           "    </feedlist>\n  </internal>\n</config>\n";
}

// ---------------------------------------------------------------------------
// The window

// Runs the event loop until `done` holds or `limit` passes, looking every
// `every`. The loop sleeps between events: a busy loop here would take a
// core away from the polling thread and distort every figure.
template <typename Predicate>
bool ProcessEventsUntil(Predicate done, Clock::duration limit, std::chrono::milliseconds every = 1ms) {
    if (done()) return true;
    const auto deadline = Clock::now() + limit;
    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    check.setInterval(every);
    bool reached = false;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            reached = true;
            loop.quit();
        } else if (Clock::now() > deadline) {
            loop.quit();
        }
    });
    check.start();
    loop.exec();
    return reached;
}

void ProcessEventsFor(Clock::duration span) {
    ProcessEventsUntil([] { return false; }, span, 10ms);
}

bool Exposed(const QWidget& window) { return window.windowHandle() && window.windowHandle()->isExposed(); }

// Closes and destroys a window; returns how long that took.
Clock::duration CloseWindow(std::unique_ptr<TFormMain>& form) {
    const auto start = Clock::now();
    form->close();
    form.reset();
    const auto spent = Clock::now() - start;
    // Let deferred deletions and the engine's clean-up run before the next
    // window is timed.
    ProcessEventsFor(100ms);
    return spent;
}

// The parts of the last start-up: construction, showing, waiting for the
// window to be exposed (ms).
double gConstructMs = 0, gShowMs = 0, gExposeMs = 0;

// Start-up as the program does it: construct, show, wait for the window
// system to expose it. Returns the time taken (the window stays open).
Clock::duration StartWindow(const fs::path& dir, std::unique_ptr<TFormMain>& form) {
    fs::current_path(dir);
    const auto start = Clock::now();
    form = std::make_unique<TFormMain>();
    const auto constructed = Clock::now();
    form->ShowAtStartup();
    const auto shown = Clock::now();
    if (!ProcessEventsUntil([&] { return Exposed(*form); }, 20s))
        throw std::runtime_error("the main window was never exposed");
    const auto exposed = Clock::now();
    gConstructMs = Millis(constructed - start);
    gShowMs = Millis(shown - constructed);
    gExposeMs = Millis(exposed - shown);
    return exposed - start;
}

std::string StartUpParts() { return Fixed(gConstructMs, 1) + "+" + Fixed(gShowMs, 1) + "+" + Fixed(gExposeMs, 1); }

// ---------------------------------------------------------------------------
// The phases

// Nanoseconds on the steady clock, which on Linux is the same monotonic
// clock in every process of the machine.
long long SteadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// The child side of a program start-up: everything the program's main does
// before its window is on screen, in a fresh process. Prints how long after
// `spawnedAt` (the parent's clock just before it started this process) the
// main window was exposed.
int RunStartUpChild(int argc, char* argv[], const fs::path& dir, long long spawnedAt) {
    if (qEnvironmentVariableIsEmpty("QUILLET_PANE_PROGRAM")) qputenv("QUILLET_PANE_PROGRAM", QUILLET_PANE_PROGRAM_PATH);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    fs::current_path(dir);
    auto form = std::make_unique<TFormMain>();
    form->ShowAtStartup();
    if (!ProcessEventsUntil([&] { return Exposed(*form); }, 60s)) return 3;
    std::printf("%.3f\n", static_cast<double>(SteadyNanoseconds() - spawnedAt) / 1e6);
    std::fflush(stdout);
    CloseWindow(form);
    return 0;
}

// Starts the program's start-up in a new process on a working directory;
// the milliseconds from the start of the process to its exposed window.
double ProgramStartUp(const fs::path& dir) {
    QProcess child;
    const long long spawnedAt = SteadyNanoseconds();
    child.start(QCoreApplication::applicationFilePath(),
                {"--startup-child", QString::fromStdString(dir.string()), QString::number(spawnedAt)});
    // Its diagnostics (the offscreen platform's notices) matter only when
    // it fails.
    if (!child.waitForFinished(120000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        throw std::runtime_error("a start-up process failed: " + child.readAllStandardError().toStdString());
    bool ok = false;
    const double ms = QString::fromUtf8(child.readAllStandardOutput()).trimmed().toDouble(&ok);
    if (!ok) throw std::runtime_error("a start-up process reported nothing");
    return ms;
}

void MeasureStartUp(const fs::path& empty, const fs::path& full, int feeds, int rounds) {
    std::printf("\n== Start-up of the program to an exposed window (%d new processes each, alternating) ==\n", rounds);
    {
        std::vector<double> none, many;
        ProgramStartUp(empty);  // fills the disk cache for both
        std::string list;
        for (int round = 0; round < rounds; ++round) {
            many.push_back(ProgramStartUp(full));
            none.push_back(ProgramStartUp(empty));
            list += Fixed(many.back(), 1) + "/" + Fixed(none.back(), 1) + " ";
        }
        Note("rounds (" + std::to_string(feeds) + " feeds / none, ms): " + list);
        const double ratio = Median(many) / Median(none);
        Report("program start-up, median, " + std::to_string(feeds) + " feeds", Fixed(Median(many), 1) + " ms", "",
               true);
        Report("program start-up, median, no feeds", Fixed(Median(none), 1) + " ms", "", true);
        Report("start-up ratio", Fixed(ratio, 2), "<= 1.3", ratio <= 1.3);
    }

    // The same window built again and again in one running process: the
    // part of start-up that depends on the feed list, without the fixed
    // cost of a new process. Stricter, and noisier on a shared machine.
    std::printf("\n== Main window in a running process (%d rounds each, alternating) ==\n", rounds);
    std::unique_ptr<TFormMain> form;
    // The first window pays for the browser engine's process and profile.
    const auto warm = StartWindow(empty, form);
    CloseWindow(form);
    Note("warm-up window (browser engine start): " + Fixed(Millis(warm), 1) + " ms");

    std::vector<double> none, many;
    std::string manyParts, noneParts;
    for (int round = 0; round < rounds; ++round) {
        many.push_back(Millis(StartWindow(full, form)));
        manyParts += StartUpParts() + " ";
        CloseWindow(form);
        none.push_back(Millis(StartWindow(empty, form)));
        noneParts += StartUpParts() + " ";
        CloseWindow(form);
    }
    std::string list;
    for (int i = 0; i < rounds; ++i) list += Fixed(many[i], 1) + "/" + Fixed(none[i], 1) + " ";
    Note("rounds (" + std::to_string(feeds) + " feeds / none, ms): " + list);
    Note("construct+show+expose, " + std::to_string(feeds) + " feeds: " + manyParts);
    Note("construct+show+expose, no feeds: " + noneParts);
    Report("window up, median, " + std::to_string(feeds) + " feeds", Fixed(Median(many), 1) + " ms", "", true);
    Report("window up, median, no feeds", Fixed(Median(none), 1) + " ms", "", true);
    Report("window up ratio (running process)", Fixed(Median(many) / Median(none), 2), "", true);
}

// Fetch + LoadFromString + SaveToFile with no window: what the machine can
// do for one feed at a time.
Throughput MeasureBareLoop(SoakServer& server, const fs::path& dir, int first, int count, const char* when) {
    std::printf("\n== Bare loop %s: fetch + LoadFromString + SaveToFile, feeds %d..%d ==\n", when, first,
                first + count - 1);
    fs::current_path(dir);
    server.phase = Phase::Bare;
    http::FetchOptions options;
    options.secureFeeds = true;
    auto once = [&](int id) {
        http::THttpClient client(options);
        const std::string body = client.Get(server.Url(id));
        feed::TFeedDocument document;
        document.LoadFromString(body);
        document.SetXSLFileName("../rss.xsl");
        document.SaveToFile("feeds/" + std::to_string(id) + ".xml");
    };
    // The first pass creates the files, as the program's first pass does;
    // the timed one replaces them.
    for (int id = first; id < first + count; ++id) once(id);
    const auto start = Clock::now();
    const double cpuStart = CpuSeconds();
    for (int id = first; id < first + count; ++id) once(id);
    Throughput result;
    result.rate = count / Seconds(Clock::now() - start);
    result.cpuMs = 1000 * (CpuSeconds() - cpuStart) / count;
    Note("bare loop: " + Fixed(result.rate, 1) + " updates/s, " + Fixed(result.cpuMs, 1) + " ms CPU per update");
    return result;
}

struct SoakMarks {
    std::mutex mutex;
    long rssEarly = -1, rssLate = -1;
    Clock::time_point windowStart, windowEnd;
    double cpuStart = 0, cpuEnd = 0;
    std::atomic<bool> windowDone{false};
    std::atomic<bool> hung{false};
    // From the hang on, requests come from manual updates only.
    std::atomic<bool> manual{false};
    // Requests per fault feed, with the time they arrived.
    std::map<int, std::vector<Clock::time_point>> faultRequests;
    std::map<int, Clock::time_point> firstRequestAfter;  // fault id -> next request's time
    int lastId = 0;
};

// The heartbeat: a 10 ms timer on the user-interface thread; a long gap
// between two ticks is a stall.
class Heartbeat {
public:
    Heartbeat() {
        FTimer.setTimerType(Qt::PreciseTimer);
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            const double worked = ThreadCpuMs();
            if (FRunning) {
                const double gap = Millis(now - FLast);
                if (gap > FMax) {
                    FMax = gap;
                    FMaxWorked = worked - FLastWorked;
                    FWhere = FLabel();
                }
                ++FTicks;
            }
            FLast = now;
            FLastWorked = worked;
            FRunning = true;
        });
    }
    void Start(std::function<std::string()> label) {
        FLabel = std::move(label);
        FRunning = false;
        FMax = 0;
        FTicks = 0;
        FTimer.start();
    }
    void Stop() { FTimer.stop(); }
    double MaxGapMs() const { return FMax; }
    // Where the longest gap ended, and how much of it the window's thread
    // itself worked: a gap it did not work through was the processor
    // given to other threads, not the window busy.
    std::string Where() const { return FWhere + " (the window's thread worked " + Fixed(FMaxWorked, 1) + " ms of it)"; }
    long Ticks() const { return FTicks; }

private:
    static double ThreadCpuMs() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
    }
    QTimer FTimer;
    Clock::time_point FLast;
    double FLastWorked = 0, FMaxWorked = 0;
    bool FRunning = false;
    double FMax = 0;
    long FTicks = 0;
    std::string FWhere;
    std::function<std::string()> FLabel;
};

// The outcome of every update the polling thread applied, by feed id, as
// the window reports it (the status text it left).
std::map<int, std::vector<std::string>> gStatusByFeed;

// The outcome of the last update of a feed ("" when none was applied).
std::string LastStatus(int id) {
    const auto& messages = gStatusByFeed[id];
    return messages.empty() ? std::string() : messages.back();
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

int RunSoak(SoakServer& server, const fs::path& dir, Throughput& program) {
    const int feeds = server.Feeds();
    const int earlyMark = 200;
    const int windowFirst = feeds + feeds / 10;
    const int windowLength = std::min(500, feeds / 2);
    const int slowId = feeds - 1;
    std::printf("\n== Soak: %d feeds, UpdateInterval 0 ==\n", feeds);

    SoakMarks marks;
    std::unique_ptr<TFormMain> form;
    std::atomic<TFormMain*> window{nullptr};  // for the server's threads
    std::atomic<bool> slowDeleted{false};
    Clock::time_point slowRequested, slowDeletedAt;

    server.onSoakRequest = [&](int ordinal, int id) {
        std::lock_guard lock(marks.mutex);
        const auto now = Clock::now();
        // Request `ordinal` arrives once update ordinal-1 has been fetched
        // and update ordinal-2 applied.
        if (ordinal == earlyMark + 1) marks.rssEarly = ResidentKiB();
        if (ordinal == windowFirst) {
            marks.windowStart = now;
            marks.cpuStart = CpuSeconds();
        }
        if (ordinal == windowFirst + windowLength) {
            marks.windowEnd = now;
            marks.cpuEnd = CpuSeconds();
            marks.windowDone = true;
        }
        if (ordinal == feeds * 3 / 2) server.neverAnswerArmed = true;
        if (server.IsFault(marks.lastId) && !marks.firstRequestAfter.count(marks.lastId))
            marks.firstRequestAfter[marks.lastId] = now;
        marks.lastId = id;
        if (server.IsFault(id) && !marks.manual) marks.faultRequests[id].push_back(now);
        if (id == 1 && server.neverAnswerArmed && !marks.hung) {
            marks.rssLate = ResidentKiB();
            marks.hung = true;
        }
        if (id == slowId && !slowDeleted.exchange(true)) {
            // Delete the feed on the user-interface thread while its body
            // is still trickling in, as a user pressing Delete would.
            slowRequested = now;
            TFormMain* shown = window.load();
            if (shown)
                QMetaObject::invokeMethod(
                    shown,
                    [shown, slowId, &slowDeletedAt] {
                        shown->Feeds().DeleteFeed(
                            TFeedTree::EntryOf(shown->Tree().FindFeedNodeById(std::to_string(slowId))));
                        slowDeletedAt = Clock::now();
                    },
                    Qt::QueuedConnection);
        }
    };

    server.phase = Phase::Soak;
    const auto startup = StartWindow(dir, form);
    window = form.get();
    Note("window up after " + Fixed(Millis(startup), 1) + " ms; polling");
    // The text before the feed's name in "FailedFeed", to tell a failure.
    const std::string failedMessage = LangMsg("FailedFeed");
    const std::string failedPrefix = failedMessage.substr(0, failedMessage.find('%'));
    auto recorder = std::make_unique<QObject>();
    QObject::connect(form.get(), &TFormMain::feedUpdateFinished, recorder.get(), [&marks](QString id, QString message) {
        if (marks.manual) return;
        auto& messages = gStatusByFeed[id.toInt()];
        if (messages.size() < 8) messages.push_back(message.toStdString());
    });

    Heartbeat heartbeat;
    std::string phase = "pass 1";
    heartbeat.Start([&] { return phase + ", request " + std::to_string(server.SoakRequests()); });

    const auto soakStart = Clock::now();
    int lastPrinted = 0;
    const bool reachedHang = ProcessEventsUntil(
        [&] {
            const int n = server.SoakRequests();
            phase = n <= feeds ? "pass 1" : n < 2 * feeds ? "pass 2" : "pass 3";
            if (n / 250 != lastPrinted / 250) {
                lastPrinted = n;
                std::printf("  ... %d updates, %.0f s, RSS %ld KiB, heap in use %zu KiB\n", n,
                            Seconds(Clock::now() - soakStart), ResidentKiB(), mallinfo2().uordblks / 1024);
                std::fflush(stdout);
            }
            return marks.hung.load();
        },
        10min, 20ms);
    const double pollingMaxGap = heartbeat.MaxGapMs();
    const std::string pollingMaxWhere = heartbeat.Where();
    const long ticks = heartbeat.Ticks();
    const double soakSeconds = Seconds(Clock::now() - soakStart);
    if (!reachedHang) Note("MISS: the polling thread never came round to the hanging feed");

    // The polling thread now hangs in a download that never answers; the
    // window must stay responsive, and a manual update of each faulty feed
    // shows the message a user would read.
    phase = "manual updates while the polling thread hangs";
    const int requestsAtHang = server.SoakRequests();
    const int ordinaryAtHang = server.OrdinaryHits();
    marks.manual = true;
    std::map<int, std::string> manualMessages;
    for (int id = feeds - 5; id <= feeds - 2; ++id) {
        QTreeWidgetItem* node = form->Tree().FindFeedNodeById(std::to_string(id));
        if (!node) continue;
        const auto start = Clock::now();
        form->Updates().UpdateFeed(std::to_string(id));
        manualMessages[id] =
            form->StatusText(0).toStdString() + "  (" + Fixed(Millis(Clock::now() - start), 0) + " ms)";
    }
    ProcessEventsFor(500ms);
    const bool stillHung = server.OrdinaryHits() == ordinaryAtHang;
    heartbeat.Stop();
    const double overallMaxGap = heartbeat.MaxGapMs();

    if (marks.windowDone) {
        program.rate = windowLength / Seconds(marks.windowEnd - marks.windowStart);
        program.cpuMs = 1000 * (marks.cpuEnd - marks.cpuStart) / windowLength;
        Note("program, requests " + std::to_string(windowFirst) + ".." + std::to_string(windowFirst + windowLength) +
             " (second pass, stored copies present): " + Fixed(program.rate, 1) + " updates/s, " +
             Fixed(program.cpuMs, 1) + " ms CPU per update");
    }
    Note("whole soak: " + std::to_string(requestsAtHang) + " requests in " + Fixed(soakSeconds, 1) + " s, " +
         std::to_string(ticks) + " heartbeats");
    if (gFullArticle) Note("articles fetched beside the polling: " + std::to_string(server.ArticleRequests()));

    std::printf("\n-- user-interface stalls --\n");
    Report("longest UI stall while polling", Fixed(pollingMaxGap, 1) + " ms", "< 100 ms", pollingMaxGap < 100);
    Note("at: " + pollingMaxWhere);
    Note("including the manual updates of the faulty feeds: " + Fixed(overallMaxGap, 1) + " ms at " +
         heartbeat.Where());

    std::printf("\n-- resident memory --\n");
    if (marks.rssEarly > 0 && marks.rssLate > 0) {
        const double growth = 100.0 * (marks.rssLate - marks.rssEarly) / marks.rssEarly;
        Report("RSS after " + std::to_string(earlyMark) + " updates", std::to_string(marks.rssEarly / 1024) + " MiB",
               "", true);
        Report("RSS after " + std::to_string(requestsAtHang - 1) + " updates",
               std::to_string(marks.rssLate / 1024) + " MiB", "", true);
        Report("RSS growth", Fixed(growth, 1) + " %", "< 10 %", growth < 10);
    } else {
        Report("RSS growth", "not measured", "< 10 %", false);
    }

    // Faults.
    std::printf("\n-- faulty feeds --\n");
    std::map<int, std::vector<Clock::time_point>> faultRequests;
    std::map<int, Clock::time_point> firstRequestAfter;
    {
        std::lock_guard lock(marks.mutex);
        faultRequests = marks.faultRequests;
        firstRequestAfter = marks.firstRequestAfter;
    }
    bool faultsOk = true;
    for (int id = feeds - 5; id <= feeds - 2; ++id) {
        const auto& requests = faultRequests[id];
        const bool stored = fs::exists(dir / "feeds" / (std::to_string(id) + ".xml"));
        std::string line = "feed " + std::to_string(id) + " (" + KindName(server.Kind(id)) + "): polled " +
                           std::to_string(requests.size()) + "x by the polling thread, stored copy " +
                           (stored ? "WRITTEN" : "none");
        if (firstRequestAfter.count(id) && !requests.empty())
            line += ", next feed requested " + Fixed(Millis(firstRequestAfter[id] - requests.front()), 0) + " ms later";
        Note(line);
        const std::string polled = LastStatus(id);
        Note("    polling thread: " + (polled.empty() ? std::string("(no message recorded)") : polled));
        Note("    manual update:  " + manualMessages[id]);
        faultsOk = faultsOk && !stored && requests.size() >= 2 && polled.rfind(failedPrefix, 0) == 0 &&
                   manualMessages[id].rfind(failedPrefix, 0) == 0;
    }
    {
        const bool nodeGone = form->Tree().FindFeedNodeById(std::to_string(slowId)) == nullptr;
        const bool stored = fs::exists(dir / "feeds" / (std::to_string(slowId) + ".xml"));
        std::string line = "feed " + std::to_string(slowId) + " (" + KindName(server.Kind(slowId)) + "): ";
        if (slowDeleted) {
            line += "deleted " + Fixed(Millis(slowDeletedAt - slowRequested), 0) + " ms after its request";
            if (firstRequestAfter.count(slowId))
                line += ", next feed requested " + Fixed(Millis(firstRequestAfter[slowId] - slowRequested), 0) +
                        " ms after it";
        } else {
            line += "never requested";
        }
        line += std::string(", node ") + (nodeGone ? "gone" : "STILL THERE") + ", stored copy " +
                (stored ? "WRITTEN" : "none") + ", requests in the soak " + std::to_string(server.SoakHits(slowId));
        Note(line);
        faultsOk = faultsOk && slowDeleted && nodeGone && !stored && server.SoakHits(slowId) == 1;
    }
    Note("feed 1 (" + std::string(KindName(FeedKind::NeverAnswer)) + "): armed at request " +
         std::to_string(feeds * 3 / 2) + ", hung at request " + std::to_string(requestsAtHang) +
         (stillHung ? ", no request since (the polling thread waits in it)" : ", BUT POLLING WENT ON"));

    // Every ordinary feed went through both full passes and has its copy.
    int missing = 0, underPolled = 0;
    for (int id = 1; id <= feeds; ++id) {
        if (server.IsFault(id) && id != 1) continue;
        if (!fs::exists(dir / "feeds" / (std::to_string(id) + ".xml"))) ++missing;
        if (server.SoakHits(id) < 2) ++underPolled;
    }
    Note(std::to_string(feeds - 5) + " ordinary feeds: " + std::to_string(missing) + " without a stored copy, " +
         std::to_string(underPolled) + " polled fewer than twice");

    // Exit with a download hanging: the window closes, the polling thread
    // is cancelled and joined, config.xml is written.
    recorder.reset();
    const auto exitTime = CloseWindow(form);
    // The marks this run's callback writes to end with this function.
    server.phase = Phase::Setup;
    const std::string config = ReadText(dir / "config.xml");
    int items = 0;
    for (std::size_t at = config.find("<item "); at != std::string::npos; at = config.find("<item ", at + 1)) ++items;
    const bool deletedSaved = config.find("id=\"" + std::to_string(slowId) + "\"") == std::string::npos;
    Note("exit with the hanging download: " + Fixed(Millis(exitTime), 0) + " ms; config.xml holds " +
         std::to_string(items) + " feeds" +
         (deletedSaved ? ", the deleted one gone" : ", THE DELETED ONE STILL THERE"));

    const bool everythingElse = missing == 0 && underPolled == 0 && stillHung;
    Report("faulty feeds handled, others kept updating", faultsOk && everythingElse ? "yes" : "no", "all",
           faultsOk && everythingElse);
    Report("exit with a download in flight", Fixed(Millis(exitTime), 0) + " ms", "< 2000 ms",
           exitTime < 2s && items == feeds - 1 && deletedSaved);
    return 0;
}

// The bare loop runs before and after the soak, so a change in the
// machine's load during the run shows as a difference between the two.
void ReportThroughput(const Throughput& program, const Throughput& before, const Throughput& after) {
    std::printf("\n-- polling throughput --\n");
    if (program.rate <= 0) {
        Report("updates/s, program (polling thread)", "window not reached", "", false);
        return;
    }
    const double bare = (before.rate + after.rate) / 2;
    const double bareCpu = (before.cpuMs + after.cpuMs) / 2;
    Report("updates/s, program (polling thread)", Fixed(program.rate, 1), "", true);
    Report("updates/s, bare loop (before/after)", Fixed(before.rate, 1) + " / " + Fixed(after.rate, 1), "", true);
    Report("program / bare loop (mean)", Fixed(100 * program.rate / bare, 0) + " %", ">= 80 %",
           program.rate >= 0.8 * bare);
    Report("CPU per update, program / bare loop", Fixed(program.cpuMs, 1) + " / " + Fixed(bareCpu, 1) + " ms", "",
           true);
}

// ---------------------------------------------------------------------------
// On the wire: compression, validators and "update all"

// A server for the network figures: every feed static (nothing changes
// between passes), answering like a web server that compresses
// (Content-Encoding: gzip, when the request offers it) and validates
// (ETag, Last-Modified, 304 to a matching If-None-Match), or plainly.
// Bodies and their compressed forms are made once, so the server's own
// work does not weigh on the figures.
class WireServer {
public:
    WireServer(int feeds, int items, int hosts) : FHosts(hosts) {
        for (int id = 1; id <= feeds; ++id) {
            std::string body = FeedBody(id, 1000);
            if (items < kItemsPerFeed) {
                // Cut after `items` items: a small feed, for round-trip figures.
                std::size_t at = 0;
                for (int i = 0; i <= items && at != std::string::npos; ++i) at = body.find("<item>", at + 1);
                if (at != std::string::npos) body = body.substr(0, at) + "</channel></rss>\n";
            }
            FBodies.push_back(body);
            FGzipped.push_back(testsupport::Encode(body, testsupport::Encoding::Gzip));
            FServer.AddHandler(Path(id),
                               [this, id](const testsupport::Request& request) { return Answer(id, request); });
        }
    }
    // Feed `id` on host h<id % hosts>.localhost, which resolves to this machine.
    std::string Url(int id) const {
        return "http://h" + std::to_string(id % FHosts) + ".localhost:" + std::to_string(FServer.Port()) + Path(id);
    }
    std::size_t PlainSize(int id) const { return FBodies[static_cast<std::size_t>(id - 1)].size(); }

    std::atomic<bool> compress{false};
    std::atomic<bool> validate{false};
    std::atomic<int> latencyMs{0};
    // Body bytes sent for the n-th request since the last reset (the
    // polling thread fetches feeds in list order, so request n belongs to
    // pass (n - 1) / feeds + 1 even when it runs ahead of the results),
    // and whether it was answered "304".
    struct Sent {
        long long bytes = 0;
        bool notModified = false;
    };
    std::vector<Sent> Log() const {
        std::lock_guard lock(FLogMutex);
        return FLog;
    }
    void ResetCounts() {
        std::lock_guard lock(FLogMutex);
        FLog.clear();
    }

private:
    static std::string Path(int id) { return "/wire/" + std::to_string(id) + ".xml"; }

    testsupport::Response Answer(int id, const testsupport::Request& request) {
        if (latencyMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(latencyMs.load()));
        testsupport::Response response;
        response.headers = {{"Content-Type", "application/rss+xml; charset=UTF-8"}};
        const std::string etag = "\"wire-" + std::to_string(id) + "\"";
        if (validate) {
            response.headers.push_back({"ETag", etag});
            response.headers.push_back({"Last-Modified", "Tue, 01 Dec 2026 08:00:00 GMT"});
            if (request.Header("If-None-Match") == etag) {
                response.statusLine = testsupport::StatusLine(304);
                Record({0, true});
                return response;
            }
        }
        const std::size_t index = static_cast<std::size_t>(id - 1);
        if (compress && request.Header("Accept-Encoding").find("gzip") != std::string::npos) {
            response.headers.push_back({"Content-Encoding", "gzip"});
            response.body = FGzipped[index];
        } else {
            response.body = FBodies[index];
        }
        Record({static_cast<long long>(response.body.size()), false});
        return response;
    }

    void Record(Sent sent) {
        std::lock_guard lock(FLogMutex);
        FLog.push_back(sent);
    }
    mutable std::mutex FLogMutex;
    std::vector<Sent> FLog;

    int FHosts;
    std::vector<std::string> FBodies;
    std::vector<std::string> FGzipped;
    testsupport::LoopbackServer FServer;
};

struct PassFigures {
    double seconds = 0;
    double rate = 0;  // updates/s
    long long bytes = 0;
    int notModified = 0;
    int failed = 0;
};

// The polling thread (no pause) over `feeds` feeds, `passes` times in a
// row; one figure per pass, from its first update to its last result.
std::vector<PassFigures> PollPasses(WireServer& server, const fs::path& dir, int feeds, int passes) {
    std::unique_ptr<TFormMain> form;
    fs::current_path(dir);
    form = std::make_unique<TFormMain>();
    int applied = 0;
    int failed = 0;
    QObject::connect(form.get(), &TFormMain::feedUpdateFinished, [&](const QString&, const QString& message) {
        ++applied;
        if (message.startsWith("Could not")) ++failed;
    });
    std::vector<PassFigures> figures;
    server.ResetCounts();
    auto start = Clock::now();
    form->Updates().Start();
    for (int pass = 1; pass <= passes; ++pass) {
        if (!ProcessEventsUntil([&] { return applied >= pass * feeds; }, 600s))
            throw std::runtime_error("a polling pass did not finish");
        const auto end = Clock::now();
        PassFigures f;
        f.seconds = Seconds(end - start);
        f.rate = feeds / f.seconds;
        f.failed = failed;
        failed = 0;
        figures.push_back(f);
        start = end;
    }
    CloseWindow(form);
    const std::vector<WireServer::Sent> log = server.Log();
    for (std::size_t n = 0; n < log.size() && n < static_cast<std::size_t>(passes * feeds); ++n) {
        PassFigures& f = figures[n / static_cast<std::size_t>(feeds)];
        f.bytes += log[n].bytes;
        f.notModified += log[n].notModified ? 1 : 0;
    }
    for (const PassFigures& f : figures)
        if (f.failed) Note(std::to_string(f.failed) + " updates of a pass FAILED");
    return figures;
}

// "Update all" over every feed of `dir`; seconds until the pass is over.
double UpdateAllPass(const fs::path& dir, int feeds) {
    std::unique_ptr<TFormMain> form;
    fs::current_path(dir);
    form = std::make_unique<TFormMain>();
    form->Updates().Stop();
    int applied = 0;
    QObject::connect(form.get(), &TFormMain::feedUpdateFinished, [&](const QString&, const QString&) { ++applied; });
    const auto start = Clock::now();
    form->Actions().UpdateAll->trigger();
    if (!ProcessEventsUntil([&] { return form->Actions().UpdateAll->isEnabled(); }, 600s))
        throw std::runtime_error("update all did not finish");
    const double seconds = Seconds(Clock::now() - start);
    if (applied != feeds) Note("update all applied " + std::to_string(applied) + " of " + std::to_string(feeds));
    Note("update all: at most " + std::to_string(form->Updates().PeakDownloads()) + " downloads at once, " +
         std::to_string(form->Updates().PeakPerHost()) + " per host");
    CloseWindow(form);
    return seconds;
}

int RunNetwork(const fs::path& scratch) {
    constexpr int kFeeds = 50;
    std::printf("\n-- on the wire: %d feeds of about 100 KB, two polling passes with nothing changed --\n", kFeeds);
    WireServer wire(kFeeds, kItemsPerFeed, 1);
    const std::string config = ConfigXml(wire, kFeeds, false);
    long long plainBytes = 0;
    for (int id = 1; id <= kFeeds; ++id) plainBytes += static_cast<long long>(wire.PlainSize(id));

    // Alternating rounds, so that a change in the machine's load hits both.
    std::vector<double> plainRates, smartRates;
    PassFigures plain1, smart1, smart2;
    for (int round = 0; round < 3; ++round) {
        wire.compress = false;
        wire.validate = false;
        testsupport::StageWorkingDirectory(kStage, scratch / "wire-plain", config);
        const auto plain = PollPasses(wire, scratch / "wire-plain", kFeeds, 1);
        plainRates.push_back(plain[0].rate);
        plain1 = plain[0];

        wire.compress = true;
        wire.validate = true;
        testsupport::StageWorkingDirectory(kStage, scratch / "wire-smart", config);
        const auto smart = PollPasses(wire, scratch / "wire-smart", kFeeds, 2);
        smartRates.push_back(smart[0].rate);
        smart1 = smart[0];
        smart2 = smart[1];
        Note("round " + std::to_string(round + 1) + ": plain " + Fixed(plain[0].rate, 1) + " updates/s, compressed " +
             Fixed(smart[0].rate, 1) + " updates/s, unchanged " + Fixed(smart[1].rate, 1) + " updates/s");
    }
    const double plainRate = Median(plainRates);
    const double smartRate = Median(smartRates);
    Report("pass 1, plain server: bytes", std::to_string(plain1.bytes), "", plain1.bytes == plainBytes);
    Report("pass 1, compressing server: bytes",
           std::to_string(smart1.bytes) + " (" + Fixed(100.0 * smart1.bytes / plainBytes, 1) + " %)", "<= 25 %",
           smart1.bytes <= plainBytes / 4);
    Report("pass 2, nothing changed: bytes",
           std::to_string(smart2.bytes) + " (" + Fixed(smart1.bytes ? 100.0 * smart2.bytes / smart1.bytes : 0, 2) +
               " %), " + std::to_string(smart2.notModified) + " x 304",
           "<= 2 %", smart2.bytes * 50 <= smart1.bytes);
    Report("updates/s pass 1, plain / compressed", Fixed(plainRate, 1) + " / " + Fixed(smartRate, 1), "", true);
    Report("compressed pass 1 against plain", Fixed(100 * smartRate / plainRate, 0) + " %", ">= 90 %",
           smartRate >= 0.9 * plainRate);
    Report("updates/s pass 2 (nothing changed)", Fixed(smart2.rate, 1), "", true);

    constexpr int kLatencyFeeds = 200;
    constexpr int kHosts = 10;
    std::printf("\n-- update all: %d feeds of 10 items on %d hosts, 200 ms per response --\n", kLatencyFeeds, kHosts);
    WireServer slow(kLatencyFeeds, 10, kHosts);
    slow.latencyMs = 200;
    const std::string slowConfig = ConfigXml(slow, kLatencyFeeds, false);
    testsupport::StageWorkingDirectory(kStage, scratch / "all-serial", slowConfig);
    const PassFigures serial = PollPasses(slow, scratch / "all-serial", kLatencyFeeds, 1)[0];
    testsupport::StageWorkingDirectory(kStage, scratch / "all-parallel", slowConfig);
    const double parallel = UpdateAllPass(scratch / "all-parallel", kLatencyFeeds);
    Report("one at a time (polling, no pause)", Fixed(serial.seconds, 1) + " s", "", true);
    Report("update all", Fixed(parallel, 1) + " s", "", true);
    Report("update all speed-up", Fixed(serial.seconds / parallel, 1) + " x", ">= 4 x", serial.seconds >= 4 * parallel);
    return 0;
}
}  // namespace

int main(int argc, char* argv[]) {
    // As the program itself does at start-up.
    plat::TuneAllocator();
    int feeds = 1000;
    int rounds = 5;
    bool startupOnly = false;
    bool network = false;
    std::string childDir;
    long long spawnedAt = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--startup-only")
            startupOnly = true;
        else if (flag == "--network")
            network = true;
        else if (flag == "--startup-child" && i + 2 < argc) {
            childDir = argv[++i];
            spawnedAt = std::atoll(argv[++i]);
        } else if (flag == "--feeds" && i + 1 < argc)
            feeds = std::max(50, std::atoi(argv[++i]));
        else if (flag == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (flag == "--alert-words" && i + 1 < argc)
            gAlertWords = argv[++i];
        else if (flag == "--full-article")
            gFullArticle = true;
        else {
            std::fprintf(
                stderr,
                "usage: app_soak [--feeds N] [--rounds R] [--startup-only] [--alert-words W] [--full-article] | "
                "--network\n");
            return 2;
        }
    }

    testsupport::PrepareHeadlessBrowser(true);
    if (!fs::exists(kStage / "languages")) {
        std::fprintf(stderr, "app_soak: no staged working directory at %s (build the 'stage' target)\n",
                     kStage.c_str());
        return 2;
    }
    if (!childDir.empty()) return RunStartUpChild(argc, argv, childDir, spawnedAt);
    if (qEnvironmentVariableIsEmpty("QUILLET_PANE_PROGRAM")) qputenv("QUILLET_PANE_PROGRAM", QUILLET_PANE_PROGRAM_PATH);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    const auto runStart = Clock::now();
    const fs::path scratch = fs::temp_directory_path() / ("quillet-soak-" + std::to_string(::getpid()));
    int result = 0;
    if (network) {
        try {
            result = RunNetwork(scratch);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "app_soak: %s\n", error.what());
            result = 1;
        }
    } else
        try {
            SoakServer server(feeds);
            std::printf("Quillet soak: %d feeds of %zu bytes (half of them gain an item per request), %u cores\n",
                        feeds, FeedBody(2, 1000).size(), std::thread::hardware_concurrency());
            for (int id = 1; id <= feeds; ++id)
                if (server.IsFault(id)) std::printf("  feed %d %s\n", id, KindName(server.Kind(id)));

            const std::string none = ConfigXml(server, 0);
            const std::string all = ConfigXml(server, feeds);
            testsupport::StageWorkingDirectory(kStage, scratch / "empty", none);
            testsupport::StageWorkingDirectory(kStage, scratch / "full", all);
            testsupport::StageWorkingDirectory(kStage, scratch / "soak", all);
            testsupport::StageWorkingDirectory(kStage, scratch / "bare", none);

            MeasureStartUp(scratch / "empty", scratch / "full", feeds, rounds);
            if (!startupOnly) {
                const int bareCount = std::min(500, feeds / 2);
                const Throughput before = MeasureBareLoop(server, scratch / "bare", 2, bareCount, "before the soak");
                Throughput program;
                result = RunSoak(server, scratch / "soak", program);
                const Throughput after = MeasureBareLoop(server, scratch / "bare", 2, bareCount, "after the soak");
                ReportThroughput(program, before, after);
            }
            server.phase = Phase::Setup;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "app_soak: %s\n", error.what());
            result = 1;
        }
    fs::current_path(fs::temp_directory_path());
    std::error_code ignored;
    fs::remove_all(scratch, ignored);

    std::printf("\n== Summary (%.0f s) ==\n", Seconds(Clock::now() - runStart));
    int missed = 0;
    for (const Figure& f : gFigures) {
        if (f.target.empty()) continue;
        std::printf("%-44s %-26s %-14s %s\n", f.name.c_str(), f.value.c_str(), f.target.c_str(),
                    f.pass ? "PASS" : "MISS");
        missed += f.pass ? 0 : 1;
    }
    std::printf("%d target(s) missed\n", missed);
    return result;
}

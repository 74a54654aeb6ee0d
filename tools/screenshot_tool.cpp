// Renders Quillet's windows to PNG files for the README and for reviewing
// the user interface by eye: the main window with three feeds (RSS 2.0,
// RSS 1.0, Atom) polled from a loopback server and one of them shown in the
// reading pane, in the desktop's light colours and in dark ones, the options
// dialog and the about box.
//
//   screenshot_tool [output folder]      (default: build/screenshots/)
//
// Run it on a real or virtual X display (tools/screenshots uses xvfb-run)
// so that the browser engine really paints; the window system's own copy of
// each window is saved, which is what a user would see.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include <unistd.h>

#include "HeadlessBrowser.h"
#include "LoopbackServer.h"
#include "StagedHome.h"
#include "fAbout.h"
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
#include "fOptions.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const fs::path kStage = QUILLET_STAGE_DIR;
const fs::path kDefaultOutput = QUILLET_DEFAULT_SCREENSHOTS;

// ---------------------------------------------------------------------------
// Three feeds as real sites publish them

const char* const kRss20 = R"(<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0">
  <channel>
    <title>Harbourside Gazette</title>
    <link>https://gazette.example.org/</link>
    <description>News from the harbour town and the villages along the coast</description>
    <language>en-gb</language>
    <lastBuildDate>Tue, 08 Dec 2026 07:45:00 +0000</lastBuildDate>
    <item>
      <title>Ferry timetable returns to winter schedule</title>
      <link>https://gazette.example.org/2026/12/ferry-winter-timetable</link>
      <guid>https://gazette.example.org/2026/12/ferry-winter-timetable</guid>
      <pubDate>Tue, 08 Dec 2026 07:30:00 +0000</pubDate>
      <author>harbour.desk@gazette.example.org (Ruth Penhallow)</author>
      <category>Transport</category>
      <description><![CDATA[<p>From Monday the island ferry runs <b>every ninety minutes</b> instead of hourly. The first crossing leaves the north quay at 06:40, the last returns at 21:10.</p><p>The operator says the change follows the usual drop in passengers after the autumn half-term. <a href="https://gazette.example.org/timetables">Full timetable</a>.</p>]]></description>
    </item>
    <item>
      <title>Lifeboat crew called out twice in one night</title>
      <link>https://gazette.example.org/2026/12/lifeboat-double-callout</link>
      <guid>https://gazette.example.org/2026/12/lifeboat-double-callout</guid>
      <pubDate>Mon, 07 Dec 2026 18:05:00 +0000</pubDate>
      <category>Community</category>
      <description><![CDATA[<p>Volunteers launched shortly after midnight to help a fishing boat with a fouled propeller, and again at dawn to search for a kayaker who was later found safe on the beach at Porth Cove.</p>]]></description>
    </item>
    <item>
      <title>Christmas market moves to the fish quay</title>
      <link>https://gazette.example.org/2026/12/christmas-market</link>
      <guid>https://gazette.example.org/2026/12/christmas-market</guid>
      <pubDate>Mon, 07 Dec 2026 09:15:00 +0000</pubDate>
      <category>Events</category>
      <description><![CDATA[<p>Forty stalls, a brass band and the lantern parade: this year's market takes over the covered fish quay on the <b>12th and 13th</b>, with late opening until 8 pm on Saturday.</p>]]></description>
    </item>
    <item>
      <title>Council approves new sea wall design</title>
      <link>https://gazette.example.org/2026/12/sea-wall</link>
      <guid>https://gazette.example.org/2026/12/sea-wall</guid>
      <pubDate>Fri, 04 Dec 2026 16:40:00 +0000</pubDate>
      <category>Council</category>
      <description><![CDATA[<p>The stepped design keeps the beach access at Slipway Lane and raises the promenade by sixty centimetres. Work is due to start in March and last eighteen months.</p>]]></description>
    </item>
    <item>
      <title>School choir records carol album</title>
      <link>https://gazette.example.org/2026/12/choir-album</link>
      <guid>https://gazette.example.org/2026/12/choir-album</guid>
      <pubDate>Thu, 03 Dec 2026 12:00:00 +0000</pubDate>
      <category>Arts</category>
      <description><![CDATA[<p>Thirty-two pupils recorded twelve carols in St Peter's church; proceeds go to the harbour food bank.</p>]]></description>
    </item>
  </channel>
</rss>
)";

const char* const kRss10 = R"(<?xml version="1.0" encoding="UTF-8"?>
<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"
         xmlns:dc="http://purl.org/dc/elements/1.1/"
         xmlns="http://purl.org/rss/1.0/">
  <channel rdf:about="https://fieldnotes.example.net/">
    <title>Field Notes: Birds of the Estuary</title>
    <link>https://fieldnotes.example.net/</link>
    <description>Sightings, counts and the odd rarity from the mudflats</description>
    <items>
      <rdf:Seq>
        <rdf:li rdf:resource="https://fieldnotes.example.net/2026/12/07/avocets"/>
        <rdf:li rdf:resource="https://fieldnotes.example.net/2026/12/05/brent-geese"/>
        <rdf:li rdf:resource="https://fieldnotes.example.net/2026/12/02/short-eared-owl"/>
        <rdf:li rdf:resource="https://fieldnotes.example.net/2026/11/29/wader-count"/>
      </rdf:Seq>
    </items>
  </channel>
  <item rdf:about="https://fieldnotes.example.net/2026/12/07/avocets">
    <title>A hundred and twelve avocets at high tide</title>
    <link>https://fieldnotes.example.net/2026/12/07/avocets</link>
    <description>&lt;p&gt;The biggest flock of the winter so far, packed on the spit below the hide. Bring a scope: they stay far out until the last hour of the flood.&lt;/p&gt;</description>
    <dc:date>2026-12-07T15:20:00Z</dc:date>
    <dc:creator>Tom Ashdown</dc:creator>
  </item>
  <item rdf:about="https://fieldnotes.example.net/2026/12/05/brent-geese">
    <title>Dark-bellied brent geese back on the saltmarsh</title>
    <link>https://fieldnotes.example.net/2026/12/05/brent-geese</link>
    <description>&lt;p&gt;About 600 birds grazing the eelgrass; one colour-ringed bird was first ringed in Siberia in 2019.&lt;/p&gt;</description>
    <dc:date>2026-12-05T10:05:00Z</dc:date>
  </item>
  <item rdf:about="https://fieldnotes.example.net/2026/12/02/short-eared-owl">
    <title>Short-eared owl hunting over the sea wall</title>
    <link>https://fieldnotes.example.net/2026/12/02/short-eared-owl</link>
    <description>&lt;p&gt;Seen from the car park at dusk, quartering the rough grass for twenty minutes.&lt;/p&gt;</description>
    <dc:date>2026-12-02T16:10:00Z</dc:date>
  </item>
  <item rdf:about="https://fieldnotes.example.net/2026/11/29/wader-count">
    <title>November wader count: results</title>
    <link>https://fieldnotes.example.net/2026/11/29/wader-count</link>
    <description>&lt;p&gt;Dunlin 4,310; knot 1,050; grey plover 220; curlew 385. Thanks to the fourteen counters who braved the rain.&lt;/p&gt;</description>
    <dc:date>2026-11-29T18:00:00Z</dc:date>
  </item>
</rdf:RDF>
)";

const char* const kAtom = R"(<?xml version="1.0" encoding="UTF-8"?>
<feed version="0.3" xmlns="http://purl.org/atom/ns#" xml:lang="en">
  <title>The Kitchen Garden Journal</title>
  <link rel="alternate" type="text/html" href="https://kitchengarden.example.com/"/>
  <tagline>Growing, cooking and keeping vegetables through the year</tagline>
  <modified>2026-12-06T20:00:00Z</modified>
  <author><name>Maya Okonkwo</name></author>
  <entry>
    <title>Garlic planted before the frost</title>
    <link rel="alternate" type="text/html" href="https://kitchengarden.example.com/garlic-planted"/>
    <id>tag:kitchengarden.example.com,2026:garlic-planted</id>
    <modified>2026-12-06T20:00:00Z</modified>
    <issued>2026-12-06T20:00:00Z</issued>
    <content type="text/html" mode="escaped">&lt;p&gt;Two beds of &lt;b&gt;'Germidour'&lt;/b&gt; and one of elephant garlic, cloves ten centimetres apart and just below the surface. A mulch of leaf mould keeps the blackbirds from pulling them up.&lt;/p&gt;</content>
  </entry>
  <entry>
    <title>Parsnips after the first frost: sweeter, as promised</title>
    <link rel="alternate" type="text/html" href="https://kitchengarden.example.com/parsnips"/>
    <id>tag:kitchengarden.example.com,2026:parsnips</id>
    <modified>2026-12-01T19:30:00Z</modified>
    <issued>2026-12-01T19:30:00Z</issued>
    <content type="text/html" mode="escaped">&lt;p&gt;Roasted with honey and thyme. The frost turns some of the starch to sugar; the difference is real.&lt;/p&gt;</content>
  </entry>
  <entry>
    <title>Saving tomato seed for next year</title>
    <link rel="alternate" type="text/html" href="https://kitchengarden.example.com/tomato-seed"/>
    <id>tag:kitchengarden.example.com,2026:tomato-seed</id>
    <modified>2026-11-24T08:15:00Z</modified>
    <issued>2026-11-24T08:15:00Z</issued>
    <content type="text/html" mode="escaped">&lt;p&gt;Ferment the seeds for three days, rinse, dry on kitchen paper, label everything.&lt;/p&gt;</content>
  </entry>
</feed>
)";

// ---------------------------------------------------------------------------
// Helpers

void Say(const std::string& text) {
    std::printf("screenshot_tool: %s\n", text.c_str());
    std::fflush(stdout);
}

// Runs the event loop until `done` holds or `limit` passes, looking every
// 20 ms and sleeping in between.
template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit) {
    if (done()) return true;
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    QTimer check;
    check.setInterval(20);
    bool reached = false;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            reached = true;
            loop.quit();
        } else if (elapsed.elapsed() > limit.count()) {
            loop.quit();
        }
    });
    check.start();
    loop.exec();
    return reached;
}

void Settle(std::chrono::milliseconds span) {
    WaitFor([] { return false; }, span);
}

std::string ConfigXml(const testsupport::LoopbackServer& server) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<config>
  <general>
    <UpdateInterval>1</UpdateInterval>
    <BalloonTimeout>10</BalloonTimeout>
    <StartTrayIcon>False</StartTrayIcon>
    <ExternalBrowser>False</ExternalBrowser>
    <SecureFeeds>True</SecureFeeds>
    <FollowRedirects>False</FollowRedirects>
  </general>
  <internal>
    <language>1033</language>
    <mainform>
      <Width>1080</Width>
      <Height>680</Height>
      <TreeViewWidth>310</TreeViewWidth>
    </mainform>
    <feedlist>
      <items>
        <item url=")" +
           server.Url("/gazette/rss.xml") + R"(" id="1" caption="" unread="0" lastupdate=""/>
        <item url=")" +
           server.Url("/fieldnotes/index.rdf") + R"(" id="2" caption="" unread="0" lastupdate=""/>
        <item url=")" +
           server.Url("/kitchengarden/atom.xml") + R"(" id="3" caption="" unread="0" lastupdate=""/>
      </items>
      <autoincrement>
        <id>4</id>
      </autoincrement>
    </feedlist>
  </internal>
</config>
)";
}

// The window as the display shows it: the reading pane is a window of
// another process, which only the screen's copy contains. The widget's own
// rendering when the platform cannot read the screen.
QPixmap Capture(QWidget& window) {
    if (QScreen* screen = window.screen()) {
        const QPoint origin = window.mapToGlobal(QPoint(0, 0)) - screen->geometry().topLeft();
        QPixmap shot = screen->grabWindow(0, origin.x(), origin.y(), window.width(), window.height());
        if (!shot.isNull() && shot.width() > 1) return shot;
    }
    return window.grab();
}

bool Save(QWidget& window, const fs::path& file) {
    window.raise();
    window.activateWindow();
    Settle(400ms);
    const QPixmap shot = Capture(window);
    if (shot.isNull() || !shot.save(QString::fromStdString(file.string()), "PNG")) {
        Say("could not save " + file.string());
        return false;
    }
    Say("wrote " + file.string() + " (" + std::to_string(shot.width()) + "x" + std::to_string(shot.height()) + ")");
    return true;
}

// A working directory that is removed however the run ends.
struct TScratchFolder {
    fs::path Path;
    ~TScratchFolder() {
        std::error_code ignored;
        fs::current_path(fs::temp_directory_path(), ignored);
        fs::remove_all(Path, ignored);
    }
};

bool ShowAndWait(QWidget& window) {
    window.show();
    return WaitFor([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }, 10s);
}

int Run(const fs::path& output) {
    testsupport::LoopbackServer server;
    const testsupport::HeaderList rss = {{"Content-Type", "application/rss+xml; charset=UTF-8"}};
    server.AddEndpoint("/gazette/rss.xml", 200, rss, kRss20);
    server.AddEndpoint("/fieldnotes/index.rdf", 200, {{"Content-Type", "application/rdf+xml"}}, kRss10);
    server.AddEndpoint("/kitchengarden/atom.xml", 200, {{"Content-Type", "application/atom+xml"}}, kAtom);

    const fs::path home = fs::temp_directory_path() / ("quillet-screenshots-" + std::to_string(::getpid()));
    testsupport::StageWorkingDirectory(kStage, home, ConfigXml(server));
    fs::current_path(home);
    const TScratchFolder scratch{home};

    int failures = 0;
    {
        TFormMain form;
        form.ShowAtStartup();
        if (!WaitFor([&] { return form.windowHandle() && form.windowHandle()->isExposed(); }, 20s)) {
            Say("the main window never appeared");
            return 1;
        }
        const bool polled = WaitFor(
            [] { return fs::exists("feeds/1.xml") && fs::exists("feeds/2.xml") && fs::exists("feeds/3.xml"); }, 60s);
        if (!polled) {
            Say("the three feeds were not all stored within a minute; status: " + form.StatusText(0).toStdString());
            return 1;
        }

        // A feed's first update names no feed in the status bar (its caption
        // comes from that very download); the next, already named one does.
        const bool named = WaitFor(
            [&] {
                const QString status = form.StatusText(0);
                for (const char* title : {"Harbourside Gazette", "Field Notes", "Kitchen Garden"})
                    if (status.contains(title) && !status.contains("...")) return true;
                return false;
            },
            5s);
        if (!named) Say("no update message naming a feed appeared; status: " + form.StatusText(0).toStdString());
        // A usual polling interval from here on, which is also what the
        // options dialog then shows.
        form.Options().GetConfigNode("general\\UpdateInterval").SetText("60");

        // The gazette shown in the browser; the other two keep their unread
        // counts in bold, as a user finds them after a poll.
        QTreeWidgetItem* shown = form.Tree().FindFeedNodeById("1");
        bool rendered = false;
        QObject::connect(form.ReadingPane, &TReadingPane::NavigateComplete, &form,
                         [&](const QString&, bool ok) { rendered = rendered || ok; });
        form.Tree().setCurrentItem(shown);
        if (!WaitFor([&] { return rendered; }, 20s)) Say("the browser did not report a finished page; saving anyway");
        // The engine paints a moment after it reports the page loaded.
        Settle(1500ms);
        failures += Save(form, output / "main-window.png") ? 0 : 1;

        // The same with the desktop's colours dark: the window and the page follow.
        {
            const QPalette light = QApplication::palette();
            QPalette dark;
            dark.setColor(QPalette::Window, QColor(0x2b, 0x2c, 0x30));
            dark.setColor(QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6));
            dark.setColor(QPalette::Base, QColor(0x1f, 0x20, 0x24));
            dark.setColor(QPalette::AlternateBase, QColor(0x2b, 0x2c, 0x30));
            dark.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
            dark.setColor(QPalette::Button, QColor(0x35, 0x36, 0x3b));
            dark.setColor(QPalette::ButtonText, QColor(0xe6, 0xe6, 0xe6));
            dark.setColor(QPalette::Highlight, QColor(0x3d, 0x6f, 0xb0));
            dark.setColor(QPalette::HighlightedText, Qt::white);
            dark.setColor(QPalette::ToolTipBase, QColor(0x35, 0x36, 0x3b));
            dark.setColor(QPalette::ToolTipText, QColor(0xe6, 0xe6, 0xe6));
            dark.setColor(QPalette::Link, QColor(0x8a, 0xb4, 0xf8));
            rendered = false;
            QApplication::setPalette(dark);
            if (!WaitFor([&] { return rendered; }, 20s)) Say("the dark page did not report a finished page");
            Settle(1500ms);
            failures += Save(form, output / "main-window-dark.png") ? 0 : 1;
            rendered = false;
            QApplication::setPalette(light);
            WaitFor([&] { return rendered; }, 20s);
        }

        {
            TFormOptions options(&form, form.Options());
            if (ShowAndWait(options))
                failures += Save(options, output / "options.png") ? 0 : 1;
            else
                ++failures;
            options.close();
        }
        {
            TAboutBox about(&form);
            if (ShowAndWait(about))
                failures += Save(about, output / "about.png") ? 0 : 1;
            else
                ++failures;
            about.close();
        }
        form.close();
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc > 2 || (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help"))) {
        std::fprintf(stderr, "usage: screenshot_tool [output folder]\n");
        return 2;
    }
    // The output folder is resolved before the tool moves into its scratch
    // working directory.
    const fs::path output = fs::absolute(argc == 2 ? fs::path(argv[1]) : kDefaultOutput);
    if (!fs::exists(kStage / "languages")) {
        std::fprintf(stderr, "screenshot_tool: no staged working directory at %s (build the 'stage' target)\n",
                     kStage.c_str());
        return 2;
    }
    fs::create_directories(output);

    testsupport::PrepareHeadlessBrowser(false);
    if (qEnvironmentVariableIsEmpty("QUILLET_PANE_PROGRAM")) qputenv("QUILLET_PANE_PROGRAM", QUILLET_PANE_PROGRAM_PATH);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Veltrax Quillet");
    QApplication::setApplicationDisplayName("Veltrax Quillet");
    QApplication::setQuitOnLastWindowClosed(false);

    try {
        return Run(output);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "screenshot_tool: %s\n", error.what());
        return 1;
    }
}

// The reading pane builds a stored copy's page on a worker thread: a huge
// feed must not hold the window, a newer navigation replaces a pending one,
// and the browser may go away while its page is still being built.
#include "WebBrowser.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include "AppTestSupport.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using apptest::WaitUntil;

constexpr int kItems = 100000;
// The longest the user-interface thread may go without serving its events.
constexpr qint64 kMaxHoldMs = 100;
const QByteArray kXslPI = "<?xml-stylesheet type=\"text/xsl\" href=\"../rss.xsl\"?>";

void WriteFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(content);
}

QByteArray StoredCopy(const QByteArray& pi, const QByteArray& title, int items) {
    QByteArray body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + pi + "\n<rss version=\"2.0\"><channel><title>" +
                      title + "</title><link>http://example.invalid/</link><description>d</description>";
    body.reserve(items * 200 + 200);
    for (int i = 0; i < items; ++i) {
        const QByteArray n = QByteArray::number(i);
        body += "<item><title>Story " + n + "</title><link>http://example.invalid/" + n +
                "</link><description>&lt;p&gt;Body &lt;b&gt;" + n +
                "&lt;/b&gt;&lt;script&gt;x()&lt;/script&gt;&lt;/p&gt;</description></item>";
    }
    return body + "</channel></rss>\n";
}

// A folder laid out like the program's, with one huge and one small feed.
class PageBuildTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new QTemporaryDir;
        QFile::copy(QStringLiteral(QUILLET_DATA_DIR "/rss.xsl"), Path("rss.xsl"));
        WriteFile(Path("feeds/1.xml"), StoredCopy(kXslPI, "Huge", kItems));
        WriteFile(Path("feeds/2.xml"), StoredCopy(kXslPI, "Small", 1));
    }
    static void TearDownTestSuite() { delete Dir; }
    static QString Path(const QString& name) { return Dir->filePath(name); }
    static QString Huge() { return Path("feeds/1.xml"); }
    static QString Small() { return Path("feeds/2.xml"); }

    void SetUp() override {
        FBrowser = std::make_unique<TWebBrowser>();
        FBrowser->resize(600, 400);
        FBrowser->OnBeforeNavigate = [](const QString& address, bool& cancel) {
            cancel = address.startsWith(QLatin1String("http"));  // never leave the machine in a test
        };
    }

    QVariant Run(const QString& script) {
        QVariant result;
        QEventLoop loop;
        FBrowser->View()->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant& v) {
            result = v;
            loop.quit();
        });
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        return result;
    }
    int ShownItems() { return Run("document.querySelectorAll('.item').length").toInt(); }

    // Lets every page build finish and its delivery, if any, arrive.
    static void FinishBuilds() {
        ASSERT_TRUE(QThreadPool::globalInstance()->waitForDone(120000));
        WaitUntil([] { return false; }, 300);
    }

    static inline QTemporaryDir* Dir = nullptr;
    std::unique_ptr<TWebBrowser> FBrowser;
};

TEST_F(PageBuildTest, AHugeStoredCopyNeverHoldsTheWindow) {
    QSignalSpy complete(FBrowser.get(), &TWebBrowser::NavigateComplete);
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QElapsedTimer total;
    qint64 built = -1;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.restart());
        if (built < 0 && total.isValid() && !FBrowser->PageBuildPending()) built = total.elapsed();
    });
    QTimer::singleShot(0, [&] {
        total.start();
        FBrowser->Navigate(Huge());
        EXPECT_TRUE(FBrowser->PageBuildPending());
        // Refused by the handler: the page on its way still arrives.
        FBrowser->Navigate("http://example.invalid/elsewhere");
    });
    sinceTick.start();
    ticker.start();
    ASSERT_TRUE(complete.wait(120000));
    ticker.stop();
    std::cout << "[ figures  ] 100,000-item page built in " << built << " ms, shown after " << total.elapsed()
              << " ms; longest user-interface hold " << longest << " ms\n";

    EXPECT_LE(longest, kMaxHoldMs);
    EXPECT_TRUE(complete.first().at(1).toBool());
    EXPECT_EQ(FBrowser->LocationURL(), Huge());
    EXPECT_FALSE(FBrowser->PageBuildPending());
    EXPECT_EQ(ShownItems(), kItems);
    EXPECT_EQ(Run("document.getElementsByTagName('script').length").toInt(), 0);
}

TEST_F(PageBuildTest, ANewerNavigationReplacesAPendingPage) {
    const struct {
        QString address;
        int items;
    } cases[] = {{Small(), 1}, {QStringLiteral("about:blank"), 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address.toStdString());
        QSignalSpy complete(FBrowser.get(), &TWebBrowser::NavigateComplete);
        FBrowser->Navigate(Huge());
        FBrowser->Navigate(c.address);
        ASSERT_TRUE(complete.wait(30000));
        FinishBuilds();
        // The huge page, finished later, never replaces the newer one.
        EXPECT_EQ(complete.count(), 1);
        EXPECT_EQ(complete.first().at(0).toString(), c.address);
        EXPECT_EQ(FBrowser->LocationURL(), c.address);
        EXPECT_EQ(ShownItems(), c.items);
    }
}

TEST_F(PageBuildTest, TheBrowserMayGoWhileItsPageIsBuilt) {
    FBrowser->Navigate(Huge());
    ASSERT_TRUE(FBrowser->PageBuildPending());
    QElapsedTimer clock;
    clock.start();
    FBrowser.reset();
    EXPECT_LE(clock.elapsed(), kMaxHoldMs) << "the end of the browser waited for its page";
    FinishBuilds();

    // The libraries are in order for the next browser.
    SetUp();
    QSignalSpy complete(FBrowser.get(), &TWebBrowser::NavigateComplete);
    FBrowser->Navigate(Small());
    ASSERT_TRUE(complete.wait(30000));
    EXPECT_EQ(ShownItems(), 1);
}

TEST_F(PageBuildTest, PagesBuiltAtOnceKeepTheirOwnErrors) {
    // Stylesheets that stop with their own message, transformed on several
    // threads together with good ones: each error names its own cause.
    constexpr int kThreads = 6;
    for (int t = 0; t < kThreads; t += 2) {
        const QByteArray n = QByteArray::number(t);
        WriteFile(Path("stop" + n + ".xsl"),
                  "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                  "<xsl:template match=\"/\"><xsl:message terminate=\"yes\">cause-" +
                      n + "</xsl:message></xsl:template></xsl:stylesheet>");
        WriteFile(Path("stop" + n + ".xml"),
                  StoredCopy("<?xml-stylesheet type=\"text/xsl\" href=\"stop" + n + ".xsl\"?>", "Stop", 1));
    }
    std::vector<std::string> faults(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &fault = faults[t]] {
            const bool stops = t % 2 == 0;
            const QString feed = stops ? Path(QStringLiteral("stop%1.xml").arg(t)) : Small();
            for (int round = 0; round < 30 && fault.empty(); ++round) {
                QByteArray html;
                try {
                    TWebBrowser::TransformLocalXml(feed, html);
                    if (stops)
                        fault = "no error";
                    else if (!html.contains("Story 0"))
                        fault = "page without its item";
                } catch (const std::runtime_error& e) {
                    const std::string text = e.what(), own = "failed: cause-" + std::to_string(t);
                    if (!stops || text.size() < own.size() || text.compare(text.size() - own.size(), own.size(), own))
                        fault = text;
                }
            }
        });
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(faults[t], "") << "thread " << t;
}

// A 32 MiB stored copy whose enclosure addresses are as long as an
// attribute may be (10,000,000 bytes) and nearly all slashes.
QByteArray SlashyStoredCopy() {
    constexpr qsizetype kFeedSize = 32 << 20;
    const QByteArray address = "http://e.invalid/" + QByteArray("a/").repeated(4'999'000) + "x.mp3";
    QByteArray body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + kXslPI +
                      "\n<rss version=\"2.0\"><channel><title>Slashes</title>";
    for (int i = 0; i < 3; ++i)
        body += "<item><title>Long " + QByteArray::number(i) + "</title><enclosure url=\"" + address +
                "\" type=\"audio/mpeg\" length=\"1\"/></item>";
    while (body.size() < kFeedSize - 200)
        body += "<item><title>Filler</title><enclosure url=\"http://e.invalid/a/b/c/d.mp3\"/></item>";
    return body + "</channel></rss>\n";
}

long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
    return -1;
}

// Builds the page of `feed` in a child process and returns how far its
// resident memory rose above where it started, in KiB; -1 when the build
// failed or the child died. The child may not grow by more than `limitKiB`,
// so a regression fails the test instead of the machine. `check` looks at
// the page in the child; its verdict comes back in `checked`.
long PageBuildGrowthKiB(const QString& feed, long limitKiB, const std::function<bool(const QByteArray&)>& check,
                        bool& checked) {
    int out[2];
    if (pipe(out) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        const rlimit cap{rlim_t(StatusKiB("VmSize:") + limitKiB) * 1024, RLIM_INFINITY};
        setrlimit(RLIMIT_AS, &cap);
        std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts here
        const long before = StatusKiB("VmRSS:");
        QByteArray page;
        long growth = -1;
        try {
            if (TWebBrowser::TransformLocalXml(feed, page)) growth = StatusKiB("VmHWM:") - before;
        } catch (...) {
        }
        const QByteArray report = QByteArray::number(qlonglong(growth)) + (check(page) ? " yes" : " no");
        _exit(write(out[1], report.constData(), size_t(report.size())) == report.size() ? 0 : 1);
    }
    close(out[1]);
    char buffer[64] = {};
    const ssize_t n = read(out[0], buffer, sizeof buffer - 1);
    close(out[0]);
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || n <= 0) return -1;
    const QList<QByteArray> fields = QByteArray(buffer).split(' ');
    checked = fields.value(1) == "yes";
    return fields.value(0).toLong();
}

TEST_F(PageBuildTest, APageOfAddressesFullOfSlashesTakesBoundedMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's own bookkeeping dwarfs the figures";
#endif
    const QByteArray stored = SlashyStoredCopy();
    WriteFile(Path("feeds/3.xml"), stored);
    const long feedKiB = long(stored.size() / 1024);
    // The bound: the page of a feed costs at most ten times its size, plus
    // a constant for the libraries' tables (the recursive file-name template
    // took half a gigabyte here, and gigabytes for longer addresses).
    const long boundKiB = 10 * feedKiB + 32 * 1024;
    bool named = false;
    const long growth = PageBuildGrowthKiB(
        Path("feeds/3.xml"), 2 * boundKiB,
        [](const QByteArray& html) {
            // Each long link shows the last part, not ten megabytes of address.
            return html.count("\">x.mp3</a>") == 3 && html.count("\">d.mp3</a>") > 1000;
        },
        named);
    std::cout << "[ figures  ] page of a " << feedKiB / 1024 << " MiB feed with 10 MB addresses of slashes: peak "
              << growth / 1024 << " MiB above the start\n";
    ASSERT_GE(growth, 0) << "the page build failed or died";
    EXPECT_LE(growth, boundKiB);
    EXPECT_TRUE(named);
}

}  // namespace

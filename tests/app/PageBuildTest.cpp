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

#include <algorithm>
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

void WriteFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(content);
}

QByteArray StoredCopy(const QByteArray& pi, const QByteArray& title, int items)
{
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
    static void SetUpTestSuite()
    {
        Dir = new QTemporaryDir;
        QFile::copy(QStringLiteral(QUILLET_DATA_DIR "/rss.xsl"), Path("rss.xsl"));
        WriteFile(Path("feeds/1.xml"), StoredCopy(kXslPI, "Huge", kItems));
        WriteFile(Path("feeds/2.xml"), StoredCopy(kXslPI, "Small", 1));
    }
    static void TearDownTestSuite() { delete Dir; }
    static QString Path(const QString& name) { return Dir->filePath(name); }
    static QString Huge() { return Path("feeds/1.xml"); }
    static QString Small() { return Path("feeds/2.xml"); }

    void SetUp() override
    {
        FBrowser = std::make_unique<TWebBrowser>();
        FBrowser->resize(600, 400);
        FBrowser->OnBeforeNavigate = [](const QString& address, bool& cancel) {
            cancel = address.startsWith(QLatin1String("http"));  // never leave the machine in a test
        };
    }

    QVariant Run(const QString& script)
    {
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
    static void FinishBuilds()
    {
        ASSERT_TRUE(QThreadPool::globalInstance()->waitForDone(120000));
        WaitUntil([] { return false; }, 300);
    }

    static inline QTemporaryDir* Dir = nullptr;
    std::unique_ptr<TWebBrowser> FBrowser;
};

TEST_F(PageBuildTest, AHugeStoredCopyNeverHoldsTheWindow)
{
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
        if (built < 0 && total.isValid() && !FBrowser->PageBuildPending())
            built = total.elapsed();
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

TEST_F(PageBuildTest, ANewerNavigationReplacesAPendingPage)
{
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

TEST_F(PageBuildTest, TheBrowserMayGoWhileItsPageIsBuilt)
{
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

TEST_F(PageBuildTest, PagesBuiltAtOnceKeepTheirOwnErrors)
{
    // Stylesheets that stop with their own message, transformed on several
    // threads together with good ones: each error names its own cause.
    constexpr int kThreads = 6;
    for (int t = 0; t < kThreads; t += 2) {
        const QByteArray n = QByteArray::number(t);
        WriteFile(Path("stop" + n + ".xsl"),
                  "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                  "<xsl:template match=\"/\"><xsl:message terminate=\"yes\">cause-" + n +
                  "</xsl:message></xsl:template></xsl:stylesheet>");
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
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(faults[t], "") << "thread " << t;
}

}  // namespace

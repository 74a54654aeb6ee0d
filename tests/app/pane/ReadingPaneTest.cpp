// The reading pane's hold on the browser engine: no helper process until a
// page is shown on screen, none for a window that starts in the tray, the
// helper ended after the window has been hidden for the delay, the same feed
// page back when the window is shown again, and a helper that dies or cannot
// start reported and replaced.
#include <QDir>
#include <QApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "TrayController.h"
#include "FeedPageController.h"
#include "AppTestSupport.h"
#include "ReadingPane.h"
#include "NotifyController.h"
#include "fMain.h"

namespace {

using apptest::TStagedHome;
using apptest::WaitUntil;

const char* const kCopy =
    "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Daily</title>"
    "<link>http://example.invalid/</link><description>d</description>"
    "<item><title>One</title></item></channel></rss>";

class ReadingPaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TFormMain>();
        form->Updates().Stop();
        apptest::Page(*form).SetOpenExternally([this](const QUrl& url) { opened.push_back(url.toString()); });
        pane = form->ReadingPane;
        // The engine's life is the matter here; the light pane needs none.
        pane->SetKind(TReadingPane::TKind::Engine);
    }
    void TearDown() override { form.reset(); }

    QTreeWidgetItem* AddFeed(const std::string& id) {
        home.WriteFile("feeds/" + id + ".xml", kCopy);
        return apptest::AddStoredFeed(
            *form, {{"url", "http://127.0.0.1:1/"}, {"id", id}, {"caption", "Feed " + id}, {"unread", "0"}});
    }
    QString CopyPath(const std::string& id) {
        return QDir::current().absoluteFilePath(QString::fromStdString("feeds/" + id + ".xml"));
    }
    void ShowWindow() {
        form->show();
        ASSERT_TRUE(WaitUntil([&] { return form->isVisible(); }));
    }
    // Waits for the pane's first completed navigation after `spy` began.
    bool PageLoaded(QSignalSpy& spy) {
        return WaitUntil([&] { return spy.count() > 0; }, 30000);
    }
    // The text of the page the helper shows.
    QString PageText() {
        QString text;
        bool replied = false;
        pane->RequestPageText([&](const QString& t) {
            text = t;
            replied = true;
        });
        EXPECT_TRUE(WaitUntil([&] { return replied; }, 10000));
        return text;
    }
    static bool ProcessGone(qint64 pid) { return pid > 0 && ::kill(pid_t(pid), 0) != 0; }

    TStagedHome home;
    std::unique_ptr<TFormMain> form;
    TReadingPane* pane = nullptr;
    std::vector<QString> opened;
};

TEST_F(ReadingPaneTest, TheBrowserIsCreatedOnlyForAPageOnScreen) {
    QTreeWidgetItem* node = AddFeed("1");

    // A window on screen without a feed shown needs no browser.
    ShowWindow();
    EXPECT_FALSE(pane->BrowserRunning());

    // Off screen a feed is only remembered.
    form->hide();
    apptest::ShowFeed(*form, node);
    EXPECT_FALSE(pane->BrowserRunning());
    EXPECT_EQ(pane->LocationURL(), CopyPath("1"));

    // On screen again, the remembered page opens in a new helper.
    QSignalSpy loads(pane, &TReadingPane::NavigateComplete);
    ShowWindow();
    // Not while the window is being shown: right after.
    EXPECT_FALSE(pane->BrowserRunning());
    ASSERT_TRUE(WaitUntil([&] { return pane->BrowserRunning(); }));
    ASSERT_TRUE(PageLoaded(loads));
    EXPECT_EQ(loads.first().at(0).toString(), CopyPath("1"));
    EXPECT_TRUE(loads.first().at(1).toBool());
    EXPECT_EQ(pane->LocationURL(), CopyPath("1"));
    EXPECT_TRUE(PageText().contains("One")) << "the stored copy is shown through its stylesheet";
}

TEST_F(ReadingPaneTest, AWindowStartedInTheTrayCreatesNoBrowser) {
    form.reset();
    {
        xml::Document config;
        config.LoadFromFile("config.xml");
        config.DocumentElement().ChildByNameOrCreate("general").ChildByNameOrCreate("StartTrayIcon").SetText("True");
        config.Save();
    }
    form = std::make_unique<TFormMain>();
    form->Updates().Stop();
    pane = form->ReadingPane;
    QTreeWidgetItem* node = AddFeed("1");
    form->ShowAtStartup();
    QApplication::processEvents();
    // An update of the selected feed while in the tray shows it again.
    form->Tree().setCurrentItem(node);
    apptest::ShowFeed(*form, node);
    QApplication::processEvents();
    EXPECT_FALSE(pane->BrowserRunning());
    EXPECT_EQ(pane->LocationURL(), CopyPath("1"));
}

TEST_F(ReadingPaneTest, HiddenForTheDelayReleasesTheBrowserAndShowingRestoresTheFeed) {
    QTreeWidgetItem* first = AddFeed("1");
    QTreeWidgetItem* second = AddFeed("2");
    pane->SetReleaseDelayMs(50);
    QSignalSpy released(pane, &TReadingPane::BrowserReleased);
    ShowWindow();
    apptest::ShowFeed(*form, first);
    ASSERT_TRUE(pane->BrowserRunning());

    // Shown again within the delay: the same helper stays.
    const qint64 kept = pane->BrowserProcessId();
    apptest::Tray(*form).ActionHideQuilletExecute();
    apptest::Tray(*form).ActionShowQuilletExecute();
    QTest::qWait(150);
    EXPECT_EQ(released.count(), 0);
    EXPECT_EQ(pane->BrowserProcessId(), kept);

    apptest::ShowFeed(*form, second);
    apptest::Tray(*form).ActionHideQuilletExecute();
    ASSERT_TRUE(WaitUntil([&] { return released.count() == 1; }, 5000));
    EXPECT_FALSE(pane->BrowserRunning());
    EXPECT_TRUE(WaitUntil([&] { return ProcessGone(kept); }, 10000))
        << "the helper process ends, it is not kept hidden";
    EXPECT_EQ(pane->LocationURL(), CopyPath("2"));
    EXPECT_EQ(form->StatusText(1), "");

    QSignalSpy loads(pane, &TReadingPane::NavigateComplete);
    apptest::Tray(*form).ActionShowQuilletExecute();
    ASSERT_TRUE(WaitUntil([&] { return pane->BrowserRunning(); }));
    ASSERT_TRUE(PageLoaded(loads));
    EXPECT_EQ(loads.first().at(0).toString(), CopyPath("2"));
    EXPECT_EQ(pane->LocationURL(), CopyPath("2"));
    EXPECT_EQ(form->Tree().currentItem(), second);
}

TEST_F(ReadingPaneTest, AMinimisedWindowCountsAsHidden) {
    QTreeWidgetItem* first = AddFeed("1");
    QTreeWidgetItem* second = AddFeed("2");
    pane->SetReleaseDelayMs(0);
    ShowWindow();
    apptest::ShowFeed(*form, first);
    ASSERT_TRUE(pane->BrowserRunning());

    form->setWindowState(form->windowState() | Qt::WindowMinimized);
    ASSERT_TRUE(WaitUntil([&] { return !pane->BrowserRunning(); }, 5000));
    // Still minimised, an update showing the selected feed loads nothing.
    apptest::ShowFeed(*form, second);
    QApplication::processEvents();
    EXPECT_FALSE(pane->BrowserRunning());

    form->setWindowState(form->windowState() & ~Qt::WindowMinimized);
    ASSERT_TRUE(WaitUntil([&] { return pane->BrowserRunning(); }));
    EXPECT_EQ(pane->LocationURL(), CopyPath("2"));
}

TEST_F(ReadingPaneTest, ABalloonClickAfterAReleaseLoadsOnlyTheBalloonsFeed) {
    QTreeWidgetItem* first = AddFeed("1");
    AddFeed("2");
    pane->SetReleaseDelayMs(0);
    ShowWindow();
    apptest::ShowFeed(*form, first);
    apptest::Tray(*form).ActionHideQuilletExecute();
    ASSERT_TRUE(WaitUntil([&] { return !pane->BrowserRunning(); }, 5000));

    // The balloon of feed 2 is clicked while the window is in the tray.
    TAnnouncement balloon;
    balloon.FeedIds = {"2"};
    balloon.ItemCount = 1;
    balloon.Items = {{"Story", "About it"}};
    apptest::Notify(*form).ShowAnnouncement(balloon);
    QStringList asked;
    pane->OnBeforeNavigate = [&asked](const QString& address, bool&) { asked << address; };
    QSignalSpy created(pane, &TReadingPane::BrowserCreated);
    QSignalSpy loads(pane, &TReadingPane::NavigateComplete);
    apptest::Tray(*form).TrayIconBalloonHintClick();
    ASSERT_TRUE(PageLoaded(loads));
    QTest::qWait(200);
    EXPECT_EQ(created.count(), 1);
    EXPECT_EQ(asked, QStringList{CopyPath("2")}) << "the page of feed 1 was loaded before the balloon's";
}

TEST_F(ReadingPaneTest, TheNavigationHookStillRulesARecreatedBrowser) {
    form->Options().GetConfigNode("general\\ExternalBrowser").SetText("True");
    pane->SetReleaseDelayMs(0);
    ShowWindow();
    apptest::ShowFeed(*form, AddFeed("1"));
    form->hide();
    ASSERT_TRUE(WaitUntil([&] { return !pane->BrowserRunning(); }, 5000));
    QSignalSpy loads(pane, &TReadingPane::NavigateComplete);
    ShowWindow();
    ASSERT_TRUE(PageLoaded(loads));

    // The helper asks the main window, whose choice sends the page to the
    // desktop's browser and keeps the feed.
    pane->Navigate("http://example.invalid/story");
    ASSERT_TRUE(WaitUntil([&] { return !opened.empty(); }, 10000));
    EXPECT_EQ(opened, std::vector<QString>{"http://example.invalid/story"});
    EXPECT_EQ(pane->LocationURL(), CopyPath("1"));

    // Hidden and shown again, the feed comes back, not the refused address.
    opened.clear();
    form->hide();
    ASSERT_TRUE(WaitUntil([&] { return !pane->BrowserRunning(); }, 5000));
    loads.clear();
    ShowWindow();
    ASSERT_TRUE(PageLoaded(loads));
    EXPECT_EQ(loads.first().at(0).toString(), CopyPath("1"));
    EXPECT_TRUE(opened.empty());
}

TEST_F(ReadingPaneTest, AHelperThatDiesIsReportedAndStartedAgainForTheNextPage) {
    QTreeWidgetItem* first = AddFeed("1");
    QTreeWidgetItem* second = AddFeed("2");
    QSignalSpy loads(pane, &TReadingPane::NavigateComplete);
    ShowWindow();
    apptest::ShowFeed(*form, first);
    ASSERT_TRUE(PageLoaded(loads));

    // Killed at once after its start: reported, and not started again on
    // its own, so an engine that cannot run does not loop.
    QSignalSpy failed(pane, &TReadingPane::BrowserFailed);
    ::kill(pid_t(pane->BrowserProcessId()), SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return failed.count() == 1; }, 10000));
    EXPECT_FALSE(pane->BrowserRunning());
    EXPECT_TRUE(form->StatusText(0).startsWith("The reading pane stopped: ")) << form->StatusText(0).toStdString();
    EXPECT_TRUE(form->StatusText(0).contains("quillet-pane crashed")) << form->StatusText(0).toStdString();
    QTest::qWait(300);
    EXPECT_FALSE(pane->BrowserRunning());

    loads.clear();
    apptest::ShowFeed(*form, second);
    ASSERT_TRUE(PageLoaded(loads));
    EXPECT_EQ(loads.first().at(0).toString(), CopyPath("2"));
}

TEST_F(ReadingPaneTest, AMissingHelperProgramIsReported) {
    qputenv("QUILLET_PANE_PROGRAM", "/nonexistent/quillet-pane");
    QSignalSpy failed(pane, &TReadingPane::BrowserFailed);
    ShowWindow();
    apptest::ShowFeed(*form, AddFeed("1"));
    const bool reported = WaitUntil([&] { return failed.count() == 1; }, 10000);
    qputenv("QUILLET_PANE_PROGRAM", QUILLET_PANE_PROGRAM_PATH);
    ASSERT_TRUE(reported);
    EXPECT_TRUE(failed.first().at(0).toString().startsWith("/nonexistent/quillet-pane: "));
    EXPECT_FALSE(pane->BrowserRunning());
    EXPECT_EQ(pane->LocationURL(), CopyPath("1"));
}

TEST_F(ReadingPaneTest, TheReleaseDelayComesFromTheEnvironment) {
    struct Case {
        const char* value;  // nullptr: unset
        int expectedMs;
    };
    const Case cases[] = {
        {nullptr, TReadingPane::kDefaultReleaseDelayMs},
        {"250", 250},
        {"0", 0},
        {"-5", TReadingPane::kDefaultReleaseDelayMs},
        {"soon", TReadingPane::kDefaultReleaseDelayMs},
    };
    for (const Case& c : cases) {
        if (c.value)
            qputenv("QUILLET_BROWSER_RELEASE_MS", c.value);
        else
            qunsetenv("QUILLET_BROWSER_RELEASE_MS");
        EXPECT_EQ(TReadingPane::ReleaseDelayFromEnvironment(), c.expectedMs) << (c.value ? c.value : "unset");
        EXPECT_EQ(TReadingPane().ReleaseDelayMs(), c.expectedMs);
    }
    qunsetenv("QUILLET_BROWSER_RELEASE_MS");
}

}  // namespace

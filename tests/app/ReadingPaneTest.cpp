// The reading pane's hold on the browser engine: no browser until a page is
// shown on screen, none for a window that starts in the tray, the browser
// released after the window has been hidden for the delay, and the same
// feed page back when the window is shown again.
#include <QDir>
#include <QApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "ReadingPane.h"
#include "WebBrowser.h"
#include "fMain.h"

namespace {

using apptest::TStagedHome;
using apptest::WaitUntil;

const char* const kCopy = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Daily</title>"
                          "<link>http://example.invalid/</link><description>d</description>"
                          "<item><title>One</title></item></channel></rss>";

class ReadingPaneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = std::make_unique<TFormMain>();
        form->StopUpdateThread();
        form->OpenExternally = [this](const QUrl& url) { opened.push_back(url.toString()); };
        pane = form->WebBrowser;
    }
    void TearDown() override { form.reset(); }

    QTreeWidgetItem* AddFeed(const std::string& id)
    {
        xml::Node item = form->Options().GetConfigNode("internal\\feedlist\\items").AppendElement("item");
        item.SetAttribute("url", "http://127.0.0.1:1/");
        item.SetAttribute("id", id);
        item.SetAttribute("caption", "Feed " + id);
        item.SetAttribute("unread", "0");
        home.WriteFile("feeds/" + id + ".xml", kCopy);
        return form->AddFeedNode(item);
    }
    QString CopyPath(const std::string& id) { return QDir::current().absoluteFilePath(QString::fromStdString("feeds/" + id + ".xml")); }
    void ShowWindow()
    {
        form->show();
        ASSERT_TRUE(WaitUntil([&] { return form->isVisible(); }));
    }
    // Waits for the browser's first completed navigation after `spy` began.
    bool PageLoaded(QSignalSpy& spy) { return WaitUntil([&] { return spy.count() > 0; }, 30000); }

    TStagedHome home;
    std::unique_ptr<TFormMain> form;
    TReadingPane* pane = nullptr;
    std::vector<QString> opened;
};

TEST_F(ReadingPaneTest, TheBrowserIsCreatedOnlyForAPageOnScreen)
{
    QTreeWidgetItem* node = AddFeed("1");

    // A window on screen without a feed shown needs no browser.
    ShowWindow();
    EXPECT_EQ(pane->ExistingBrowser(), nullptr);
    EXPECT_EQ(form->findChild<TWebBrowser*>(), nullptr);

    // Off screen a feed is only remembered.
    form->hide();
    form->ShowFeed(node);
    EXPECT_EQ(pane->ExistingBrowser(), nullptr);
    EXPECT_EQ(pane->LocationURL(), CopyPath("1"));

    // On screen again, the remembered page opens in a new browser.
    QSignalSpy loads(pane, &TReadingPane::NavigateComplete);
    ShowWindow();
    // Not while the window is being shown: right after.
    EXPECT_EQ(pane->ExistingBrowser(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return pane->ExistingBrowser() != nullptr; }));
    EXPECT_EQ(pane->ExistingBrowser()->LocationURL(), CopyPath("1"));
    EXPECT_TRUE(PageLoaded(loads));
}

TEST_F(ReadingPaneTest, AWindowStartedInTheTrayCreatesNoBrowser)
{
    form.reset();
    {
        xml::Document config;
        config.LoadFromFile("config.xml");
        config.DocumentElement().ChildByNameOrCreate("general").ChildByNameOrCreate("StartTrayIcon").SetText("True");
        config.Save();
    }
    form = std::make_unique<TFormMain>();
    form->StopUpdateThread();
    pane = form->WebBrowser;
    QTreeWidgetItem* node = AddFeed("1");
    form->ShowAtStartup();
    QApplication::processEvents();
    // An update of the selected feed while in the tray shows it again.
    form->TreeView->setCurrentItem(node);
    form->ShowFeed(node);
    QApplication::processEvents();
    EXPECT_EQ(form->findChild<TWebBrowser*>(), nullptr);
    EXPECT_EQ(pane->LocationURL(), CopyPath("1"));
}

TEST_F(ReadingPaneTest, HiddenForTheDelayReleasesTheBrowserAndShowingRestoresTheFeed)
{
    QTreeWidgetItem* first = AddFeed("1");
    QTreeWidgetItem* second = AddFeed("2");
    pane->SetReleaseDelayMs(50);
    QSignalSpy released(pane, &TReadingPane::BrowserReleased);
    ShowWindow();
    form->ShowFeed(first);
    ASSERT_NE(pane->ExistingBrowser(), nullptr);

    // Shown again within the delay: the same browser stays.
    const QPointer<TWebBrowser> kept = pane->ExistingBrowser();
    form->ActionHideQuilletExecute();
    form->ActionShowQuilletExecute();
    QTest::qWait(150);
    EXPECT_EQ(released.count(), 0);
    EXPECT_EQ(pane->ExistingBrowser(), kept.data());

    form->ShowFeed(second);
    form->ActionHideQuilletExecute();
    ASSERT_TRUE(WaitUntil([&] { return released.count() == 1; }, 5000));
    EXPECT_TRUE(kept.isNull()) << "the released browser is destroyed, not kept hidden";
    EXPECT_EQ(form->findChild<TWebBrowser*>(), nullptr);
    EXPECT_EQ(pane->LocationURL(), CopyPath("2"));
    EXPECT_EQ(form->StatusText(1), "");

    QSignalSpy loads(pane, &TReadingPane::NavigateComplete);
    form->ActionShowQuilletExecute();
    ASSERT_TRUE(WaitUntil([&] { return pane->ExistingBrowser() != nullptr; }));
    EXPECT_EQ(pane->ExistingBrowser()->LocationURL(), CopyPath("2"));
    EXPECT_TRUE(PageLoaded(loads));
    EXPECT_EQ(form->TreeView->currentItem(), second);
}

TEST_F(ReadingPaneTest, AMinimisedWindowCountsAsHidden)
{
    QTreeWidgetItem* first = AddFeed("1");
    QTreeWidgetItem* second = AddFeed("2");
    pane->SetReleaseDelayMs(0);
    ShowWindow();
    form->ShowFeed(first);
    ASSERT_NE(pane->ExistingBrowser(), nullptr);

    form->setWindowState(form->windowState() | Qt::WindowMinimized);
    ASSERT_TRUE(WaitUntil([&] { return pane->ExistingBrowser() == nullptr; }, 5000));
    // Still minimised, an update showing the selected feed loads nothing.
    form->ShowFeed(second);
    QApplication::processEvents();
    EXPECT_EQ(pane->ExistingBrowser(), nullptr);

    form->setWindowState(form->windowState() & ~Qt::WindowMinimized);
    ASSERT_TRUE(WaitUntil([&] { return pane->ExistingBrowser() != nullptr; }));
    EXPECT_EQ(pane->LocationURL(), CopyPath("2"));
}

TEST_F(ReadingPaneTest, ABalloonClickAfterAReleaseLoadsOnlyTheBalloonsFeed)
{
    QTreeWidgetItem* first = AddFeed("1");
    AddFeed("2");
    pane->SetReleaseDelayMs(0);
    ShowWindow();
    form->ShowFeed(first);
    form->ActionHideQuilletExecute();
    ASSERT_TRUE(WaitUntil([&] { return pane->ExistingBrowser() == nullptr; }, 5000));

    // The balloon of feed 2 is clicked while the window is in the tray.
    form->FBalloonNode = "2";
    QStringList asked;
    pane->OnBeforeNavigate = [&asked](const QString& address, bool&) { asked << address; };
    QSignalSpy created(pane, &TReadingPane::BrowserCreated);
    QSignalSpy loads(pane, &TReadingPane::NavigateComplete);
    form->TrayIconBalloonHintClick();
    ASSERT_TRUE(PageLoaded(loads));
    QTest::qWait(200);
    EXPECT_EQ(created.count(), 1);
    EXPECT_EQ(asked, QStringList{CopyPath("2")}) << "the page of feed 1 was loaded before the balloon's";
}

TEST_F(ReadingPaneTest, TheNavigationHookStillRulesARecreatedBrowser)
{
    form->Options().GetConfigNode("general\\ExternalBrowser").SetText("True");
    pane->SetReleaseDelayMs(0);
    ShowWindow();
    form->ShowFeed(AddFeed("1"));
    form->hide();
    ASSERT_TRUE(WaitUntil([&] { return pane->ExistingBrowser() == nullptr; }, 5000));
    ShowWindow();
    ASSERT_TRUE(WaitUntil([&] { return pane->ExistingBrowser() != nullptr; }));

    pane->ExistingBrowser()->Navigate("http://example.invalid/story");
    EXPECT_EQ(opened, std::vector<QString>{"http://example.invalid/story"});
    EXPECT_EQ(pane->LocationURL(), CopyPath("1"));
}

TEST_F(ReadingPaneTest, TheReleaseDelayComesFromTheEnvironment)
{
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

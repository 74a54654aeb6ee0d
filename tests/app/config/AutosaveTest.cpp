// config.xml follows the feed list while the program runs: the state an
// update leaves is on disk within a few seconds, a failed save is reported
// with the file and the reason and leaves the previous file whole, and long
// status texts stay readable.
#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetrics>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "FeedPageController.h"
#include "AppTestSupport.h"
#include "ConfigSaver.h"
#include "Isolation.h"
#include "LoopbackServer.h"
#include "PaneProtocol.h"
#include "StatusLabel.h"
#include "XmlDom.h"
#include "fMain.h"

namespace {

using apptest::TStagedHome;
using apptest::WaitUntil;
using testsupport::LoopbackServer;
using testsupport::Response;

using TFullDisk = testsupport::FullDisk;

std::string Rss(const std::vector<std::string>& titles) {
    std::string body =
        "<rss version=\"2.0\"><channel><title>Daily</title><link>http://example.invalid/</link>"
        "<description>d</description>";
    for (const std::string& title : titles)
        body += "<item><title>" + title + "</title><description>d</description></item>";
    return body + "</channel></rss>";
}

// The unread attribute of a feed as config.xml on disk holds it.
std::string UnreadOnDisk(const std::string& id) {
    xml::Document saved;
    saved.LoadFromFile("config.xml");
    for (const xml::Node& item :
         saved.DocumentElement().ChildByName("internal").ChildByName("feedlist").ChildByName("items").ChildElements())
        if (item.Attribute("id") == id) return item.Attribute("unread").value_or("");
    return "<absent>";
}

struct TReport {
    QString Message;
    bool Interrupt = false;
};

class AutosaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TFormMain>();
        form->Updates().Stop();
        windowReport = apptest::ConfigSaver(*form).FailureReport();
        apptest::ConfigSaver(*form).SetFailureReport([this](const QString& message, bool interrupt) {
            reports.push_back({message, interrupt});
        });
        server.AddHandler("/feed", [this](const testsupport::Request&) {
            Response response;
            response.body = body;
            return response;
        });
        node = apptest::AddConfiguredFeed(*form, "1", server.Url("/feed"), "Daily");
        form->Options().Save();
        form->Tree().setCurrentItem(form->Tree().RootNode());
    }
    void TearDown() override { form.reset(); }

    TStagedHome home;
    std::unique_ptr<TFormMain> form;
    LoopbackServer server;
    std::string body;
    QTreeWidgetItem* node = nullptr;
    std::vector<TReport> reports;
    std::function<void(const QString&, bool)> windowReport;
};

TEST_F(AutosaveTest, UpdatesReachTheDiskWithinAFewSecondsWithoutAnExplicitSave) {
    EXPECT_LE(apptest::ConfigSaver(*form).Delay().count(), 5000) << "a crash would lose more than a few seconds";
    apptest::ConfigSaver(*form).SetDelay(std::chrono::milliseconds(200));

    body = Rss({"A", "B", "C"});
    form->Updates().UpdateFeed(apptest::FeedId(node));
    EXPECT_EQ(UnreadOnDisk("1"), "0") << "written before the changes were gathered";
    ASSERT_TRUE(WaitUntil([] { return UnreadOnDisk("1") == "3"; }, 3000));

    // New items on top add to the count; a second update before the save
    // is gathered into the same write.
    body = Rss({"D", "A", "B", "C"});
    form->Updates().UpdateFeed(apptest::FeedId(node));
    body = Rss({"E", "D", "A", "B", "C"});
    form->Updates().UpdateFeed(apptest::FeedId(node));
    ASSERT_TRUE(WaitUntil([] { return UnreadOnDisk("1") == "5"; }, 3000));
    EXPECT_FALSE(form->Options().ConfigDocument().Modified());

    // Reading the feed clears its count, and that is kept too.
    ASSERT_TRUE(apptest::ShowFeedOnScreen(*form, node));
    EXPECT_TRUE(WaitUntil([] { return UnreadOnDisk("1") == "0"; }, 3000));
    EXPECT_TRUE(reports.empty());
}

TEST_F(AutosaveTest, AStreamOfChangesDoesNotPutTheSaveOffForEver) {
    apptest::ConfigSaver(*form).SetDelay(std::chrono::milliseconds(300));
    const auto setUnread = [this](long long count) {
        apptest::ChangeFeed(*form, node, [count](feedlist::TFeedEntry& feed) { feed.Unread = count; });
    };
    QElapsedTimer clock;
    clock.start();
    int changes = 0;
    // A change every 30 ms for two seconds: far more often than the delay.
    const bool saved = WaitUntil(
        [&] {
            if (clock.elapsed() >= changes * 30) {
                setUnread(++changes);
                apptest::ConfigSaver(*form).Schedule();
            }
            return UnreadOnDisk("1") != "0";
        },
        2000);
    EXPECT_TRUE(saved) << "no save while changes kept coming";
}

TEST_F(AutosaveTest, AFailedSaveSaysWhichFileAndWhyAndKeepsThePreviousOne) {
    apptest::ConfigSaver(*form).SetDelay(std::chrono::milliseconds(50));
    const std::string before = home.ReadFile("config.xml");
    const std::string file = (home.Dir() / "config.xml").string();
    const auto change = [this](const std::function<void(feedlist::TFeedEntry&)>& edit) {
        apptest::ChangeFeed(*form, node, edit);
    };
    {
        TFullDisk full;
        change([](feedlist::TFeedEntry& feed) { feed.Unread = 7; });
        apptest::ConfigSaver(*form).Schedule();
        ASSERT_TRUE(WaitUntil([&] { return reports.size() == 1; }, 3000));
        // Failing again: told again, but without interrupting the user.
        change([](feedlist::TFeedEntry& feed) { feed.Unread = 8; });
        apptest::ConfigSaver(*form).Schedule();
        ASSERT_TRUE(WaitUntil([&] { return reports.size() == 2; }, 3000));
    }
    EXPECT_EQ(home.ReadFile("config.xml"), before);
    for (const TReport& report : reports) {
        EXPECT_NE(report.Message.indexOf(QString::fromStdString(file)), -1) << report.Message.toStdString();
        EXPECT_NE(report.Message.indexOf("File too large"), -1) << report.Message.toStdString();
    }
    EXPECT_TRUE(reports[0].Interrupt);
    EXPECT_FALSE(reports[1].Interrupt);
    EXPECT_TRUE(apptest::ConfigSaver(*form).Failing());

    // With room again, the next change saves everything that was kept back.
    change([](feedlist::TFeedEntry& feed) { feed.LastUpdate = "now"; });
    apptest::ConfigSaver(*form).Schedule();
    ASSERT_TRUE(WaitUntil([] { return UnreadOnDisk("1") == "8"; }, 3000));
    EXPECT_FALSE(apptest::ConfigSaver(*form).Failing());
    EXPECT_EQ(reports.size(), 2u);
}

TEST_F(AutosaveTest, AFailedLastSaveIsReported) {
    // The last save happens as the window goes: a status-bar text would
    // never be seen, so it must interrupt.
    QString shown;
    apptest::ConfigSaver(*form).SetFailureReport([&](const QString& message, bool interrupt) {
        if (interrupt) shown = message;
    });
    const std::string before = home.ReadFile("config.xml");
    apptest::ChangeFeed(*form, node, [](feedlist::TFeedEntry& feed) { feed.Unread = 4; });
    {
        TFullDisk full;
        form->close();
        form.reset();
    }
    EXPECT_NE(shown.indexOf("config.xml"), -1) << shown.toStdString();
    EXPECT_NE(shown.indexOf("File too large"), -1) << shown.toStdString();
    EXPECT_EQ(home.ReadFile("config.xml"), before);
}

TEST_F(AutosaveTest, TheDefaultReportUsesTheStatusBarAndTheLanguageFile) {
    apptest::ConfigSaver(*form).SetFailureReport(windowReport);
    apptest::ChangeFeed(*form, node, [](feedlist::TFeedEntry& feed) { feed.Unread = 2; });
    {
        TFullDisk full;
        apptest::ConfigSaver(*form).SaveNow();
    }
    const QString status = form->StatusText(0);
    EXPECT_TRUE(status.startsWith("The settings could not be saved to \"")) << status.toStdString();
    EXPECT_NE(status.indexOf("File too large"), -1) << status.toStdString();
    // The first failure also puts up a message that does not block.
    QWidget* box = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->inherits("QMessageBox") && widget->isVisible()) box = widget;
    ASSERT_NE(box, nullptr);
    box->close();
}

// ---------------------------------------------------------------------------
// Long status texts

TEST_F(AutosaveTest, ALongStatusTextIsShortenedInTheMiddle) {
    form->resize(700, 500);
    form->show();
    const QString message =
        "Could not update Daily News From Somewhere Far Away - Failed to connect to "
        "127.0.0.1 port 1 after 0 ms: Couldn't connect to server";
    form->SetStatusText(0, message);
    auto* panel = qobject_cast<TStatusLabel*>(form->StatusPanel0);
    ASSERT_NE(panel, nullptr);
    const QString shown = panel->ShownText();
    // The feed's name and the end of the reason are both there; the text
    // fits the panel; the whole text is kept and shown on hovering.
    EXPECT_TRUE(shown.startsWith("Could not")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("to server")) << shown.toStdString();
    EXPECT_NE(shown.indexOf(QChar(0x2026)), -1) << shown.toStdString();
    EXPECT_LE(panel->fontMetrics().horizontalAdvance(shown), panel->contentsRect().width());
    EXPECT_EQ(form->StatusText(0), message);
    EXPECT_EQ(panel->toolTip(), message);

    // A reason on several lines shows on one; markup is shown as text.
    form->SetStatusText(0, "Failed - line one\nline two");
    EXPECT_EQ(panel->ShownText(), "Failed - line one line two");
    form->SetStatusText(0, "<b>bold</b>");
    EXPECT_EQ(panel->textFormat(), Qt::PlainText);

    // Widening the tree shows more of it.
    form->SplitterV->setSizes({600, 100});
    emit form->SplitterV->splitterMoved(0, 1);
    form->SetStatusText(0, message);
    EXPECT_GT(panel->ShownText().size(), shown.size());
    // The browser's panel never widens the window for a long address.
    form->SetStatusText(1, QString(2000, 'x'));
    QApplication::processEvents();
    EXPECT_LE(form->width(), 700);
}

TEST_F(AutosaveTest, HoveringAHugeAddressTakesNoTime) {
    form->resize(700, 500);
    form->show();
    auto* panel = qobject_cast<TStatusLabel*>(form->StatusPanel1);
    ASSERT_NE(panel, nullptr);
    const QString address = "http://e.invalid/" + QString(900'000, 'a') + "/end.mp3";
    QElapsedTimer clock;
    clock.start();
    apptest::Page(*form).PaneStatusTextChanged(address);
    panel->repaint();
    EXPECT_LT(clock.elapsed(), 50);
    const QString shown = panel->ShownText();
    EXPECT_TRUE(shown.startsWith("http://e.invalid/")) << shown.left(40).toStdString();
    EXPECT_TRUE(shown.endsWith("/end.mp3")) << shown.right(40).toStdString();
    // Sent from the pane's process, the address stays within a message line.
    const QString sent = pane::StatusText(address);
    EXPECT_LE(sent.size(), pane::kMaxStatusChars + 1);
    EXPECT_TRUE(sent.endsWith("/end.mp3"));
    EXPECT_EQ(pane::StatusText("http://e.invalid/x"), "http://e.invalid/x");
}

}  // namespace

// A save neither widens a file's mode nor replaces a linked config.xml with
// a plain file, whatever the umask.
TEST_F(AutosaveTest, SavesKeepModesAndWriteALinkedConfigThroughToItsTarget) {
    namespace fs = std::filesystem;
    testsupport::ScopedUmask mask(077);
    const auto modeOf = [](const fs::path& file) { return fs::status(file).permissions() & fs::perms::mask; };
    using P = fs::perms;
    fs::create_directories("dotfiles");
    fs::rename("config.xml", "dotfiles/config.xml");
    fs::create_symlink("dotfiles/config.xml", "config.xml");
    fs::permissions("dotfiles/config.xml", P::owner_read | P::owner_write | P::group_read);

    struct Step {
        std::vector<std::string> titles;
        std::string unread;
        P storedCopyMode;  // a new copy follows the umask; a replaced one keeps its mode
    };
    const Step steps[] = {
        {{"A", "B", "C"}, "3", P::owner_read | P::owner_write},
        {{"D", "A", "B", "C"}, "4", P::owner_read | P::owner_write | P::group_read | P::others_read},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.unread);
        body = Rss(step.titles);
        form->Updates().UpdateFeed(apptest::FeedId(node));
        ASSERT_TRUE(WaitUntil([&] { return UnreadOnDisk("1") == step.unread; }, 3000));
        EXPECT_TRUE(fs::is_symlink("config.xml"));
        EXPECT_EQ(modeOf("dotfiles/config.xml"), P::owner_read | P::owner_write | P::group_read);
        EXPECT_EQ(modeOf("feeds/1.xml"), step.storedCopyMode);
        // The user opens the copy to everyone before the next update.
        fs::permissions("feeds/1.xml", P::owner_read | P::owner_write | P::group_read | P::others_read);
    }
    EXPECT_TRUE(reports.empty());
}

// Feed display and notifications: showing a feed, the balloon texts, the
// text fitting behind them, the tray icon's clicks and the help.
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TrayController.h"
#include "FeedPageController.h"
#include "AppTestSupport.h"
#include "FeedDocument.h"
#include "Text.h"
#include "TextFit.h"
#include "TrayIcon.h"
#include "NotifyController.h"
#include "fMain.h"

namespace {

using apptest::TStagedHome;

using RecordingArea = apptest::TRecordingArea;

std::string Feed(const std::vector<std::pair<std::string, std::string>>& items) {
    std::string body =
        "<rss version=\"2.0\"><channel><title>Daily</title><link>http://example.invalid/</link>"
        "<description>d</description>";
    for (const auto& [title, description] : items)
        body += "<item><title>" + title + "</title><description>" + description + "</description></item>";
    return body + "</channel></rss>";
}

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TFormMain>();
        form->Updates().Stop();
        auto area = std::make_unique<RecordingArea>();
        balloons = area->Balloons;
        form->TrayIcon = new TTrayIcon(form.get(), std::move(area));
        form->TrayIcon->SetIconVisible(true);
        apptest::Page(*form).SetOpenExternally(
            [this](const QUrl& url) { opened.push_back(url.toString().toStdString()); });
    }
    void TearDown() override { form.reset(); }

    QTreeWidgetItem* AddFeed(const std::string& id, const std::string& caption, const std::string& unread) {
        return apptest::AddStoredFeed(*form, {{"url", "http://127.0.0.1:1/"},
                                              {"id", id},
                                              {"caption", caption},
                                              {"unread", unread},
                                              {"lastupdate", "earlier"}});
    }
    std::string Unread(QTreeWidgetItem* node) { return std::to_string(TFeedTree::FeedOf(node)->Unread); }
    int Width(const std::string& text) {
        return QFontMetrics(form->font()).horizontalAdvance(QString::fromStdString(text));
    }

    TStagedHome home;
    std::unique_ptr<TFormMain> form;
    std::shared_ptr<std::vector<RecordingArea::Balloon>> balloons;
    std::vector<std::string> opened;
};

TEST_F(DisplayTest, ShowFeedClearsTheCountAndOpensTheStoredCopy) {
    AddFeed("1", "Other", "0");
    QTreeWidgetItem* node = AddFeed("2", "News", "5");
    EXPECT_EQ(node->text(0), "News (5)");

    apptest::ShowFeed(*form, node);
    EXPECT_EQ(form->Tree().currentItem(), node);
    EXPECT_EQ(form->ReadingPane->LocationURL(), QDir::current().absoluteFilePath("feeds/2.xml"));
    EXPECT_EQ(Unread(node), "5") << "asked for off screen, the page was not seen";

    // Once the pane has shown the page, the count goes.
    home.WriteFile("feeds/2.xml", Feed({{"One", "x"}}));
    ASSERT_TRUE(apptest::ShowFeedOnScreen(*form, node));
    EXPECT_EQ(Unread(node), "0");
    EXPECT_EQ(node->text(0), "News");
    EXPECT_FALSE(node->font(0).bold());

    // The root has nothing to show.
    apptest::ShowFeed(*form, form->Tree().RootNode());
    EXPECT_EQ(form->Tree().currentItem(), node);
}

TEST_F(DisplayTest, BalloonForOneItemShowsTitleAndPlainDescription) {
    QTreeWidgetItem* node = AddFeed("1", "Daily", "0");
    feed::TFeedDocument doc;
    doc.LoadFromString(
        Feed({{"Big news", "&lt;p&gt;It &lt;b&gt;happened&lt;/b&gt; &amp;amp; more&lt;/p&gt;"}, {"Older", "x"}}));
    apptest::Notify(*form).ShowNotification(*TFeedTree::FeedOf(node), doc, 1);
    EXPECT_EQ(apptest::Notify(*form).Balloon().Title, "Big news");
    EXPECT_EQ(apptest::Notify(*form).Balloon().Text, "It happened &amp; more");
    ASSERT_EQ(balloons->size(), 1u);
    EXPECT_EQ(balloons->back().Title, "Big news");
    EXPECT_EQ(balloons->back().TimeoutMs, 10000u);  // general\BalloonTimeout

    // An item without a description is announced all the same.
    doc.LoadFromString(Feed({{"Title only", ""}}));
    apptest::Notify(*form).ShowNotification(*TFeedTree::FeedOf(node), doc, 1);
    EXPECT_EQ(apptest::Notify(*form).Balloon().Text, "");
    ASSERT_EQ(balloons->size(), 2u);
    EXPECT_EQ(balloons->back().Title, "Title only");
}

TEST_F(DisplayTest, BalloonForSeveralItemsListsFittedTitles) {
    QTreeWidgetItem* node = AddFeed("1", "Daily", "0");
    const std::string longTitle(120, 'W');
    feed::TFeedDocument doc;
    doc.LoadFromString(Feed({{"Short one", ""}, {longTitle, ""}, {"Third", ""}, {"Not announced", ""}}));
    form->Options().GetConfigNode("general\\BalloonTimeout").SetText("not a number");
    apptest::Notify(*form).ShowNotification(*TFeedTree::FeedOf(node), doc, 3);

    EXPECT_EQ(apptest::Notify(*form).Balloon().Title, "Daily: 3 new items");
    const QStringList lines = apptest::Notify(*form).Balloon().Text.split("\n");
    ASSERT_EQ(lines.size(), 4);  // three lines, each ending with a line break
    EXPECT_EQ(lines[0], "Short one");
    EXPECT_EQ(lines[2], "Third");
    EXPECT_TRUE(lines[3].isEmpty());
    ASSERT_TRUE(lines[1].endsWith("..."));
    const std::string cut = lines[1].chopped(3).toStdString();
    EXPECT_LE(Width(cut), 250);
    EXPECT_GT(Width(cut + "WWW"), 250);  // no more was cut than needed
    ASSERT_EQ(balloons->size(), 1u);
    EXPECT_EQ(balloons->back().TimeoutMs, 10000u);  // a bad setting falls back
}

TEST_F(DisplayTest, TrayClickRepeatsTheLastBalloonAndBalloonClickShowsItsFeed) {
    QTreeWidgetItem* node = AddFeed("1", "Daily", "3");
    apptest::Tray(*form).TrayIconClick();
    EXPECT_TRUE(balloons->empty()) << "nothing to repeat before the first balloon";

    feed::TFeedDocument doc;
    doc.LoadFromString(Feed({{"One", "text"}}));
    apptest::Notify(*form).ShowNotification(*TFeedTree::FeedOf(node), doc, 1);
    apptest::Tray(*form).TrayIconClick();
    ASSERT_EQ(balloons->size(), 2u);
    EXPECT_EQ(balloons->at(1).Title, "One");
    EXPECT_EQ(balloons->at(1).Text, "text");

    home.WriteFile("feeds/1.xml", Feed({{"One", "text"}}));
    apptest::Tray(*form).TrayIconBalloonHintClick();
    EXPECT_EQ(form->Tree().currentItem(), node);
    EXPECT_TRUE(apptest::WaitUntil([&] { return Unread(node) == "0"; }, 30000)) << "read once the pane showed it";
    EXPECT_EQ(node->text(0), "Daily");
}

TEST_F(DisplayTest, BalloonOfADeletedFeedLeadsNowhere) {
    QTreeWidgetItem* other = AddFeed("1", "Other", "0");
    QTreeWidgetItem* node = AddFeed("2", "Daily", "3");
    form->Tree().setCurrentItem(other);
    feed::TFeedDocument doc;
    doc.LoadFromString(Feed({{"One", "text"}}));
    apptest::Notify(*form).ShowNotification(*TFeedTree::FeedOf(node), doc, 1);
    form->Feeds().DeleteFeed(TFeedTree::EntryOf(node));

    apptest::Tray(*form).TrayIconBalloonHintClick();
    EXPECT_EQ(form->Tree().currentItem(), other);
    apptest::Tray(*form).TrayIconClick();
    EXPECT_EQ(balloons->size(), 1u);
}

TEST_F(DisplayTest, ShowHideAndHelpThroughTheTray) {
    form->show();
    apptest::Tray(*form).ActionHideQuilletExecute();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(form->Actions().ShowQuillet->isVisible());
    EXPECT_FALSE(form->Actions().HideQuillet->isVisible());
    apptest::Tray(*form).TrayIconDblClick();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->Actions().ShowQuillet->isVisible());
    EXPECT_TRUE(form->Actions().HideQuillet->isVisible());

    form->Actions().Help->trigger();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_NE(opened[0].find("help/Quillet.html"), std::string::npos);

    emit form->ReadingPane->StatusTextChange("http://example.invalid/x");
    EXPECT_EQ(form->StatusText(1), "http://example.invalid/x");
}

// ---- the text helpers ----

TEST(TextFit, CutTextKeepsTheArithmeticOnAsciiAndWholeCharactersInUtf8) {
    struct Case {
        std::string text;
        long long length;
        std::string expected;
    } cases[] = {
        {"abcdef", 10, "abcdef"},
        {"abcdef", 6, "abcdef"},
        {"abcdef", 5, "abc"},
        {"abcdef", 3, "a"},
        {"abcdef", 2, ""},
        {"abcdef", 0, ""},
        {"abcdef", -4, ""},
        {"", 0, ""},
        // "é" is two bytes: a cut inside it steps back before it.
        {"a\xC3\xA9z", 4, "a\xC3\xA9z"},
        {"ab\xC3\xA9z", 4, "ab"},
        {"a\xC3\xA9zz", 4, "a"},
        {"\xE2\x82\xAC\xE2\x82\xAC", 5, "\xE2\x82\xAC"},
        {"\xE2\x82\xAC\xE2\x82\xAC", 4, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(textfit::CutText(c.text, c.length), c.expected) << c.text << " / " << c.length;
}

TEST(TextFit, StripTagsDropsMarkupAndKeepsTheRest) {
    const std::pair<std::string, std::string> cases[] = {
        {"<p>Hello <b>big</b> world</p>", "Hello big world"},
        {"a &amp; b &#233;", "a &amp; b &#233;"},
        {"  spaced  <i> out </i> ", "  spaced   out  "},
        {"x > y", "x  y"},
        {"open <tag never closed", "open "},
        {"", ""},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(plat::StripTags(text), expected) << text;
}

TEST(TextFit, FitTextWidthShortensUntilItFits) {
    const auto measure = [](const std::string& s) { return static_cast<int>(s.size()) * 10; };
    EXPECT_EQ(textfit::FitTextWidth("short", 250, measure), "short");
    EXPECT_EQ(textfit::FitTextWidth(std::string(25, 'a'), 250, measure), std::string(25, 'a'));
    // 30 characters: cut by three at a time down to 24, then "...".
    EXPECT_EQ(textfit::FitTextWidth(std::string(30, 'a'), 250, measure), std::string(24, 'a') + "...");
    EXPECT_EQ(textfit::FitTextWidth("abc", 0, measure), "...");
    // Multi-byte text never ends in half a character.
    const std::string euros = "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC";
    const std::string fitted = textfit::FitTextWidth(euros, 50, measure);
    EXPECT_EQ(fitted, "\xE2\x82\xAC...");
}

}  // namespace

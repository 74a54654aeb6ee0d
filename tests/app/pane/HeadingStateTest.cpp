// An item's heading on the feed page carries its state in words ("new",
// "alert", "Starred") in both panes, so a screen reader moving by headings
// hears it: the page built from the marks the window sends, through the
// delivered rss.xsl.
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FeedPageFunctions.h"
#include "PageBuild.h"

namespace {

class HeadingStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::copy(QStringLiteral(QUILLET_DATA_DIR "/rss.xsl"), FDir.filePath("rss.xsl"));
        QFile file(FFeed);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"(<?xml version="1.0" encoding="UTF-8"?>
<?xml-stylesheet type="text/xsl" href="rss.xsl"?>
<rss version="2.0"><channel><title>Coast</title><description>d</description>
<item><title>Ferry times</title><guid>urn:1</guid><description>Early boat.</description></item>
<item><title>Harbour news</title><guid>urn:2</guid><description>A &lt;b&gt;Storm&lt;/b&gt; warning.</description></item>
<item><title>Quay works</title><guid>urn:3</guid><description>Done.</description></item>
<item><title>Storm damage</title><guid>urn:4</guid><description>Roofs.</description></item>
<item><title>Tide table</title><guid>urn:5</guid><description>Low at noon.</description></item>
</channel></rss>)");
    }

    // The text of each <h2> of the page, tags dropped and spaces joined.
    std::vector<std::string> Headings(const QJsonObject& marks, quillet::TPageTarget target) {
        quillet::TPageBuild build(FFeed, "light", quillet::TPageMarks::FromJson(marks), target);
        build.Run();
        EXPECT_TRUE(build.HasPage() && !build.Failed()) << build.Html().left(400).toStdString();
        std::vector<std::string> headings;
        static const QRegularExpression heading(QStringLiteral("<h2[^>]*>(.*?)</h2>"),
                                                QRegularExpression::DotMatchesEverythingOption);
        for (const auto& match : heading.globalMatch(QString::fromUtf8(build.Html()))) {
            QTextDocument text;
            text.setHtml(match.captured(1));
            headings.push_back(text.toPlainText().simplified().toStdString());
        }
        return headings;
    }

    QTemporaryDir FDir;
    QString FFeed = FDir.filePath("1.xml");
};

TEST_F(HeadingStateTest, HeadingsSayNewAlertAndStarredInBothPanes) {
    QJsonObject marks{{"feed", "1"},
                      {"unread", QJsonArray{"g:urn:1", "g:urn:4"}},
                      {"starred", QJsonArray{"g:urn:3", "g:urn:4"}},
                      {"alertWords", QJsonArray{"storm"}}};
    const std::vector<std::string> english = {
        "Ferry times new \xE2\x98\x86 Star", "Harbour news alert \xE2\x98\x86 Star", "Quay works \xE2\x98\x85 Starred",
        "Storm damage new, alert \xE2\x98\x85 Starred", "Tide table \xE2\x98\x86 Star"};
    EXPECT_EQ(Headings(marks, quillet::TPageTarget::Engine), english);
    // The light pane draws no generated content: a new item's mark is a
    // character of the page, before the words.
    std::vector<std::string> light = english;
    for (const int fresh : {0, 3}) light[fresh] = "\xE2\x97\x8F " + light[fresh];
    EXPECT_EQ(Headings(marks, quillet::TPageTarget::Light), light);

    // The words of the reader's language, as the window sends them.
    marks.insert("newWord", "neu");
    marks.insert("alertWord", "Alarm");
    marks.insert("starLabel", "Stern");
    marks.insert("starredLabel", "Mit Stern");
    EXPECT_EQ(Headings(marks, quillet::TPageTarget::Engine)[3], "Storm damage neu, Alarm \xE2\x98\x85 Mit Stern");

    // Without marks (another browser, a page of no feed) nothing is said.
    EXPECT_EQ(Headings({}, quillet::TPageTarget::Engine),
              (std::vector<std::string>{"Ferry times", "Harbour news", "Quay works", "Storm damage", "Tide table"}));
}

}  // namespace

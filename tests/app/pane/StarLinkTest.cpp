// Star links on a feed's page: their addresses (any key a feed wrote,
// escaped), and in the light pane what a click asks of the window, the link
// changed in place while the page stays where it was, and the item the
// reader is at (the engine pane's are in WebBrowserTest).
#include <QFile>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "AppTestSupport.h"
#include "FeedPageFunctions.h"
#include "LightPane.h"
#include "PaneProtocol.h"

namespace {

using apptest::WaitUntil;

// The hostile guid: markup, quotes and the link's own separators.
const std::string kHostileGuid = "\"><a href=\"http://evil.invalid/\">x</a>?on=1&key=g:urn:1#";

QString Star(const std::string& key, bool star) {
    return pane::StarRequestAddress(QStringLiteral("7"), QString::fromStdString(key), star);
}

TEST(StarRequest, AddressesCarryAnyKeyAndOthersAreRefused) {
    for (const std::string& key : {std::string("g:urn:1"), kHostileGuid, std::string("b:\xC3\xBC \xE2\x82\xAC text")})
        for (const bool star : {true, false}) {
            QString feedId, parsed;
            bool on = !star;
            ASSERT_TRUE(pane::ParseStarRequest(pane::StarRequestAddress("12", QString::fromStdString(key), star),
                                               feedId, parsed, on))
                << key;
            EXPECT_EQ(feedId, "12");
            EXPECT_EQ(parsed.toStdString(), key);
            EXPECT_EQ(on, star);
        }
    for (const char* other : {"quillet-star:12?key=a", "quillet-star:1a?on=1&key=a", "quillet-star:../1?on=1&key=a",
                              "quillet-star:12?on=1&key=", "quillet-star:12?on=2&key=a",
                              "quillet-star:12?on=1&key=a&key=b", "quillet-article:12?key=a", "http://x/?on=1&key=a"}) {
        QString feedId, key;
        bool on = false;
        EXPECT_FALSE(pane::ParseStarRequest(other, feedId, key, on)) << other;
    }
}

class StarLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::copy(QStringLiteral(QUILLET_DATA_DIR "/rss.xsl"), FDir.filePath("rss.xsl"));
        QByteArray items;
        for (int i = 1; i <= 30; ++i)
            items += "<item><title>Item " + QByteArray::number(i) + "</title><guid>" +
                     (i == 30 ? QString::fromStdString(kHostileGuid).toHtmlEscaped().toUtf8()
                              : "urn:" + QByteArray::number(i)) +
                     "</guid><description>" + QByteArray("Words of the item. ").repeated(30) + "</description></item>";
        QFile file(FFeed);
        file.open(QIODevice::WriteOnly);
        file.write(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<?xml-stylesheet type=\"text/xsl\" href=\"rss.xsl\"?>\n"
            "<rss version=\"2.0\"><channel><title>Daily</title><description>d</description>" +
            items + "</channel></rss>");
        FMarks.FeedId = "7";
        FMarks.Starred = {"g:urn:2"};
    }

    // The feed's page on show in `pane`; what its links ask goes to `asked`.
    bool ShowInLightPane() {
        pane.resize(600, 400);
        pane.show();
        pane.OnBeforeNavigate = [this](const QString& address, bool& cancel) {
            asked << address;
            cancel = !address.startsWith('/');
        };
        QSignalSpy done(&pane, &TLightPane::NavigateComplete);
        pane.Navigate(FFeed, FMarks);
        return done.wait(10000);
    }

    QTemporaryDir FDir;
    const QString FFeed = FDir.filePath("7.xml");
    quillet::TPageMarks FMarks;
    TLightPane pane;
    QStringList asked;
};

// Every star link of the light pane's page, in order.
QStringList LightStarLinks(const QTextDocument& document) {
    QStringList links;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().anchorHref().startsWith(QLatin1String("quillet-star:")))
                links << it.fragment().charFormat().anchorHref();
    return links;
}

TEST_F(StarLinkTest, TheLightPaneStarsByItsLinksInPlace) {
    ASSERT_TRUE(ShowInLightPane());

    const QStringList links = LightStarLinks(*pane.document());
    ASSERT_EQ(links.size(), 30);
    EXPECT_EQ(links.at(0), Star("g:urn:1", true));
    EXPECT_EQ(links.at(1), Star("g:urn:2", false)) << "a starred item's link takes the star away";
    EXPECT_EQ(links.at(29), Star("g:" + kHostileGuid, true)) << "the feed's key stays inside the link";
    // (Plain text has ordinary spaces for the page's no-break ones.)
    const QString text = pane.toPlainText();
    EXPECT_EQ(text.count(QStringLiteral("\u2605 Starred")), 1) << "a starred item says so in words";
    EXPECT_EQ(text.count(QStringLiteral("\u2606 Star")), 29);

    // A click is the window's to take; the page stays.
    asked.clear();
    emit pane.anchorClicked(QUrl(links.at(2)));
    EXPECT_EQ(asked, QStringList{links.at(2)});
    EXPECT_EQ(pane.LocationURL(), FFeed);

    // Starred in place: the reader's place on the page is kept.
    EXPECT_EQ(pane.StarLinkInView(), links.at(0));
    pane.verticalScrollBar()->setValue(pane.verticalScrollBar()->maximum() / 2);
    const int position = pane.verticalScrollBar()->value();
    const QString atView = pane.StarLinkInView();
    EXPECT_NE(atView, links.at(0));
    EXPECT_TRUE(links.contains(atView));
    ASSERT_TRUE(pane.SetStarLink(links.at(2), Star("g:urn:3", false), "\u2605\u00A0Starred"));
    EXPECT_EQ(pane.verticalScrollBar()->value(), position);
    EXPECT_EQ(LightStarLinks(*pane.document()).at(2), Star("g:urn:3", false));
    EXPECT_EQ(pane.toPlainText().count(QStringLiteral("\u2605 Starred")), 2);
    EXPECT_FALSE(pane.SetStarLink(Star("g:urn:99", true), Star("g:urn:99", false), "x"));

    // A new style sets the page again from its HTML, which kept the star.
    auto style = pane.PageStyle();
    style.Zoom = 2;
    pane.SetPageStyle(style);
    EXPECT_EQ(LightStarLinks(*pane.document()).at(2), Star("g:urn:3", false));
}

// The item's menu asks the same of the window as its links.
TEST_F(StarLinkTest, TheLightPanesItemMenuStarsAndAsksForTheArticle) {
    ASSERT_TRUE(ShowInLightPane());
    pane.SetItemMenuTexts({"star", "unstar", "article"});

    // On the second item's star link: it is starred.
    QTextCursor at(pane.document());
    at.setPosition(pane.toPlainText().indexOf(QStringLiteral("\u2605")) + 1);
    std::unique_ptr<QMenu> menu(pane.ItemMenu(pane.cursorRect(at).center()));
    QStringList texts;
    for (QAction* action : menu->actions()) texts << action->text();
    ASSERT_TRUE(texts.contains("unstar") && texts.contains("article")) << texts.join('|').toStdString();
    asked.clear();
    for (QAction* action : menu->actions())
        if (action->text() == "unstar" || action->text() == "article") action->trigger();
    EXPECT_EQ(asked, QStringList({Star("g:urn:2", false), pane::ArticleRequestAddress("7", "g:urn:2")}));
}

}  // namespace

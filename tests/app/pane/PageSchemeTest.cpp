// The feed page follows the desktop's light or dark colour scheme: the
// window reads it from its palette and follows palette changes, every page
// request carries it, and the stylesheet adds the dark rules while the light
// page stays the page it always was.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QPalette>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

#include "AppTestSupport.h"
#include "PaneProtocol.h"
#include "PaneServer.h"
#include "ReadingPane.h"
#include "WebBrowser.h"

namespace {

// The delivered stylesheet and a fixture feed, laid out as in the home.
class SchemeFolder {
public:
    SchemeFolder() {
        QDir(FDir.path()).mkpath("feeds");
        QFile::copy(QString::fromStdString((apptest::DataDir() / "rss.xsl").string()), FDir.filePath("rss.xsl"));
        QFile::copy(QString(QUILLET_TEST_DATA_DIR) + "/pages/scheme_every_element.xml", Feed());
    }
    QString Feed() const { return FDir.filePath("feeds/1.xml"); }
    QString Page(const QString& scheme) const {
        QByteArray html;
        EXPECT_TRUE(TWebBrowser::TransformLocalXml(Feed(), html, scheme));
        return QString::fromUtf8(html);
    }

private:
    QTemporaryDir FDir;
};

QPalette WithWindow(const QColor& color) {
    QPalette palette;
    palette.setColor(QPalette::Window, color);
    return palette;
}

TEST(PageScheme, TheLightPageIsTheDefaultAndTheDarkOneOnlyAddsItsRules) {
    SchemeFolder folder;
    const QString standard = folder.Page(QString());
    const QString light = folder.Page("light");
    const QString dark = folder.Page("dark");
    ASSERT_FALSE(standard.isEmpty());
    EXPECT_EQ(light, standard);
    // Only the two words become a parameter; anything else is the default.
    EXPECT_EQ(folder.Page("x') or ('1"), standard);
    EXPECT_FALSE(light.contains("dark"));

    EXPECT_TRUE(dark.contains("<body class=\"dark\">"));
    for (const char* rule : {"color-scheme: dark", "body.dark {", "body.dark a:visited", "body.dark .item .date",
                             "body.dark .item .enclosure .type", "body.dark code, body.dark pre",
                             "body.dark blockquote", "body.dark table"})
        EXPECT_TRUE(dark.contains(rule)) << rule;
    // Colours come from the rules, never from the markup: the page itself
    // is the light page's, with the body's class.
    const QString lightBody = light.mid(light.indexOf("</style>"));
    QString darkBody = dark.mid(dark.indexOf("</style>"));
    darkBody.replace("<body class=\"dark\">", "<body>");
    EXPECT_EQ(darkBody, lightBody);
    EXPECT_EQ(dark.left(dark.indexOf("<style")), light.left(light.indexOf("<style")));
    EXPECT_TRUE(dark.contains("<img src=\"http://example.invalid/i.png\""));
}

TEST(PageScheme, TheWindowColourDecidesAndPaletteChangesAreFollowed) {
    struct Case {
        QColor window;
        const char* scheme;
    } cases[] = {
        {QColor("#ffffff"), "light"}, {QColor("#efefef"), "light"}, {QColor("#808080"), "light"},
        {QColor("#7f7f7f"), "dark"},  {QColor("#2d2d2d"), "dark"},  {QColor("#000000"), "dark"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TReadingPane::SchemeOf(WithWindow(c.window)), c.scheme) << c.window.name().toStdString();

    TReadingPane pane;
    const QPalette before = QApplication::palette();
    QApplication::setPalette(WithWindow(QColor("#202124")));
    QApplication::processEvents();
    EXPECT_EQ(pane.ColorScheme(), "dark") << "the application's palette";
    QApplication::setPalette(before);
    QApplication::processEvents();
    EXPECT_EQ(pane.ColorScheme(), TReadingPane::SchemeOf(before));
    pane.setPalette(WithWindow(QColor("#1a1a1a")));
    EXPECT_EQ(pane.ColorScheme(), "dark") << "the pane's own palette";

    // A choice of the reader's own holds whatever the desktop does.
    const struct {
        const char* choice;
        QColor window;
        const char* scheme;
    } choices[] = {
        {"light", QColor("#1a1a1a"), "light"},
        {"dark", QColor("#ffffff"), "dark"},
        {"desktop", QColor("#ffffff"), "light"},
        {"nonsense", QColor("#1a1a1a"), "dark"},  // as the desktop
    };
    for (const auto& c : choices) {
        pane.SetColorChoice(c.choice);
        pane.setPalette(WithWindow(c.window));
        EXPECT_EQ(pane.ColorScheme(), c.scheme) << c.choice;
    }
}

TEST(PageScheme, APageRequestSetsTheSchemeOfThePagesTheHelperBuilds) {
    TPaneServer server([](const QByteArray&) {});
    const struct {
        const char* op;
        QJsonObject fields;
        const char* scheme;
    } steps[] = {
        {"navigate", {{"address", "/nowhere/feeds/1.xml"}, {"scheme", "dark"}}, "dark"},
        {"open", {{"address", "/nowhere/feeds/2.xml"}, {"scheme", "light"}}, "light"},
        {"images", {{"on", false}}, "light"},
    };
    for (const auto& step : steps) {
        server.Receive(pane::Encode(step.op, step.fields));
        EXPECT_EQ(server.Browser()->ColorScheme(), step.scheme) << step.op;
    }
}

}  // namespace

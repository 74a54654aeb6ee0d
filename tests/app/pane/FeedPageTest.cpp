// The page a stored copy renders to: full bodies, authors, enclosures, and
// dates in the reader's own zone and format.
#include <QLocale>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <libxml/parser.h>

#include <filesystem>
#include <string>

#include "FeedDocument.h"
#include "FeedPageFunctions.h"
#include "PageStylesheet.h"

namespace {

// Renders a stored copy through data/rss.xsl as the program does.
std::string RenderStoredCopy(feed::TFeedDocument& model) {
    model.SetXSLFileName("../rss.xsl");
    model.GenerateXML();
    const std::string stored = model.XMLFile().SaveToString();
    xmlDocPtr doc = xmlReadMemory(stored.data(), static_cast<int>(stored.size()), "copy.xml", nullptr, XML_PARSE_NONET);
    const QByteArray html = quillet::ApplyPageStylesheet(doc, "copy.xml", QUILLET_DATA_DIR "/rss.xsl");
    xmlFreeDoc(doc);
    return html.toStdString();
}

}  // namespace

TEST(FeedPage, LocalDateShowsTheInstantInTheReadersZone) {
    const QLocale english(QLocale::English, QLocale::UnitedKingdom);
    const QTimeZone berlin("Europe/Berlin");
    struct Case {
        const char* stored;
        const char* shown;
    };
    const Case cases[] = {
        {"Tue, 08 Dec 2026 06:30:00 PST", "Tuesday, 8 December 2026 15:30"},
        {"Tue, 08 Dec 2026 14:30:00 GMT", "Tuesday, 8 December 2026 15:30"},
        {"Tue, 08 Dec 2026 23:45:00 -0500", "Wednesday, 9 December 2026 05:45"},
        {"2026-12-08T14:30:00Z", "Tuesday, 8 December 2026 15:30"},
        {"not a date", "not a date"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(quillet::LocalDateText(QString::fromUtf8(c.stored), english, berlin).toStdString(), c.shown)
            << c.stored;
}

TEST(FeedPage, StoredCopyShowsBodyAuthorEnclosureAndLocalDate) {
    feed::TFeedDocument model;
    model.LoadFromString(
        "<rss version=\"2.0\" xmlns:content=\"http://purl.org/rss/1.0/modules/content/\">"
        "<channel><title>Show</title><link>http://show.example/</link><description>d</description>"
        "<item><title>Episode</title><description>Short excerpt</description>"
        "<content:encoded><![CDATA[<p>The <b>whole</b> body</p>]]></content:encoded>"
        "<author>Jane</author><pubDate>Tue, 08 Dec 2026 14:30:00 GMT</pubDate>"
        "<enclosure url=\"http://cdn.example/ep1.mp3?x=1\" type=\"audio/mpeg\" length=\"5242880\"/></item>"
        "<item><title>Plain</title><description>Only &lt;i&gt;this&lt;/i&gt;</description></item>"
        "</channel></rss>");
    const std::string page = RenderStoredCopy(model);
    EXPECT_NE(page.find("<p>The <b>whole</b> body</p>"), std::string::npos) << page;
    EXPECT_EQ(page.find("Short excerpt"), std::string::npos) << page;
    EXPECT_NE(page.find("Only <i>this</i>"), std::string::npos) << page;
    EXPECT_NE(page.find("Jane"), std::string::npos) << page;
    EXPECT_NE(page.find("href=\"http://cdn.example/ep1.mp3?x=1\">ep1.mp3</a>"), std::string::npos) << page;
    EXPECT_NE(page.find("(audio/mpeg, 5.0 MB)"), std::string::npos) << page;
    // The date went through the program's function, not as stored.
    EXPECT_EQ(page.find("Tue, 08 Dec 2026 14:30:00 GMT"), std::string::npos) << page;
    EXPECT_NE(page.find(quillet::LocalDateText("Tue, 08 Dec 2026 14:30:00 GMT").toStdString()), std::string::npos)
        << page;
}

TEST(FeedPage, AnEnclosureShowsItsFileNameCutToAFewHundredCharacters) {
    const std::string longName(500, 'n'), ellipsis = "\xE2\x80\xA6";
    std::string accented;  // 300 two-byte characters
    for (int i = 0; i < 300; ++i) accented += "\xC3\xA9";
    const struct {
        std::string address, shown;
    } cases[] = {
        {"http://cdn.example/ep1.mp3?x=1", "ep1.mp3"},
        {"http://cdn.example/a/b/ep2.ogg#t=10", "ep2.ogg"},
        {"http://cdn.example/dir/", "dir/"},
        {"http://cdn.example", "cdn.example"},
        {"?only=query", ""},
        {"http://cdn.example/" + longName, std::string(200, 'n') + ellipsis},
        {"http://cdn.example/" + accented, accented.substr(0, 400) + ellipsis},
    };
    for (const auto& c : cases) EXPECT_EQ(quillet::FileNameText(c.address), c.shown) << c.address;
}

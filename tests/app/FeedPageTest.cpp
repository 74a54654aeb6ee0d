// The page a stored copy renders to: full bodies, authors, enclosures, and
// dates in the reader's own zone and format.
#include <QLocale>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <filesystem>
#include <string>

#include "FeedDocument.h"
#include "FeedPageFunctions.h"

namespace {

// Renders a stored copy through data/rss.xsl as the program does.
std::string RenderStoredCopy(feed::TFeedDocument& model) {
    quillet::RegisterFeedPageFunctions();
    model.SetXSLFileName("../rss.xsl");
    model.GenerateXML();
    const std::string stored = model.XMLFile().SaveToString();
    xmlDocPtr doc = xmlReadMemory(stored.data(), static_cast<int>(stored.size()), "copy.xml", nullptr, XML_PARSE_NONET);
    const std::string xslPath = std::string(QUILLET_DATA_DIR) + "/rss.xsl";
    xsltStylesheetPtr sheet = xsltParseStylesheetFile(reinterpret_cast<const xmlChar*>(xslPath.c_str()));
    EXPECT_NE(sheet, nullptr);
    xmlDocPtr result = xsltApplyStylesheet(sheet, doc, nullptr);
    xmlChar* html = nullptr;
    int size = 0;
    xsltSaveResultToString(&html, &size, result, sheet);
    std::string out(reinterpret_cast<const char*>(html), static_cast<std::size_t>(size));
    xmlFree(html);
    xmlFreeDoc(result);
    xsltFreeStylesheet(sheet);
    xmlFreeDoc(doc);
    return out;
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

// The embedded browser: the stylesheet transformation it does itself, and a
// few end-to-end checks against the real engine (kept few: the engine takes
// a moment to start).
#include "FeedPageFunctions.h"
#include "FixtureFile.h"
#include "ItemCursor.h"
#include "ItemIdentity.h"
#include "PaneServer.h"
#include "WebBrowser.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <QMenu>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "PaneProtocol.h"

#include <functional>
#include <memory>
#include <stdexcept>

#ifndef QUILLET_DATA_DIR
#error "QUILLET_DATA_DIR must name the source data folder"
#endif

namespace {

using apptest::WaitUntil;

void WriteFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(content);
}

QByteArray StoredCopy(const QByteArray& pi, const QByteArray& itemDescription) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + pi +
           "\n<rss version=\"2.0\"><channel><title>Daily &amp; Co</title><link>http://example.invalid/</link>"
           "<description>Site news</description>"
           "<item><title>First &lt;story&gt;</title><link>http://example.invalid/1</link>"
           "<description>" +
           itemDescription +
           "</description><pubDate>Tue, 08 Dec 2026 05:00:00 +0000</pubDate></item>"
           "<item><title>Second</title><link>http://example.invalid/2</link><description>plain</description></item>"
           "</channel></rss>\n";
}

// A working directory laid out like the program's: rss.xsl beside feeds/.
class BrowserFolder {
public:
    BrowserFolder() { QFile::copy(QStringLiteral(QUILLET_DATA_DIR "/rss.xsl"), Path("rss.xsl")); }
    QString Path(const QString& name) const { return FDir.filePath(name); }

private:
    QTemporaryDir FDir;
};

const QByteArray kXslPI = "<?xml-stylesheet type=\"text/xsl\" href=\"../rss.xsl\"?>";

TEST(WebBrowserTransform, StoredCopyBecomesReadablePage) {
    BrowserFolder folder;
    const QString feed = folder.Path("feeds/1.xml");
    WriteFile(feed, StoredCopy(kXslPI, "&lt;p&gt;Some &lt;b&gt;bold&lt;/b&gt; news&lt;/p&gt;"));

    QByteArray html;
    ASSERT_TRUE(TWebBrowser::TransformLocalXml(feed, html));
    const QString page = QString::fromUtf8(html);
    EXPECT_TRUE(page.contains("<a href=\"http://example.invalid/\">Daily &amp; Co</a>")) << html.constData();
    EXPECT_TRUE(page.contains("Site news"));
    EXPECT_TRUE(page.contains("<a href=\"http://example.invalid/1\">First &lt;story&gt;</a>"));
    // Descriptions are HTML: written out as markup, not as escaped text.
    EXPECT_TRUE(page.contains("<p>Some <b>bold</b> news</p>"));
    EXPECT_TRUE(page.contains(quillet::LocalDateText("Tue, 08 Dec 2026 05:00:00 +0000")));  // the reader's zone
    // Relative item links belong to the feed's site.
    EXPECT_TRUE(page.contains("<base href=\"http://example.invalid/\">"));
    EXPECT_LT(page.indexOf("First"), page.indexOf("Second"));
}

TEST(WebBrowserTransform, FilesWithoutALocalXslInstructionAreLeftToTheEngine) {
    BrowserFolder folder;
    struct Case {
        const char* name;
        QByteArray pi;
    } cases[] = {
        {"no instruction", ""},
        {"css stylesheet", "<?xml-stylesheet type=\"text/css\" href=\"../rss.css\"?>"},
        {"remote stylesheet", "<?xml-stylesheet type=\"text/xsl\" href=\"http://example.invalid/x.xsl\"?>"},
        {"no href", "<?xml-stylesheet type=\"text/xsl\"?>"},
    };
    for (const Case& c : cases) {
        const QString feed = folder.Path("feeds/2.xml");
        WriteFile(feed, StoredCopy(c.pi, "text"));
        QByteArray html = "untouched";
        EXPECT_FALSE(TWebBrowser::TransformLocalXml(feed, html)) << c.name;
        EXPECT_EQ(html, "untouched") << c.name;
    }
    // Not an XML document at all.
    WriteFile(folder.Path("page.html"), "<html><body>x</body></html>");
    QByteArray html;
    EXPECT_FALSE(TWebBrowser::TransformLocalXml(folder.Path("page.html"), html));
    EXPECT_FALSE(TWebBrowser::TransformLocalXml(folder.Path("feeds/missing.xml"), html));
}

TEST(WebBrowserTransform, BrokenInputRaisesReadableErrors) {
    BrowserFolder folder;
    const QString feed = folder.Path("feeds/3.xml");
    WriteFile(feed, kXslPI + "\n<rss><channel><title>cut off");
    QByteArray html;
    try {
        TWebBrowser::TransformLocalXml(feed, html);
        FAIL() << "a malformed file must raise";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("3.xml"), std::string::npos) << e.what();
    }

    WriteFile(feed, StoredCopy("<?xml-stylesheet type=\"text/xsl\" href=\"missing.xsl\"?>", "x"));
    EXPECT_THROW(TWebBrowser::TransformLocalXml(feed, html), std::runtime_error);
}

TEST(WebBrowserTransform, StylesheetCannotWriteFiles) {
    BrowserFolder folder;
    const QString target = folder.Path("written.txt");
    WriteFile(folder.Path("evil.xsl"),
              "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\""
              " xmlns:exsl=\"http://exslt.org/common\" extension-element-prefixes=\"exsl\">"
              "<xsl:template match=\"/\"><exsl:document href=\"" +
                  target.toUtf8() +
                  "\" method=\"text\">owned</exsl:document><html><body>x</body></html></xsl:template>"
                  "</xsl:stylesheet>");
    const QString feed = folder.Path("evil.xml");
    WriteFile(feed, StoredCopy("<?xml-stylesheet type=\"text/xsl\" href=\"evil.xsl\"?>", "x"));
    QByteArray html;
    EXPECT_THROW(TWebBrowser::TransformLocalXml(feed, html), std::runtime_error);
    EXPECT_FALSE(QFile::exists(target));
}

// ---- with the engine ----

QVariant RunScript(TWebBrowser& browser, const QString& script) {
    QVariant result;
    QEventLoop loop;
    browser.View()->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant& v) {
        result = v;
        loop.quit();
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    return result;
}

QString PlainText(TWebBrowser& browser) {
    QString text;
    QEventLoop loop;
    browser.View()->page()->toPlainText([&](const QString& t) {
        text = t;
        loop.quit();
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    return text;
}

TEST(WebBrowserEngine, ShowsAStoredCopyWithoutRunningItsScript) {
    BrowserFolder folder;
    const QString feed = folder.Path("feeds/7.xml");
    WriteFile(feed, StoredCopy(kXslPI,
                               "Visible words&lt;script&gt;document.body.setAttribute('data-owned','1');"
                               "document.title='owned'&lt;/script&gt;&lt;img src=x "
                               "onerror=\"document.body.setAttribute('data-owned','2')\"&gt;"));

    TWebBrowser browser;
    browser.resize(600, 400);
    QStringList asked;
    browser.OnBeforeNavigate = [&](const QString& address, bool& cancel) {
        asked << address;
        cancel = !address.startsWith('/');  // never leave the machine in a test
    };
    QSignalSpy complete(&browser, &TWebBrowser::NavigateComplete);

    browser.Navigate(feed);
    ASSERT_TRUE(complete.wait(15000));
    EXPECT_EQ(asked, QStringList{feed});
    EXPECT_TRUE(complete.takeFirst().at(1).toBool());
    EXPECT_EQ(browser.LocationURL(), feed);

    const QString text = PlainText(browser);
    EXPECT_TRUE(text.contains("Daily & Co")) << text.toStdString();
    EXPECT_TRUE(text.contains("Visible words"));
    EXPECT_TRUE(RunScript(browser, "document.body.getAttribute('data-owned')").isNull());
    EXPECT_NE(browser.View()->page()->title(), "owned");
    EXPECT_EQ(RunScript(browser, "document.baseURI").toString(), "http://example.invalid/");

    // The program's own script still reaches the document.
    browser.SetBodyStyle("border-style", "none");
    EXPECT_EQ(RunScript(browser, "document.body.style.borderStyle").toString(), "none");

    // A link click is announced with its address; cancelled, the page stays.
    complete.clear();
    RunScript(browser, "document.querySelector('.item a').click(); true");
    ASSERT_TRUE(WaitUntil([&] { return asked.size() == 2; }));
    EXPECT_EQ(asked.at(1), "http://example.invalid/1");
    EXPECT_EQ(browser.LocationURL(), feed);
    EXPECT_TRUE(PlainText(browser).contains("Daily & Co"));

    // A cancelled Navigate keeps the page too.
    browser.Navigate("http://example.invalid/other");
    EXPECT_EQ(asked.size(), 3);
    EXPECT_EQ(browser.LocationURL(), feed);
}

TEST(WebBrowserEngine, StarLinksAskTheWindowAndChangeInPlace) {
    BrowserFolder folder;
    const QString feed = folder.Path("feeds/7.xml");
    WriteFile(feed, StoredCopy(kXslPI, "words"));
    TWebBrowser browser;
    browser.resize(600, 400);
    browser.show();  // the item under the pointer needs a laid-out view
    QStringList asked;
    browser.OnBeforeNavigate = [&](const QString& address, bool& cancel) {
        asked << address;
        cancel = !address.startsWith('/');
    };
    QSignalSpy complete(&browser, &TWebBrowser::NavigateComplete);
    quillet::TPageMarks marks;
    marks.FeedId = "7";
    browser.Navigate(feed, marks);
    ASSERT_TRUE(complete.wait(15000));

    const QString first = RunScript(browser, "document.querySelectorAll('a.star')[0].getAttribute('href')").toString();
    QString feedId, key;
    bool star = false;
    ASSERT_TRUE(pane::ParseStarRequest(first, feedId, key, star)) << first.toStdString();
    EXPECT_TRUE(feedId == "7" && star);
    asked.clear();
    RunScript(browser, "document.querySelectorAll('a.star')[0].click(); true");
    ASSERT_TRUE(WaitUntil([&] { return !asked.isEmpty(); }));
    EXPECT_EQ(asked.front(), first);
    EXPECT_EQ(browser.LocationURL(), feed);

    const QString starred = pane::StarRequestAddress(feedId, key, false);
    browser.SetStarLink(first, starred, QStringLiteral("\u2605\u00A0Starred"));
    EXPECT_EQ(RunScript(browser, "document.querySelector('a.star.starred').getAttribute('href')").toString(), starred);
    EXPECT_EQ(RunScript(browser, "document.querySelector('a.star.starred').textContent").toString(),
              QStringLiteral("\u2605\u00A0Starred"));
    QString atView;
    browser.StarLinkInView([&](const QString& href) { atView = href; });
    ASSERT_TRUE(WaitUntil([&] { return !atView.isEmpty(); }));
    EXPECT_EQ(atView, starred);

    // The item's menu, opened on its text, asks what its links ask.
    const QVariantList at = RunScript(browser,
                                      "(function(){var r=document.querySelector('.item').getBoundingClientRect();"
                                      "return [r.left+r.width/2, r.top+r.height/2];})()")
                                .toList();
    ASSERT_EQ(at.size(), 2);
    QString underPointer;
    browser.StarLinkAt(QPoint(at[0].toInt(), at[1].toInt()), [&](const QString& href) { underPointer = href; });
    ASSERT_TRUE(WaitUntil([&] { return !underPointer.isEmpty(); }));
    EXPECT_EQ(underPointer, starred);
    browser.SetItemMenuTexts({"star", "unstar", "article"});
    std::unique_ptr<QMenu> menu(browser.ItemMenu(underPointer));
    asked.clear();
    for (QAction* action : menu->actions())
        if (action->text() == "unstar" || action->text() == "article") action->trigger();
    EXPECT_EQ(asked, QStringList({starred, pane::ArticleRequestAddress(feedId, key)}));
}

// The item keys in the engine, through the helper's side of the protocol:
// the page's items with their new marks and links, the current item marked,
// focused and in view, an item's new mark taken away and given, and a link
// followed only as a click on it would be.
TEST(WebBrowserEngine, ItemKeysOverTheProtocol) {
    BrowserFolder folder;
    const QString feed = folder.Path("feeds/7.xml");
    WriteFile(feed,
              QByteArray::fromStdString(testsupport::ReadFixtureFile(QUILLET_TEST_DATA_DIR "/pages/item_keys.xml")));
    std::vector<QJsonObject> sent;
    pane::TLineReader reader;
    TPaneServer server([&](const QByteArray& line) {
        for (const QJsonObject& m : reader.Feed(line)) sent.push_back(m);
    });
    server.Browser()->resize(600, 300);
    server.Browser()->show();
    const auto key = [](int item) {
        items::TStoredItem stored;
        stored.Guid = "urn:nav:" + std::to_string(item);
        return QString::fromStdString(items::ItemKey(stored));
    };
    // The last message of a kind, once it has come.
    const auto reply = [&](const char* op) -> QJsonObject {
        WaitUntil([&] { return !sent.empty() && sent.back().value("op") == QLatin1String(op); }, 15000);
        return !sent.empty() && sent.back().value("op") == QLatin1String(op) ? sent.back() : QJsonObject();
    };
    server.Receive(pane::Encode(
        "navigate",
        {{"address", feed}, {"marks", QJsonObject{{"unread", QJsonArray{key(3), key(5), key(6)}}, {"feed", "7"}}}}));
    ASSERT_EQ(reply("ask").value("address").toString(), feed);
    server.Receive(pane::Encode("open", {{"address", feed}}));
    ASSERT_TRUE(reply("complete").value("ok").toBool());

    const auto items = [&] {
        sent.clear();
        server.Receive(pane::Encode("items"));
        const QJsonObject answer = reply("items");
        std::string pattern;
        for (const pane::TPageItem& item : pane::PageItemsFromJson(answer.value("items").toArray()))
            pattern += item.New ? 'n' : '.';
        return std::pair{pattern, answer};
    };
    auto [pattern, answer] = items();
    ASSERT_EQ(pattern, "..n.nn");
    const std::vector<pane::TPageItem> page = pane::PageItemsFromJson(answer.value("items").toArray());
    EXPECT_EQ(answer.value("at").toString(), page[0].Anchor);
    EXPECT_EQ(page[0].Link, "http://example.invalid/1");
    EXPECT_EQ(page[2].Link, "https://example.invalid/3");
    QString feedId, itemKey;
    bool star = false;
    ASSERT_TRUE(pane::ParseStarRequest(page[4].StarLink, feedId, itemKey, star));
    EXPECT_EQ(itemKey, key(5));

    server.Receive(pane::Encode("current", {{"anchor", page[4].Anchor}}));
    const QString anchor = page[4].Anchor;
    EXPECT_TRUE(WaitUntil([&] {
        return RunScript(*server.Browser(),
                         "document.activeElement.tagName + ' ' + "
                         "document.activeElement.closest('.item').id + ' ' + "
                         "document.activeElement.getAttribute('tabindex')")
                   .toString() == "H2 " + anchor + " -1";
    }));
    EXPECT_GT(RunScript(*server.Browser(), "window.scrollY").toDouble(), 0);
    EXPECT_EQ(RunScript(*server.Browser(), "document.querySelectorAll('.quillet-current').length").toInt(), 1);

    const struct {
        int Item;
        bool On;
        const char* Pattern;
        const char* State;  // the heading's state words
    } marks[] = {{4, false, "..n..n", ""}, {1, true, ".nn..n", "new"}, {4, true, ".nn.nn", "new"}};
    for (const auto& m : marks) {
        server.Receive(
            pane::Encode("itemNew", {{"anchor", page[std::size_t(m.Item)].Anchor}, {"on", m.On}, {"word", "new"}}));
        auto [now, latest] = items();
        EXPECT_EQ(now, m.Pattern);
        EXPECT_EQ(latest.value("at").toString(), anchor) << "the current item is kept";
        EXPECT_EQ(
            RunScript(*server.Browser(), QStringLiteral("(function(){var s=document.querySelectorAll('div.item')[%1]"
                                                        ".querySelector('.item-state');return s?s.textContent:'';})()")
                                             .arg(m.Item))
                .toString(),
            QString::fromLatin1(m.State));
    }

    // Followed as a click: asked about, a script never.
    sent.clear();
    server.Receive(pane::Encode("follow", {{"address", "javascript:alert(1)"}}));
    server.Receive(pane::Encode("follow", {{"address", "http://example.invalid/5"}}));
    ASSERT_EQ(reply("ask").value("address").toString(), "http://example.invalid/5");
    EXPECT_EQ(sent.size(), 1u);
}

}  // namespace

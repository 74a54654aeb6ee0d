// The light pane: the page it shows (new items, the target in view, the
// dark page, each feed's position), where its links go, what it loads
// (nothing but http and https pictures, bounded, through the program's HTTP
// client), its disk cache, and a window showing pages with it that starts
// no helper process.
#include "LightPane.h"

#include <QAction>
#include <QApplication>
#include <QTextBlock>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <set>
#include <string>

#include "AppTestSupport.h"
#include "LoopbackServer.h"
#include "PaneImageCache.h"
#include "PaneImageLoader.h"
#include "PaneProtocol.h"
#include "ReadingPane.h"
#include "fMain.h"

namespace {

using apptest::WaitUntil;

QByteArray Fixture(const QString& relative) {
    QFile file(QStringLiteral(QUILLET_TEST_DATA_DIR "/") + relative);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Png(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

class LightPaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::copy(QStringLiteral(QUILLET_DATA_DIR "/rss.xsl"), FDir.filePath("rss.xsl"));
        QDir().mkpath(FDir.filePath("feeds"));
        FPane.resize(600, 400);
        FPane.show();
        FPane.OnBeforeNavigate = [this](const QString& address, bool& cancel) {
            FAsked << address;
            cancel = address.startsWith(QLatin1String("quillet-article:"));
        };
        FPane.OnOpenExternally = [this](const QUrl& url) { FOpened << url.toString(); };
    }

    // A stored copy of `count` items (guids urn:1 ...), each long enough
    // that the page scrolls.
    QString ItemsFeed(const QString& name, int count) {
        QByteArray items;
        for (int i = 1; i <= count; ++i)
            items += "<item><title>Item " + QByteArray::number(i) + "</title><guid>urn:" + QByteArray::number(i) +
                     "</guid><description>&lt;p&gt;" + QByteArray("Words of the item. ").repeated(20) +
                     "&lt;/p&gt;</description></item>";
        return WriteFeed(name,
                         "<rss version=\"2.0\"><channel><title>Daily</title><link>http://example.invalid/</link>"
                         "<description>d</description>" +
                             items + "</channel></rss>");
    }
    QString WriteFeed(const QString& name, const QByteArray& rss) {
        const QString path = FDir.filePath("feeds/" + name);
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<?xml-stylesheet type=\"text/xsl\" href=\"../rss.xsl\"?>\n" +
            rss);
        return path;
    }
    bool Show(const QString& path, const quillet::TPageMarks& marks = {}) {
        QSignalSpy done(&FPane, &TLightPane::NavigateComplete);
        FPane.Navigate(path, marks);
        return done.count() > 0 || done.wait(10000);
    }
    QImage Picture(const QString& address) {
        return FPane.document()->resource(QTextDocument::ImageResource, QUrl(address)).value<QImage>();
    }

    QTemporaryDir FDir;
    TLightPane FPane;
    QStringList FAsked, FOpened;
};

TEST_F(LightPaneTest, MarksNewItemsBringsTheTargetIntoViewAndFollowsTheScheme) {
    quillet::TPageMarks marks;
    marks.Unread = {"g:urn:39", "g:urn:40"};
    marks.Target = "g:urn:40";
    marks.Serial = 7;
    QSignalSpy shown(&FPane, &TLightPane::PageShown);
    ASSERT_TRUE(Show(ItemsFeed("1.xml", 40), marks));
    ASSERT_EQ(shown.count(), 1);
    EXPECT_EQ(shown.first().at(0).toLongLong(), 7);
    const QString text = FPane.toPlainText();
    EXPECT_TRUE(text.contains("2 new")) << text.left(300).toStdString();
    EXPECT_EQ(text.count(QChar(0x25CF)), 2) << "each new item is marked";
    EXPECT_GT(FPane.verticalScrollBar()->value(), 0) << "the last item is in view";

    // The "N new" link only scrolls; nothing is asked or opened.
    FPane.verticalScrollBar()->setValue(0);
    emit FPane.anchorClicked(QUrl("#" + QString::fromStdString(quillet::ItemAnchor("g:urn:39"))));
    EXPECT_GT(FPane.verticalScrollBar()->value(), 0);
    EXPECT_TRUE(FAsked.size() == 1 && FOpened.isEmpty()) << FAsked.join(' ').toStdString();

    FPane.SetColorScheme("dark");
    ASSERT_TRUE(Show(FDir.filePath("feeds/1.xml")));
    EXPECT_TRUE(FPane.document()->toHtml().contains("#1e1f22", Qt::CaseInsensitive));
    EXPECT_EQ(FPane.palette().color(QPalette::Base), QColor(0x1e, 0x1f, 0x22));
}

// The page's text follows the desktop's font size unless the reader chose a
// size; a new desktop font sets the page on show again.
TEST_F(LightPaneTest, AHighContrastDesktopsColoursReplaceThePagesShades) {
    const auto palette = [](QColor window, QColor text, QColor link) {
        QPalette colours;
        colours.setColor(QPalette::Window, window);
        colours.setColor(QPalette::Base, window);
        colours.setColor(QPalette::WindowText, text);
        colours.setColor(QPalette::Text, text);
        colours.setColor(QPalette::Link, link);
        return colours;
    };
    const struct {
        const char* Desktop;
        QPalette Colours;
        bool Forced;
        QColor Link;
    } cases[] = {
        {"ordinary light", palette(QColor(0xef, 0xef, 0xef), Qt::black, QColor(0x2a, 0x82, 0xda)), false, {}},
        {"ordinary dark", palette(QColor(0x35, 0x35, 0x35), Qt::white, QColor(0x2a, 0x82, 0xda)), false, {}},
        {"black, yellow text, cyan links", palette(Qt::black, Qt::yellow, Qt::cyan), true, Qt::cyan},
        {"white, black text, a link too pale", palette(Qt::white, Qt::black, QColor(0xcc, 0xcc, 0xff)), true,
         Qt::black},
    };
    const QString path = ItemsFeed("1.xml", 2);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Desktop);
        const auto forced = TLightPane::HighContrastColours(c.Colours);
        ASSERT_EQ(forced.has_value(), c.Forced);
        FPane.SetForcedColours(forced);
        ASSERT_TRUE(Show(path));
        std::set<QRgb> text, links;
        for (QTextBlock block = FPane.document()->begin(); block.isValid(); block = block.next())
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat format = it.fragment().charFormat();
                const bool link = format.isAnchor() && !format.anchorHref().isEmpty();
                (link ? links : text).insert(format.foreground().color().rgb());
            }
        if (c.Forced) {
            EXPECT_EQ(text, std::set<QRgb>{c.Colours.color(QPalette::Text).rgb()}) << "every shade gives way";
            EXPECT_EQ(links, std::set<QRgb>{c.Link.rgb()});
            EXPECT_EQ(FPane.palette().color(QPalette::Base), c.Colours.color(QPalette::Base));
        } else {
            EXPECT_GT(text.size() + links.size(), 2u) << "the page keeps its own shades";
        }
    }
}

TEST_F(LightPaneTest, FollowsTheDesktopsFontSizeUnlessTheReaderChoseOne) {
    const QFont before = QApplication::font();
    const struct {
        double Desktop;
        int Chosen;
        double Body;
    } cases[] = {{16, 0, 16}, {16, 12, 12}, {10, 0, 10}, {8, 0, 8}};
    const QString path = ItemsFeed("1.xml", 2);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Desktop << " pt, chosen " << c.Chosen);
        QFont desktop = before;
        desktop.setPointSizeF(c.Desktop);
        QApplication::setFont(desktop);
        quillet::TPageStyle style;
        style.FontPointSize = c.Chosen;
        FPane.SetPageStyle(style);
        ASSERT_TRUE(Show(path));
        double body = 0;
        for (QTextBlock block = FPane.document()->begin(); block.isValid() && body == 0; block = block.next())
            if (block.text().startsWith(QLatin1String("Words of the item")))
                body = block.begin().fragment().charFormat().fontPointSize();
        EXPECT_NEAR(body, c.Body, 0.11);
    }
    QApplication::setFont(before);
}

TEST_F(LightPaneTest, LinksGoToTheDesktopOnlyForTheWebAndMail) {
    ASSERT_TRUE(Show(ItemsFeed("1.xml", 1)));
    FAsked.clear();
    const struct {
        const char* link;
        bool asked;
        const char* opened;  // what the desktop gets, "" for nothing
    } cases[] = {
        {"http://example.invalid/a", true, "http://example.invalid/a"},
        {"https://example.invalid/b", true, "https://example.invalid/b"},
        {"mailto:someone@example.invalid", true, "mailto:someone@example.invalid"},
        {"/relative/page", true, "http://example.invalid/relative/page"},  // from the page's base
        {"quillet-article:1/g:urn:1", true, ""},
        {"file:///etc/passwd", false, ""},
        {"javascript:alert(1)", false, ""},
        {"ftp://example.invalid/f", false, ""},
        {"smb://example.invalid/share", false, ""},
    };
    for (const auto& c : cases) {
        FAsked.clear();
        FOpened.clear();
        emit FPane.anchorClicked(QUrl(QString::fromLatin1(c.link)));
        EXPECT_EQ(FAsked.size(), c.asked ? 1 : 0) << c.link;
        EXPECT_EQ(FOpened.join(' '), c.opened) << c.link;
    }

    QSignalSpy status(&FPane, &TLightPane::StatusTextChange);
    emit FPane.highlighted(QUrl("/x"));
    emit FPane.highlighted(QUrl());
    ASSERT_EQ(status.count(), 2);
    EXPECT_EQ(status.at(0).at(0).toString(), "http://example.invalid/x");
    EXPECT_EQ(status.at(1).at(0).toString(), "");
}

// A long page shows its beginning first, at its top or as far as the place
// the reader left it.
TEST_F(LightPaneTest, EachFeedComesBackWhereItWasLeftAndALongOneShowsItsBeginningFirst) {
    for (const int count : {30, 800}) {
        SCOPED_TRACE(count);
        const QString first = ItemsFeed(QString("a%1.xml").arg(count), count);
        const QString second = ItemsFeed(QString("b%1.xml").arg(count), count);
        QSignalSpy begun(&FPane, &TLightPane::PageBegun);
        ASSERT_TRUE(Show(first));
        EXPECT_EQ(begun.count(), count > 100 ? 1 : 0);
        EXPECT_TRUE(FPane.toPlainText().contains(QString("Item %1").arg(count))) << "the whole page follows";
        QScrollBar* bar = FPane.verticalScrollBar();
        bar->setValue(bar->maximum() / 4 + 7);
        const int left = bar->value();
        ASSERT_GT(left, 0);
        ASSERT_TRUE(Show(second));
        EXPECT_EQ(bar->value(), 0);
        begun.clear();
        ASSERT_TRUE(Show(first));
        EXPECT_EQ(bar->value(), left);
        EXPECT_EQ(begun.count(), count > 100 ? 1 : 0);
    }
}

TEST_F(LightPaneTest, LoadsNothingButWebPicturesAndShowsHostileOnesAsTheirAddress) {
    testsupport::LoopbackServer server;
    server.AddEndpoint("/img.png", 200, {{"Content-Type", "image/png"}}, Png(40, 30).toStdString());
    server.AddEndpoint("/relative.png", 200, {{"Content-Type", "image/png"}}, Png(1200, 100).toStdString());
    server.AddEndpoint("/huge.png", 200, {{"Content-Type", "image/png"}},
                       Fixture("images/claims_30000x30000.png").toStdString());
    server.AddEndpoint("/malformed.png", 200, {{"Content-Type", "image/png"}},
                       Fixture("images/malformed.png").toStdString());
    const QString secret = FDir.filePath("secret.png");
    {
        QFile file(secret);
        file.open(QIODevice::WriteOnly);
        file.write(Png(77, 77));
    }
    const QString base = QString::fromStdString(server.Url(""));
    QByteArray page = Fixture("pages/light_hostile.xml");
    page.replace("SERVER", base.toUtf8()).replace("SECRET", QUrl::fromLocalFile(secret).toEncoded());
    const QString path = FDir.filePath("feeds/1.xml");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(page);
    file.close();

    // Pictures off: not one request.
    FPane.SetShowWebImages(false);
    ASSERT_TRUE(Show(path));
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(server.NumRequests(), 0);
    EXPECT_TRUE(FPane.toPlainText().contains("Visible text"));

    FPane.SetShowWebImages(true);
    ASSERT_TRUE(WaitUntil([&] { return FPane.ImagesPending() == 0; }));
    std::multiset<std::string> paths;
    for (const testsupport::Request& request : server.Requests()) {
        paths.insert(request.path);
        EXPECT_TRUE(request.Header("User-Agent").rfind("Quillet", 0) == 0) << request.Header("User-Agent");
    }
    EXPECT_EQ(paths,
              (std::multiset<std::string>{"/huge.png", "/img.png", "/malformed.png", "/missing.png", "/relative.png"}));

    const QImage shown = Picture(base + "/img.png");
    EXPECT_EQ(shown.size(), QSize(40, 30));
    EXPECT_LE(Picture(base + "/relative.png").width(), FPane.viewport()->width()) << "scaled to the pane";
    for (const QString& hostile : {base + "/huge.png", base + "/malformed.png", base + "/missing.png",
                                   QUrl::fromLocalFile(secret).toString(), QStringLiteral("ftp://127.0.0.1/x.png")}) {
        const QImage placeholder = Picture(hostile);
        EXPECT_FALSE(placeholder.isNull()) << hostile.toStdString();
        EXPECT_LT(placeholder.height(), 60) << hostile.toStdString();
        EXPECT_NE(placeholder.size(), QSize(77, 77)) << "never the local file";
    }
    // A small data: picture shows; a large one does not.
    EXPECT_EQ(Picture("data:image/png;base64," + QString::fromLatin1(Png(5, 6).toBase64())).size(), QSize(5, 6));
    EXPECT_NE(Picture("data:image/png;base64," + QString::fromLatin1(Png(3000, 3000).toBase64())).size(),
              QSize(3000, 3000));
}

TEST_F(LightPaneTest, TheDiskCacheShowsYesterdaysPicturesOfflineWithinItsLimit) {
    const QString folder = FDir.filePath("cache/images");
    const QByteArray png = Png(20, 10);
    {
        testsupport::LoopbackServer server;
        server.AddEndpoint("/a.png", 200, {{"Content-Type", "image/png"}}, png.toStdString());
        const QUrl url(QString::fromStdString(server.Url("/a.png")));
        quillet::TPaneImageLoader loader;
        loader.SetCache(std::make_shared<quillet::TPaneImageCache>(folder));
        for (int pass = 0; pass < 2; ++pass) {
            QSignalSpy loaded(&loader, &quillet::TPaneImageLoader::Loaded);
            loader.Request(url, 600);
            ASSERT_TRUE(loaded.wait(10000));
            EXPECT_EQ(loaded.first().at(1).value<QImage>().size(), QSize(20, 10));
        }
        EXPECT_EQ(server.NumRequests(), 1) << "the second came from the cache";
        server.Stop();
        // The server gone, a new run finds it on disk.
        quillet::TPaneImageLoader offline;
        offline.SetCache(std::make_shared<quillet::TPaneImageCache>(folder));
        QSignalSpy loaded(&offline, &quillet::TPaneImageLoader::Loaded);
        offline.Request(url, 600);
        ASSERT_TRUE(loaded.wait(10000));
        EXPECT_EQ(loaded.first().at(1).value<QImage>().size(), QSize(20, 10));
    }

    // The limit: the least recently used go first.
    quillet::TPaneImageCache cache(FDir.filePath("small"), 2500);
    const QByteArray body(1000, 'x');
    cache.Store("http://a/1", {body, {}, {}});
    cache.Store("http://a/2", {body, {}, {}});
    WaitUntil([] { return false; }, 20);
    ASSERT_TRUE(cache.Find("http://a/1"));
    cache.Store("http://a/3", {body, {}, {}});
    EXPECT_TRUE(cache.Find("http://a/1"));
    EXPECT_FALSE(cache.Find("http://a/2"));
    EXPECT_TRUE(cache.Find("http://a/3"));
    EXPECT_LE(cache.SizeBytes(), 2500);
}

// The window shows its pages in the light pane by default, and no helper
// process is started for them.
// The processes this test program has started, by id.
std::set<std::string> ChildProcesses() {
    std::set<std::string> children;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        std::ifstream stat(("/proc/" + entry + "/stat").toStdString());
        std::string pid, comm, state, parent;
        if (stat >> pid >> comm >> state >> parent && parent == std::to_string(::getpid())) children.insert(pid);
    }
    return children;
}

TEST(LightPaneWindow, ShowsPagesWithoutAHelperProcess) {
    // Helpers of earlier tests may still be ending.
    const std::set<std::string> before = ChildProcesses();
    apptest::TStagedHome home;
    TFormMain form;
    form.Updates().Stop();
    home.WriteFile("feeds/5.xml",
                   "<?xml version=\"1.0\"?><?xml-stylesheet type=\"text/xsl\" href=\"../rss.xsl\"?>"
                   "<rss version=\"2.0\"><channel><title>Daily</title><link>http://example.invalid/</link>"
                   "<description>d</description><item><title>The one item</title></item></channel></rss>");
    QTreeWidgetItem* node = apptest::AddStoredFeed(
        form, {{"url", "http://127.0.0.1:1/"}, {"id", "5"}, {"caption", "Feed 5"}, {"unread", "0"}});
    ASSERT_TRUE(apptest::ShowFeedOnScreen(form, node, 10000));
    EXPECT_TRUE(form.ReadingPane->LightPane()->toPlainText().contains("The one item"));
    EXPECT_FALSE(form.ReadingPane->BrowserRunning());
    // Nor any process of ours besides.
    for (const std::string& pid : ChildProcesses()) EXPECT_TRUE(before.count(pid)) << "a new process " << pid;
}

}  // namespace

namespace {

TEST(PageStyle, TheReadersRulesComeLastAndZoomScalesThePointSizes) {
    const QString page = "<html><head><style>body { font-size: 10pt; }</style></head><body>9pt stays</body></html>";
    const struct {
        quillet::TPageStyle style;
        quillet::TPageTarget target;
        QStringList inHead, notInPage;
    } cases[] = {
        {{}, quillet::TPageTarget::Light, {"font-size: 10pt"}, {"<style type"}},
        {{"Serif Face", 14, 0, "p { color: red }</style><script>", 0},
         quillet::TPageTarget::Light,
         {"font-family: \"Serif Face\"", "font-size: 14pt", "p { color: red }/style>script>"},
         {"<script>"}},
        {{{}, 0, 70, {}, 2}, quillet::TPageTarget::Engine, {"font-size: 12.0pt", "max-width: 70ch"}, {"9.0pt"}},
        {{{}, 0, 70, {}, 0}, quillet::TPageTarget::Light, {}, {"max-width"}},
    };
    for (const auto& c : cases) {
        const QString styled = quillet::StyledPage(page, c.style, c.target);
        const QString head = styled.left(styled.indexOf("</head>"));
        for (const QString& text : c.inHead) EXPECT_TRUE(head.contains(text)) << styled.toStdString();
        for (const QString& text : c.notInPage) EXPECT_FALSE(styled.contains(text)) << styled.toStdString();
        // The reader's rules follow the page's own.
        if (styled.contains("<style type")) {
            EXPECT_GT(styled.indexOf("<style type"), styled.indexOf("<style>"));
        }
    }
}

// Show in Full Web View takes the page on show to the engine until the
// pane is switched back, which finds the light page where it was; zoom
// steps are kept in the home's config.xml.
TEST(LightPaneWindow, FullWebViewForThePageOnShowAndZoomKeptInTheHome) {
    apptest::TStagedHome home;
    TFormMain form;
    form.Updates().Stop();
    QByteArray items;
    for (int i = 1; i <= 40; ++i)
        items += "<item><title>Item " + QByteArray::number(i) + "</title><description>" +
                 QByteArray("Words of the item. ").repeated(20) + "</description></item>";
    home.WriteFile("feeds/5.xml", ("<?xml version=\"1.0\"?><?xml-stylesheet type=\"text/xsl\" href=\"../rss.xsl\"?>"
                                   "<rss version=\"2.0\"><channel><title>Daily</title><description>d</description>" +
                                   items + "</channel></rss>")
                                      .toStdString());
    QTreeWidgetItem* node = apptest::AddStoredFeed(
        form, {{"url", "http://127.0.0.1:1/"}, {"id", "5"}, {"caption", "Feed 5"}, {"unread", "0"}});
    ASSERT_TRUE(apptest::ShowFeedOnScreen(form, node, 10000));
    TLightPane* light = form.ReadingPane->LightPane();
    light->verticalScrollBar()->setValue(light->verticalScrollBar()->maximum() / 2);
    // The reader's place goes with the page, there and back.
    const QString place = light->StarLinkInView();
    QString feedId, key;
    bool star = false;
    ASSERT_TRUE(pane::ParseStarRequest(place, feedId, key, star)) << place.toStdString();

    auto* fullView = form.findChild<QAction*>("ActionShowInWebView");
    ASSERT_TRUE(fullView);
    fullView->trigger();
    EXPECT_TRUE(form.ReadingPane->EngineShown());
    EXPECT_TRUE(form.ReadingPane->BrowserRunning());
    EXPECT_TRUE(fullView->isChecked());
    EXPECT_EQ(form.ReadingPane->Marks().value("target").toString(), key);
    QString engineLink;
    bool asking = false;
    ASSERT_TRUE(apptest::WaitUntil(
        [&] {
            if (!asking && engineLink != place) {
                asking = true;
                form.ReadingPane->StarLinkInView([&](const QString& href) {
                    engineLink = href;
                    asking = false;
                });
            }
            return engineLink == place;
        },
        20000))
        << engineLink.toStdString();
    light->verticalScrollBar()->setValue(0);
    fullView->trigger();
    ASSERT_TRUE(apptest::WaitUntil([&] { return !form.ReadingPane->EngineShown(); }, 5000));
    EXPECT_FALSE(form.ReadingPane->BrowserRunning());
    EXPECT_TRUE(light->isVisible());
    EXPECT_EQ(light->StarLinkInView(), place);

    for (const auto& [name, zoom] :
         {std::pair{"ActionZoomIn", 1}, {"ActionZoomIn", 2}, {"ActionZoomOut", 1}, {"ActionZoomReset", 0}}) {
        form.findChild<QAction*>(name)->trigger();
        EXPECT_EQ(form.Options().GetConfigNode("internal\\readingpane\\Zoom").Text(), std::to_string(zoom)) << name;
        EXPECT_EQ(light->PageStyle().Zoom, zoom) << name;
    }
}

}  // namespace

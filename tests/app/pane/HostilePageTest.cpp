// A feed that attacks the reading pane: markup that navigates, loads, frames,
// submits or restyles, and links to schemes other than the web's. Checked on
// the page the engine actually loads: which requests reach a loopback server
// and which navigations the pane lets through.
#include "WebBrowser.h"

#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <libxml/parser.h>

#include <map>
#include <set>
#include <stdexcept>
#include <string>

#include "AppTestSupport.h"
#include "LoopbackServer.h"

#ifndef QUILLET_DATA_DIR
#error "QUILLET_DATA_DIR must name the source data folder"
#endif

namespace {

using apptest::WaitUntil;
using Verdict = TWebBrowser::TNavigationVerdict;
using Nav = QWebEnginePage;

// A 1x1 transparent GIF.
const std::string kImage(
    "GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00\x00,"
    "\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
    43);

QByteArray Escaped(const QString& html) { return html.toHtmlEscaped().toUtf8(); }

// Records the addresses handed to the desktop instead of opening them.
class DesktopCatcher : public QObject {
    Q_OBJECT
public:
    explicit DesktopCatcher(const QStringList& schemes) : FSchemes(schemes) {
        for (const QString& scheme : FSchemes) QDesktopServices::setUrlHandler(scheme, this, "Open");
    }
    ~DesktopCatcher() override {
        for (const QString& scheme : FSchemes) QDesktopServices::unsetUrlHandler(scheme);
    }
    QStringList FOpened;

public slots:
    void Open(const QUrl& url) { FOpened << url.toString(); }

private:
    QStringList FSchemes;
};

class HostilePage : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::copy(QStringLiteral(QUILLET_DATA_DIR "/rss.xsl"), FDir.filePath("rss.xsl"));
        QDir().mkpath(FDir.filePath("feeds"));
        FSecret = FDir.filePath("secret.txt");
        QFile secret(FSecret);
        ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
        secret.write("SECRET-CONTENT");
        for (const char* path : {"/img.gif", "/img2.gif"})
            FServer.AddEndpoint(path, 200, {{"Content-Type", "image/gif"}}, kImage);
        for (const char* path : {"/refresh", "/frame", "/object", "/embed", "/form", "/style.css", "/import.css",
                                 "/background.gif", "/inline.gif", "/font.woff", "/script.js", "/injected-frame",
                                 "/injected.css", "/video.mp4", "/audio.mp3", "/base/"})
            FServer.AddEndpoint(path, 200, {{"Content-Type", "text/html"}}, "<html><body>SERVED</body></html>");
        FBrowser.resize(600, 400);
        FBrowser.show();
        FBrowser.OnBeforeNavigate = [this](const QString& address, bool& cancel) {
            FAsked << address;
            cancel = !address.startsWith('/');  // never leave the machine in a test
        };
    }

    QString Url(const char* path) const { return QString::fromStdString(FServer.Url(path)); }

    // Puts a stylesheet of tests/data/stylesheets into the home, its
    // placeholders replaced, as `name` ("rss.xsl" is the one feeds use).
    void InstallStylesheet(const char* fixture, const std::map<QString, QString>& values,
                           const QString& name = QStringLiteral("rss.xsl")) {
        QFile in(QStringLiteral(QUILLET_TEST_DATA_DIR "/stylesheets/") + fixture);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly)) << fixture;
        QString text = QString::fromUtf8(in.readAll());
        for (const auto& [key, value] : values) text.replace(key, value);
        QFile::remove(FDir.filePath(name));
        QFile out(FDir.filePath(name));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(text.toUtf8());
    }
    QString SecretUrl() const { return QUrl::fromLocalFile(FSecret).toString(); }

    // Writes a stored copy whose one item has this description (HTML, as a
    // feed sends it) and shows it; true when the page finished loading.
    bool Show(const QString& description) {
        const QString feed = FDir.filePath("feeds/1.xml");
        QFile file(feed);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
        file.write(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<?xml-stylesheet type=\"text/xsl\" href=\"../rss.xsl\"?>\n"
            "<rss version=\"2.0\"><channel><title>Hostile</title><link>" +
            Escaped(Url("/")) + "</link><description>Channel</description><item><title>Item</title><description>" +
            Escaped(description) + "</description></item></channel></rss>\n");
        file.close();
        QSignalSpy complete(&FBrowser, &TWebBrowser::NavigateComplete);
        FBrowser.Navigate(feed);
        return complete.wait(15000) && complete.first().at(1).toBool();
    }

    QVariant Run(const QString& script) {
        QVariant result;
        QEventLoop loop;
        FBrowser.View()->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant& v) {
            result = v;
            loop.quit();
        });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        return result;
    }

    QString Text() {
        QString text;
        QEventLoop loop;
        FBrowser.View()->page()->toPlainText([&](const QString& t) {
            text = t;
            loop.quit();
        });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        return text;
    }

    // Clicks, with the mouse, a link to `href` that covers the page's top.
    void ClickLink(const QString& href) {
        Run("for (const old of document.querySelectorAll('a.test')) old.remove();"
            "var a = document.createElement('a'); a.className = 'test'; a.href = '" +
            href +
            "'; a.textContent = 'link';"
            "a.style = 'position:fixed;left:0;top:0;width:400px;height:200px;display:block;background:#fff;z-index:9';"
            "document.body.appendChild(a); true");
        Settle(200);
        QWidget* target = FBrowser.View()->focusProxy() ? FBrowser.View()->focusProxy() : FBrowser.View();
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(50, 50));
    }

    // Lets the engine do whatever the page makes it do for a while.
    static void Settle(int ms = 1500) {
        WaitUntil([] { return false; }, ms);
    }

    std::set<std::string> RequestedPaths() const {
        std::set<std::string> paths;
        for (const testsupport::Request& request : FServer.Requests()) paths.insert(request.path);
        return paths;
    }

    void ExpectStillTheFeedPage() {
        EXPECT_EQ(FBrowser.View()->page()->url().scheme(), "quillet-page")
            << FBrowser.View()->page()->url().toString().toStdString();
        const QString text = Text();
        EXPECT_TRUE(text.contains("Hostile")) << text.toStdString();
        EXPECT_FALSE(text.contains("SECRET-CONTENT"));
        EXPECT_FALSE(text.contains("SERVED"));
    }

    QTemporaryDir FDir;
    QString FSecret;
    testsupport::LoopbackServer FServer;
    TWebBrowser FBrowser;
    QStringList FAsked;
};

TEST_F(HostilePage, MarkupThatNavigatesFramesSubmitsOrRestylesDoesNothing) {
    const QString description =
        "<p>Visible text</p>"
        "<meta http-equiv=\"refresh\" content=\"0;url=" +
        SecretUrl() +
        "\">"
        "<meta http-equiv=\"refresh\" content=\"1;url=" +
        Url("/refresh") +
        "\">"
        "<iframe src=\"" +
        SecretUrl() + "\"></iframe><iframe src=\"" + Url("/frame") +
        "\"></iframe>"
        "<object data=\"" +
        Url("/object") + "\"></object><embed src=\"" + Url("/embed") +
        "\">"
        "<form action=\"" +
        Url("/form") +
        "\" method=\"get\"><input name=\"q\" value=\"typed\"><button>Go</button></form>"
        "<link rel=\"stylesheet\" href=\"" +
        Url("/style.css") +
        "\">"
        "<style>@import url(" +
        Url("/import.css") + "); body { background: url(" + Url("/background.gif") +
        "); display: none }</style>"
        "<p style=\"background: url(" +
        Url("/inline.gif") +
        "); position: fixed; top: 0\">overlay</p>"
        "<base href=\"" +
        Url("/base/") +
        "\">"
        "<video src=\"" +
        Url("/video.mp4") + "\"></video><audio src=\"" + Url("/audio.mp3") +
        "\" autoplay></audio>"
        "<img src=\"" +
        Url("/img.gif") + "\">";
    ASSERT_TRUE(Show(description));
    Settle();

    ExpectStillTheFeedPage();
    EXPECT_TRUE(Text().contains("Visible text"));
    EXPECT_EQ(Run("Array.from(document.querySelectorAll('iframe,frame,object,embed,form,input,button,body style,"
                  "link,meta[http-equiv=refresh],video,audio,[style]')).map(e => e.outerHTML).join()")
                  .toString(),
              "");
    EXPECT_EQ(Run("document.querySelectorAll('base').length").toInt(), 1) << "the stylesheet's own";
    EXPECT_EQ(Run("getComputedStyle(document.body).display").toString(), "block");
    // Only the image reached the server; nothing was asked of the user.
    EXPECT_EQ(RequestedPaths(), std::set<std::string>{"/img.gif"});
    EXPECT_EQ(FAsked.size(), 1);
}

TEST_F(HostilePage, ThePaneItselfLoadsNothingButWebImages) {
    // Markup the cleaner would remove, put into the shown page directly:
    // the engine's own policy must still hold.
    ASSERT_TRUE(Show("<p>Plain</p>"));
    Run("var d = document;"
        "var f = d.createElement('iframe'); f.src = '" +
        Url("/injected-frame") +
        "'; d.body.appendChild(f);"
        "var g = d.createElement('iframe'); g.src = '" +
        SecretUrl() +
        "'; d.body.appendChild(g);"
        "var l = d.createElement('link'); l.rel = 'stylesheet'; l.href = '" +
        Url("/injected.css") +
        "';"
        "d.head.appendChild(l);"
        "var o = d.createElement('object'); o.data = '" +
        Url("/object") +
        "'; d.body.appendChild(o);"
        "var s = d.createElement('style'); s.textContent = '@font-face { font-family: x; src: url(" +
        Url("/font.woff") +
        ") } body { font-family: x }'; d.head.appendChild(s);"
        "var i = d.createElement('img'); i.src = '" +
        Url("/img2.gif") +
        "'; d.body.appendChild(i);"
        "var m = d.createElement('meta'); m.httpEquiv = 'refresh'; m.content = '0;url=" +
        SecretUrl() +
        "';"
        "d.head.appendChild(m); true");
    Settle();
    ExpectStillTheFeedPage();
    EXPECT_EQ(RequestedPaths(), std::set<std::string>{"/img2.gif"});
    // No frame shows the local file.
    EXPECT_EQ(Run("var t = ''; for (const f of document.querySelectorAll('iframe'))"
                  " { try { t += f.contentDocument ? f.contentDocument.body.innerText : '' } catch (e) {} } t")
                  .toString()
                  .indexOf("SECRET"),
              -1);

    // A form submitted anyway goes nowhere.
    Run("var f = document.createElement('form'); f.action = '" + Url("/form") +
        "'; f.method = 'get'; document.body.appendChild(f); f.submit(); true");
    Settle(1000);
    ExpectStillTheFeedPage();
    EXPECT_EQ(FServer.NumHits("/form"), 0);
    EXPECT_EQ(FAsked.size(), 1);
}

TEST_F(HostilePage, WebImagesLoadOnlyWhileTheOptionIsOn) {
    EXPECT_TRUE(FBrowser.ShowWebImages()) << "shipped on";
    const QString description = "<p>Pictured</p><img src=\"" + Url("/img.gif") + "\" alt=\"pic\">";
    ASSERT_TRUE(Show(description));
    ASSERT_TRUE(WaitUntil([&] { return FServer.NumHits("/img.gif") > 0; }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return Run("document.querySelector('img').naturalWidth").toInt() == 1; }, 5000));

    FBrowser.SetShowWebImages(false);
    EXPECT_FALSE(FBrowser.ShowWebImages());
    const int before = FServer.NumRequests();
    // Another address: the engine might take one it has seen from its cache.
    ASSERT_TRUE(Show("<p>Pictured</p><img src=\"" + Url("/img2.gif") + "\" alt=\"pic\">"));
    Settle(1000);
    EXPECT_EQ(FServer.NumRequests(), before);
    EXPECT_EQ(Run("document.querySelector('img').naturalWidth").toInt(), 0);
    EXPECT_TRUE(Text().contains("Pictured"));
}

TEST_F(HostilePage, OnlyWebAndMailLinksAreFollowed) {
    DesktopCatcher desktop({"smb", "steam", "ftp", "mailto"});
    ASSERT_TRUE(Show("<p>Links</p>"));
    const struct {
        QString href;
        bool asked;
    } links[] = {
        {Url("/page"), true},
        {"https://example.invalid/secure", true},
        {"mailto:someone@example.invalid", true},
        {"smb://server/share", false},
        {"steam://run/1", false},
        {"ftp://example.invalid/file", false},
        {SecretUrl(), false},
        {"data:text/html,<b>x</b>", false},
        {"quillet-page:1", false},
    };
    for (const auto& link : links) {
        SCOPED_TRACE(link.href.toStdString());
        FAsked.clear();
        ClickLink(link.href);
        if (link.asked) {
            EXPECT_TRUE(WaitUntil([&] { return FAsked.size() == 1; }, 5000));
            EXPECT_EQ(FAsked.value(0), link.href);
        } else {
            Settle(500);
            EXPECT_TRUE(FAsked.isEmpty()) << FAsked.join(' ').toStdString();
        }
        ExpectStillTheFeedPage();
    }
    EXPECT_TRUE(desktop.FOpened.isEmpty()) << desktop.FOpened.join(' ').toStdString();
    EXPECT_EQ(FServer.NumHits("/page"), 0) << "cancelled by the handler";

    // The program's own Navigate takes the same care.
    FAsked.clear();
    for (const char* address : {"smb://server/share", "javascript:alert(1)", "steam://run/1"})
        FBrowser.Navigate(address);
    Settle(500);
    EXPECT_TRUE(FAsked.isEmpty()) << FAsked.join(' ').toStdString();
    EXPECT_TRUE(desktop.FOpened.isEmpty());
}

TEST_F(HostilePage, TheStylesheetReadsOnlyTheFeedAndItself) {
    QTemporaryDir outside;
    for (const auto& [path, text] : {std::pair{outside.filePath("secret.xml"), "<s>OUTSIDE-SECRET</s>"},
                                     std::pair{FDir.filePath("secret.xml"), "<s>HOME-SECRET</s>"}}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    ASSERT_TRUE(QFile::link(outside.filePath("secret.xml"), FDir.filePath("link.xml")));
    FServer.AddEndpoint("/leak.xml", 200, {{"Content-Type", "application/xml"}}, "<s>NETWORK</s>");
    InstallStylesheet("reaching_out.xsl",
                      {{"@OUTSIDE@", outside.filePath("secret.xml")},
                       {"@SERVER@", Url("")},
                       {"feeds/../../outside/", "feeds/../../" + QDir(outside.path()).dirName() + "/"}});
    ASSERT_TRUE(Show("<p>Item</p>"));
    Settle(500);
    const QString text = Text();
    for (const char* shown : {"Hostile", "own templates: 1", "feed again: Hostile", "home: []", "outside: []",
                              "climbing: []", "linked: []", "network: []"})
        EXPECT_TRUE(text.contains(shown)) << shown << "\n" << text.toStdString();
    EXPECT_EQ(FServer.NumHits("/leak.xml"), 0);
    for (const testsupport::Request& request : FServer.Requests())
        EXPECT_EQ(request.target.find("SECRET"), std::string::npos) << request.target;
}

TEST_F(HostilePage, TheStylesheetWritesNothingAndTakesPartsOnlyFromBesideIt) {
    QTemporaryDir outside;
    QFile::copy(QStringLiteral(QUILLET_TEST_DATA_DIR "/stylesheets/part.xsl"), outside.filePath("part.xsl"));
    QFile::copy(QStringLiteral(QUILLET_TEST_DATA_DIR "/stylesheets/part.xsl"), FDir.filePath("part.xsl"));
    FServer.AddEndpoint("/remote.xsl", 200, {{"Content-Type", "application/xml"}}, "<x/>");
    ASSERT_TRUE(Show("<p>Item</p>"));  // writes the stored copy
    const struct {
        const char* fixture;
        const char* shown;  // nullptr: the stylesheet fails, naming what it tried
    } cases[] = {
        {"writes_a_file.xsl", nullptr},
        {"includes_beside.xsl", "from the part"},
        {"includes_outside.xsl", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        InstallStylesheet(c.fixture, {{"@SERVER@", Url("")}, {"@OUTSIDE_PART@", outside.filePath("part.xsl")}});
        QByteArray html;
        if (c.shown) {
            ASSERT_NO_THROW(TWebBrowser::TransformLocalXml(FDir.filePath("feeds/1.xml"), html));
            EXPECT_TRUE(html.contains(c.shown)) << html.constData();
        } else {
            EXPECT_THROW(TWebBrowser::TransformLocalXml(FDir.filePath("feeds/1.xml"), html), std::runtime_error);
        }
    }
    EXPECT_FALSE(QFile::exists(FDir.filePath("written.html")));
    EXPECT_FALSE(QFile::exists(FDir.filePath("made")));
    EXPECT_EQ(FServer.NumHits("/remote.xsl"), 0);
}

TEST(PaneNavigation, OneCheckDecidesEveryKind) {
    const QUrl page("quillet-page:3");
    const QUrl web("http://example.invalid/story");
    const struct {
        const char* name;
        QUrl url;
        Nav::NavigationType type;
        bool mainFrame;
        QUrl previous;
        Verdict verdict;
    } cases[] = {
        {"meta refresh to a local file", QUrl("file:///etc/passwd"), Nav::NavigationTypeRedirect, true, page,
         Verdict::Refuse},
        {"meta refresh of a feed page to the web", web, Nav::NavigationTypeRedirect, true, page, Verdict::Refuse},
        {"web page redirected to the web", QUrl("https://example.invalid/moved"), Nav::NavigationTypeRedirect, true,
         web, Verdict::Load},
        {"web page redirected to a file", QUrl("file:///etc/passwd"), Nav::NavigationTypeRedirect, true, web,
         Verdict::Refuse},
        {"frame of a local file", QUrl("file:///etc/passwd"), Nav::NavigationTypeOther, false, page, Verdict::Refuse},
        {"frame of a web page", web, Nav::NavigationTypeLinkClicked, false, page, Verdict::Refuse},
        {"form to the web", web, Nav::NavigationTypeFormSubmitted, true, page, Verdict::Refuse},
        {"unasked navigation", web, Nav::NavigationTypeOther, true, page, Verdict::Refuse},
        {"web link", web, Nav::NavigationTypeLinkClicked, true, page, Verdict::AskHandler},
        {"mail link", QUrl("mailto:a@example.invalid"), Nav::NavigationTypeLinkClicked, true, page,
         Verdict::AskHandler},
        {"file link", QUrl("file:///etc/passwd"), Nav::NavigationTypeLinkClicked, true, page, Verdict::Refuse},
        {"smb link", QUrl("smb://host/share"), Nav::NavigationTypeLinkClicked, true, page, Verdict::Refuse},
        {"javascript link", QUrl("javascript:alert(1)"), Nav::NavigationTypeLinkClicked, true, page, Verdict::Refuse},
        {"program shows a stored copy",
         QUrl::fromLocalFile("/home/u/feeds/1.xml"),
         Nav::NavigationTypeTyped,
         true,
         {},
         Verdict::Load},
        {"program opens a web page", web, Nav::NavigationTypeTyped, true, page, Verdict::Load},
        {"program asked for a custom scheme", QUrl("steam://run/1"), Nav::NavigationTypeTyped, true, page,
         Verdict::Refuse},
        {"reload of a feed page", page, Nav::NavigationTypeReload, true, page, Verdict::Load},
        {"history to a local file", QUrl("file:///etc/passwd"), Nav::NavigationTypeBackForward, true, page,
         Verdict::Refuse},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TWebBrowser::CheckNavigation(c.url, c.type, c.mainFrame, c.previous), c.verdict) << c.name;
}

TEST(PaneMarkup, FeedHtmlIsCleanedBeforeThePageIsBuilt) {
    QTemporaryDir dir;
    QFile::copy(QStringLiteral(QUILLET_DATA_DIR "/rss.xsl"), dir.filePath("rss.xsl"));
    const QString feed = dir.filePath("1.xml");
    QFile file(feed);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "<?xml version=\"1.0\"?><?xml-stylesheet type=\"text/xsl\" href=\"rss.xsl\"?>"
        "<rss version=\"2.0\" xmlns:content=\"http://purl.org/rss/1.0/modules/content/\"><channel>"
        "<title>T</title><description>&lt;b&gt;About&lt;/b&gt;&lt;iframe src=x&gt;&lt;/iframe&gt;</description>"
        "<item><title>I</title><description>&lt;p onclick=\"x()\" style=\"color:red\"&gt;Kept&lt;/p&gt;"
        "&lt;form action=\"http://e.invalid/\"&gt;&lt;input&gt;&lt;/form&gt;"
        "&lt;meta http-equiv=\"refresh\" content=\"0;url=file:///etc/passwd\"&gt;"
        "<![CDATA[<object data=\"x\"></object><a href=\"javascript:x()\">a</a>]]></description></item>"
        // An item with a full body shows it instead of its excerpt.
        "<item><title>J</title><description>Excerpt</description>"
        "<content:encoded>&lt;embed src=\"x\"&gt;&lt;em&gt;Full&lt;/em&gt;</content:encoded></item>"
        "</channel></rss>");
    file.close();
    const QByteArray original = [&] {
        QFile in(feed);
        in.open(QIODevice::ReadOnly);
        return in.readAll();
    }();
    QByteArray html;
    ASSERT_TRUE(TWebBrowser::TransformLocalXml(feed, html));
    for (const char* gone :
         {"<iframe", "onclick", "style=\"color", "<form", "<input", "http-equiv=\"refresh", "<object", "javascript:"})
        EXPECT_EQ(html.indexOf(gone), -1) << gone << "\n" << html.constData();
    EXPECT_NE(html.indexOf("<p>Kept</p>"), -1) << html.constData();
    EXPECT_NE(html.indexOf("<a>a</a>"), -1);
    EXPECT_NE(html.indexOf("<em>Full</em>"), -1);
    EXPECT_EQ(html.indexOf("<embed"), -1);
    // The stored copy itself is not touched.
    QFile in(feed);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    EXPECT_EQ(in.readAll(), original);

    // The full text, once the stylesheet shows it, arrives cleaned too.
    xmlDoc* doc = xmlReadMemory(original.constData(), int(original.size()), nullptr, nullptr, XML_PARSE_NONET);
    ASSERT_NE(doc, nullptr);
    TWebBrowser::SanitizeFeedMarkup(doc);
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc, &text, &size);
    const QByteArray cleaned(reinterpret_cast<const char*>(text), size);
    xmlFree(text);
    xmlFreeDoc(doc);
    EXPECT_EQ(cleaned.indexOf("&lt;embed"), -1) << cleaned.constData();
    EXPECT_NE(cleaned.indexOf("&lt;em&gt;Full&lt;/em&gt;"), -1) << cleaned.constData();
}

TEST(PaneMarkup, TheStylesheetWritesMarkupOnlyFromCleanedElements) {
    // Whatever rss.xsl writes out unescaped must be among the elements the
    // browser cleans first: an item's description or full text; or the
    // item's article, which the page function cleans as it hands it over.
    xmlDoc* sheet = xmlReadFile(QUILLET_DATA_DIR "/rss.xsl", nullptr, XML_PARSE_NONET);
    ASSERT_NE(sheet, nullptr);
    std::vector<xmlNode*> pending{xmlDocGetRootElement(sheet)};
    int unescaped = 0;
    while (!pending.empty()) {
        xmlNode* node = pending.back();
        pending.pop_back();
        for (xmlNode* child = node->children; child; child = child->next)
            if (child->type == XML_ELEMENT_NODE) pending.push_back(child);
        xmlChar* doe = xmlGetProp(node, reinterpret_cast<const xmlChar*>("disable-output-escaping"));
        const bool on = doe && std::string(reinterpret_cast<const char*>(doe)) == "yes";
        xmlFree(doe);
        if (!on) continue;
        ++unescaped;
        xmlChar* select = xmlGetProp(node, reinterpret_cast<const xmlChar*>("select"));
        const std::string expression = select ? reinterpret_cast<const char*>(select) : "";
        xmlFree(select);
        EXPECT_TRUE(expression == "description" || expression == "content:encoded" ||
                    expression == "page:article(., 'html')")
            << expression;
        // ... of an item: nothing else is cleaned.
        xmlNode* templ = node->parent;
        while (templ && !xmlStrEqual(templ->name, reinterpret_cast<const xmlChar*>("template"))) templ = templ->parent;
        ASSERT_NE(templ, nullptr);
        xmlChar* match = xmlGetProp(templ, reinterpret_cast<const xmlChar*>("match"));
        EXPECT_STREQ(reinterpret_cast<const char*>(match), "item") << expression;
        xmlFree(match);
    }
    xmlFreeDoc(sheet);
    EXPECT_GT(unescaped, 0);
}

}  // namespace

#include "HostilePageTest.moc"

#include "WebBrowser.h"
#include "PageStylesheet.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaObject>
#include <QPointer>
#include <QRegularExpression>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

#include <libxml/parser.h>

#include "HtmlSanitizer.h"
#include "PaneProtocol.h"

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Pages produced by the stylesheet are served under this scheme, which has
// no size limit, unlike setHtml. It is not a local scheme: a feed page has
// no more access to the machine's files than a web page has.
constexpr char kPageScheme[] = "quillet-page";

// The namespace of <content:encoded>, a feed's full article text.
constexpr char kContentNamespace[] = "http://purl.org/rss/1.0/modules/content/";

bool IsWebScheme(const QString& scheme) { return scheme == QLatin1String("http") || scheme == QLatin1String("https"); }

// How many transformed pages stay available to the engine: the one shown and
// the one being loaded are enough (a reload transforms the file again).
constexpr std::size_t kKeptPages = 4;

QString AddressOf(const QUrl& url) { return url.isLocalFile() ? url.toLocalFile() : url.toString(); }

// A page build that nobody waits for any more stops at the next step
// instead of running to its end. The flag belongs to the build of this
// thread; TransformLocalXml keeps its signature for every other caller.
thread_local const std::atomic<bool>* tBuildDropped = nullptr;

struct BuildDropped {};

void StopIfDropped() {
    if (tBuildDropped && tBuildDropped->load(std::memory_order_relaxed)) throw BuildDropped{};
}

// The pseudo-attributes of an <?xml-stylesheet type="text/xsl" href="..."?>
// instruction.
std::map<QString, QString> PseudoAttributes(const QString& data) {
    // Per thread: pages are built on several threads, and a regular
    // expression object is only reentrant.
    thread_local const QRegularExpression re(
        QStringLiteral(R"re(([A-Za-z_:][-\w.:]*)\s*=\s*(?:"([^"]*)"|'([^']*)'))re"));
    std::map<QString, QString> result;
    for (auto it = re.globalMatch(data); it.hasNext();) {
        const auto m = it.next();
        QString value = m.captured(2).isNull() ? m.captured(3) : m.captured(2);
        value.replace(QLatin1String("&quot;"), QLatin1String("\""))
            .replace(QLatin1String("&apos;"), QLatin1String("'"))
            .replace(QLatin1String("&lt;"), QLatin1String("<"))
            .replace(QLatin1String("&gt;"), QLatin1String(">"))
            .replace(QLatin1String("&amp;"), QLatin1String("&"));
        result.emplace(m.captured(1), value);
    }
    return result;
}

// The local stylesheet file named by the document's first XSL instruction,
// resolved against the folder of the XML file; "" when there is none, or when
// it names anything but a local file (a stored page never reaches the network).
QString StylesheetPath(xmlDoc* doc, const QString& xmlPath) {
    for (xmlNode* n = doc->children; n; n = n->next) {
        if (n->type != XML_PI_NODE || !n->name ||
            std::string(reinterpret_cast<const char*>(n->name)) != "xml-stylesheet")
            continue;
        const auto attrs = PseudoAttributes(QString::fromUtf8(reinterpret_cast<const char*>(n->content)));
        const auto type = attrs.find(QStringLiteral("type"));
        const auto href = attrs.find(QStringLiteral("href"));
        if (href == attrs.end() || href->second.isEmpty()) continue;
        if (type != attrs.end()) {
            const QString t = type->second.toLower();
            if (t != QLatin1String("text/xsl") && t != QLatin1String("text/xml") &&
                t != QLatin1String("application/xml") && t != QLatin1String("application/xslt+xml"))
                continue;
        }
        const QUrl base = QUrl::fromLocalFile(QFileInfo(xmlPath).absoluteFilePath());
        const QUrl target = base.resolved(QUrl(href->second));
        if (!target.isLocalFile()) return {};
        return target.toLocalFile();
    }
    return {};
}

// Makes relative addresses of the page resolve against the stored file's
// folder although the page itself is served under the page scheme, unless
// the stylesheet chose a base itself (the feed's site, for a stored copy).
QByteArray WithBase(const QByteArray& html, const QString& folder) {
    thread_local const QRegularExpression ownBase(QStringLiteral("<base\\b[^>]*\\bhref"),
                                                  QRegularExpression::CaseInsensitiveOption);
    const int headEnd = html.indexOf("</head>");
    if (headEnd >= 0 && QString::fromLatin1(html.left(headEnd)).contains(ownBase)) return html;
    QByteArray href = QUrl::fromLocalFile(QDir(folder).absolutePath() + QLatin1Char('/')).toEncoded();
    href.replace("&", "&amp;").replace("\"", "&quot;");
    const QByteArray tag = "<base href=\"" + href + "\">";
    thread_local const QRegularExpression head(QStringLiteral("<head\\b[^>]*>"),
                                               QRegularExpression::CaseInsensitiveOption);
    // Only the start of the page is searched: a feed's own text further down
    // cannot move the base.
    const QString start = QString::fromLatin1(html.left(4096));
    const auto m = head.match(start);
    if (m.hasMatch()) {
        QByteArray out = html;
        out.insert(int(m.capturedEnd()), tag);
        return out;
    }
    return tag + html;
}

QByteArray ErrorPage(const QString& path, const QString& message) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Error</title></head><body><h3>" +
           path.toHtmlEscaped().toUtf8() + "</h3><p>" + message.toHtmlEscaped().toUtf8() + "</p></body></html>";
}

}  // namespace

// ---- page scheme ----

class TFeedPageSchemeHandler : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    QUrl Add(const QByteArray& html) {
        const QUrl url(QString::fromLatin1(kPageScheme) + QLatin1Char(':') + QString::number(++FCounter));
        FPages.emplace(FCounter, html);
        while (FPages.size() > kKeptPages) FPages.erase(FPages.begin());
        return url;
    }

    void requestStarted(QWebEngineUrlRequestJob* job) override {
        bool ok = false;
        const quint64 key = job->requestUrl().path().toULongLong(&ok);
        const auto it = ok ? FPages.find(key) : FPages.end();
        if (it == FPages.end()) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        auto* buffer = new QBuffer(job);
        buffer->setData(it->second);
        buffer->open(QIODevice::ReadOnly);
        job->reply("text/html", buffer);
    }

private:
    quint64 FCounter = 0;
    std::map<quint64, QByteArray> FPages;
};

// ---- pages built off the user-interface thread ----

// One stored copy made into a page on a worker thread: reading, cleaning and
// transforming a large feed takes seconds, which the window must not wait
// for. The worker shares only this object with the browser and never touches
// the browser itself; the browser takes the result on its own thread, and
// only if it still wants it.
class TPageBuild {
public:
    TPageBuild(const QString& path, const QString& scheme, quillet::TPageMarks marks)
        : FPath(path), FScheme(scheme), FMarks(std::move(marks)) {}
    const quillet::TPageMarks& Marks() const { return FMarks; }

    const QString& Path() const { return FPath; }

    // Asked from the user-interface thread when a newer navigation or the
    // browser's end makes the page useless; the worker stops at its next step.
    void Drop() { FDropped.store(true, std::memory_order_relaxed); }
    bool Dropped() const { return FDropped.load(std::memory_order_relaxed); }

    // Runs on the worker. Afterwards either the page is ready (a
    // transformation or an error page) or the file is for the engine to
    // open as it is.
    void Run() {
        tBuildDropped = &FDropped;
        const quillet::TPageMarksScope marked(&FMarks);
        try {
            QByteArray html;
            if (TWebBrowser::TransformLocalXml(FPath, html, FScheme)) {
                StopIfDropped();
                FHtml = WithBase(html, QFileInfo(FPath).absolutePath());
                FHasPage = true;
            }
        } catch (const BuildDropped&) {
        } catch (const std::exception& e) {
            FHtml = ErrorPage(FPath, QString::fromUtf8(e.what()));
            FHasPage = true;
            FFailed = true;
        } catch (...) {
            FHtml = ErrorPage(FPath, QStringLiteral("The page could not be built."));
            FHasPage = true;
            FFailed = true;
        }
        tBuildDropped = nullptr;
    }

    // Read on the user-interface thread once the worker has finished (the
    // queued delivery orders the accesses).
    bool HasPage() const { return FHasPage; }
    // The page is an error page: it shows none of the feed's items.
    bool Failed() const { return FFailed; }
    const QByteArray& Html() const { return FHtml; }

private:
    const QString FPath;
    const QString FScheme;
    const quillet::TPageMarks FMarks;
    std::atomic<bool> FDropped{false};
    bool FHasPage = false;
    bool FFailed = false;
    QByteArray FHtml;
};

// ---- sub-resources ----

// Every request a page makes besides its own main-frame document: only http
// and https images pass, and only while web images are on. Style sheets,
// fonts, frames, objects, media, favicons and pings never load; the page
// itself (a main-frame request) was already let through CheckNavigation.
class TPaneRequestPolicy : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    std::atomic<bool> FImages{true};

    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        const auto type = info.resourceType();
        if (type == QWebEngineUrlRequestInfo::ResourceTypeMainFrame) return;
        if (type == QWebEngineUrlRequestInfo::ResourceTypeImage && FImages &&
            IsWebScheme(info.requestUrl().scheme().toLower()))
            return;
        info.block(true);
    }
};

// ---- pages ----

class TWebBrowserPage : public QWebEnginePage {
public:
    TWebBrowserPage(QWebEngineProfile* profile, TWebBrowser* browser)
        : QWebEnginePage(profile, browser), FBrowser(browser) {}

    // The next main-frame load that the browser started itself and already
    // announced; it passes without being asked about again.
    QUrl FExpected;

    // The last main-frame navigation that went ahead.
    QUrl FPrevious;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (isMainFrame && !FExpected.isEmpty() && url == FExpected) {
            FExpected.clear();
            FPrevious = url;
            return true;
        }
        // The page's own links to its items (the "N new" line) only move
        // the view: the page's base would make them another document.
        if (isMainFrame && type == NavigationTypeLinkClicked &&
            url.fragment().startsWith(QLatin1String(quillet::kItemAnchorPrefix))) {
            QMetaObject::invokeMethod(
                FBrowser, [b = FBrowser, id = url.fragment()] { b->ScrollToAnchor(id); }, Qt::QueuedConnection);
            return false;
        }
        switch (TWebBrowser::CheckNavigation(url, type, isMainFrame, FPrevious)) {
            case TWebBrowser::TNavigationVerdict::Load:
                FPrevious = url;
                return true;
            case TWebBrowser::TNavigationVerdict::AskHandler:
                // Decided by the browser after the current event has finished.
                QMetaObject::invokeMethod(
                    FBrowser, [b = FBrowser, url] { b->BeforeNavigate(AddressOf(url)); }, Qt::QueuedConnection);
                return false;
            case TWebBrowser::TNavigationVerdict::Refuse:
                break;
        }
        return false;
    }

    // Links that ask for a new window open in this one, after the same check.
    QWebEnginePage* createWindow(WebWindowType) override;

private:
    TWebBrowser* FBrowser;
};

// A throw-away page that only catches the address of a "new window" link.
class TNewWindowCatcher : public QWebEnginePage {
public:
    TNewWindowCatcher(QWebEngineProfile* profile, TWebBrowser* browser)
        : QWebEnginePage(profile, browser), FBrowser(browser) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (isMainFrame && !FDone) {
            FDone = true;
            if (TWebBrowser::CheckNavigation(url, type, isMainFrame, {}) == TWebBrowser::TNavigationVerdict::AskHandler)
                QMetaObject::invokeMethod(
                    FBrowser, [b = FBrowser, url] { b->BeforeNavigate(AddressOf(url)); }, Qt::QueuedConnection);
            deleteLater();
        }
        return false;
    }

private:
    TWebBrowser* FBrowser;
    bool FDone = false;
};

QWebEnginePage* TWebBrowserPage::createWindow(WebWindowType) { return new TNewWindowCatcher(profile(), FBrowser); }

// ---- TWebBrowser ----

void TWebBrowser::RegisterSchemes() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    QWebEngineUrlScheme scheme(kPageScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    // No flags: the page is treated like a remote one, so it can reach no
    // local file.
    scheme.setFlags({});
    QWebEngineUrlScheme::registerScheme(scheme);
}

TWebBrowser::TWebBrowser(QWidget* parent) : QWidget(parent) {
    // A private, memory-only profile: nothing of a feed page is cached on
    // disk, and the page scheme handler belongs to this browser alone.
    FProfile = new QWebEngineProfile(this);
    FProfile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    FSchemeHandler = new TFeedPageSchemeHandler(this);
    FProfile->installUrlSchemeHandler(kPageScheme, FSchemeHandler);
    FRequestPolicy = new TPaneRequestPolicy(this);
    FProfile->setUrlRequestInterceptor(FRequestPolicy);

    auto* page = new TWebBrowserPage(FProfile, this);
    QWebEngineSettings* settings = page->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
    settings->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    settings->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
    settings->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);
    // A file dropped on the pane would otherwise be opened in it.
    settings->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);

    FView = new QWebEngineView(this);
    FView->setPage(page);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(FView);

    connect(page, &QWebEnginePage::linkHovered, this, [this](const QString& url) { emit StatusTextChange(url); });
    connect(page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (ok && !FScrollTarget.isEmpty()) ScrollToAnchor(FScrollTarget);
        FScrollTarget.clear();
        // Only the built page itself counts as shown; a load cancelled by
        // the next one, or failed, is not.
        const qint64 shown = ok && FShowingSerial && FView->page()->url() == FShowingUrl ? FShowingSerial : 0;
        if (shown) FShowingSerial = 0;
        emit NavigateComplete(FLocation, ok);
        if (shown) emit PageShown(shown);
    });
}

TWebBrowser::~TWebBrowser() {
    // A page still being built finishes or stops on its own; nothing waits
    // for it and its result finds no browser.
    DropPageBuild();
    // The page must go before the profile it was made with.
    QWebEnginePage* page = FView->page();
    FView->setPage(nullptr);
    delete page;
    delete FView;
    FView = nullptr;
}

void TWebBrowser::Navigate(const QString& pathOrUrl, const quillet::TPageMarks& marks) {
    FMarks = marks;
    FMarkedAddress = pathOrUrl;
    const QUrl asUrl(pathOrUrl);
    if (asUrl.isLocalFile()) FMarkedAddress = asUrl.toLocalFile();
    Navigate(pathOrUrl);
}

void TWebBrowser::Navigate(const QString& pathOrUrl) {
    QString address = pathOrUrl;
    const QUrl asUrl(pathOrUrl);
    if (asUrl.isLocalFile())
        address = asUrl.toLocalFile();
    else if (!address.isEmpty() && QDir::isRelativePath(address) && (asUrl.scheme().isEmpty() || address.size() < 2))
        address = QDir::current().absoluteFilePath(address);  // a relative file name
    const bool local = QDir::isAbsolutePath(address) && !address.contains(QLatin1String("://"));
    const QUrl target = local ? QUrl::fromLocalFile(address) : QUrl(address);
    const auto* page = static_cast<TWebBrowserPage*>(FView->page());
    if (CheckNavigation(target, QWebEnginePage::NavigationTypeTyped, true, page->FPrevious) ==
        TNavigationVerdict::Refuse)
        return;
    BeforeNavigate(address);
}

TWebBrowser::TNavigationVerdict TWebBrowser::CheckNavigation(const QUrl& url, QWebEnginePage::NavigationType type,
                                                             bool isMainFrame, const QUrl& previous) {
    // A feed page has no frames; any left in some page never load.
    if (!isMainFrame) return TNavigationVerdict::Refuse;
    const QString scheme = url.scheme().toLower();
    const bool web = IsWebScheme(scheme);
    const bool mail = scheme == QLatin1String("mailto");
    switch (type) {
        case QWebEnginePage::NavigationTypeTyped:
            // The program's own: a stored copy or another local file, or an
            // address the handler was already asked about.
            return web || mail || scheme == QLatin1String("file") || scheme == QLatin1String(kPageScheme) ||
                           url.toString() == QLatin1String("about:blank")
                       ? TNavigationVerdict::Load
                       : TNavigationVerdict::Refuse;
        case QWebEnginePage::NavigationTypeLinkClicked:
            // The user's choice, but only to the web or to mail: other schemes
            // would hand the address to whatever program claims it. An item's
            // "Read the full article" is a request to the main window, which
            // never loads it.
            return web || mail || scheme == QLatin1String(pane::kArticleRequestScheme) ? TNavigationVerdict::AskHandler
                                                                                       : TNavigationVerdict::Refuse;
        case QWebEnginePage::NavigationTypeRedirect:
            // A web page the user opened may move on to another web page (its
            // server's redirect or its meta refresh); a feed page never moves.
            return web && IsWebScheme(previous.scheme().toLower()) ? TNavigationVerdict::Load
                                                                   : TNavigationVerdict::Refuse;
        case QWebEnginePage::NavigationTypeReload:
        case QWebEnginePage::NavigationTypeBackForward:
            return web || scheme == QLatin1String(kPageScheme) ? TNavigationVerdict::Load : TNavigationVerdict::Refuse;
        default:
            // Forms and navigations nobody asked for.
            return TNavigationVerdict::Refuse;
    }
}

void TWebBrowser::SetShowWebImages(bool show) { FRequestPolicy->FImages = show; }

bool TWebBrowser::ShowWebImages() const { return FRequestPolicy->FImages; }

namespace {

bool IsElement(xmlNode* node, const char* localName, const char* nsUri) {
    if (node->type != XML_ELEMENT_NODE || !node->name ||
        std::strcmp(reinterpret_cast<const char*>(node->name), localName))
        return false;
    if (!nsUri) return node->ns == nullptr;
    return node->ns && node->ns->href && std::strcmp(reinterpret_cast<const char*>(node->ns->href), nsUri) == 0;
}

// The text of every text and CDATA node below `element`, in document order,
// which is what the stylesheet's value-of writes out.
std::string DescendantText(xmlNode* element) {
    std::string text;
    std::vector<xmlNode*> pending;
    for (xmlNode* child = element->last; child; child = child->prev) pending.push_back(child);
    while (!pending.empty()) {
        xmlNode* node = pending.back();
        pending.pop_back();
        if ((node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) && node->content)
            text += reinterpret_cast<const char*>(node->content);
        else if (node->type == XML_ELEMENT_NODE)
            for (xmlNode* child = node->last; child; child = child->prev) pending.push_back(child);
    }
    return text;
}

}  // namespace

void TWebBrowser::SanitizeFeedMarkup(void* xmlDocument) {
    auto* doc = static_cast<xmlDoc*>(xmlDocument);
    std::vector<xmlNode*> pending;
    for (xmlNode* node = doc->children; node; node = node->next) pending.push_back(node);
    std::vector<xmlNode*> references;
    while (!pending.empty()) {
        xmlNode* node = pending.back();
        pending.pop_back();
        if (node->type == XML_ENTITY_REF_NODE) {
            // The stylesheet would expand these without any bound.
            references.push_back(node);
            continue;
        }
        if (node->type != XML_ELEMENT_NODE) continue;
        // The stylesheet writes an item's description and full text as
        // markup; every other text (titles, the channel's description) is
        // written as text and needs no cleaning.
        const bool inItem = node->parent && IsElement(node->parent, "item", nullptr);
        if (inItem && (IsElement(node, "description", nullptr) || IsElement(node, "encoded", kContentNamespace))) {
            StopIfDropped();  // cleaning a huge feed takes a while
            const std::string clean = html::SanitizeFragment(DescendantText(node));
            xmlNodeSetContent(node, nullptr);
            if (!clean.empty())
                xmlAddChild(node,
                            xmlNewDocTextLen(doc, reinterpret_cast<const xmlChar*>(clean.data()), int(clean.size())));
            continue;
        }
        for (xmlNode* child = node->children; child; child = child->next) pending.push_back(child);
    }
    for (xmlNode* reference : references) {
        xmlUnlinkNode(reference);
        xmlFreeNode(reference);
    }
}

bool TWebBrowser::BeforeNavigate(const QString& address) {
    bool cancel = false;
    if (OnBeforeNavigate) OnBeforeNavigate(address, cancel);
    if (!cancel) Open(address);
    return true;
}

void TWebBrowser::Open(const QString& address) {
    // Whatever was being built for an earlier navigation is not wanted now.
    DropPageBuild();
    FLocation = address;
    if (QDir::isAbsolutePath(address) && !address.contains(QLatin1String("://")))
        LoadLocal(address);
    else
        Load(QUrl(address));
}

void TWebBrowser::LoadLocal(const QString& path) {
    // Marks belong to the navigation that brought them, never to a page
    // opened some other way.
    quillet::TPageMarks marks;
    if (path == FMarkedAddress) marks = std::move(FMarks);
    FMarks = {};
    FMarkedAddress.clear();
    auto build = std::make_shared<TPageBuild>(path, FColorScheme, std::move(marks));
    FPageBuild = build;
    FShowingSerial = 0;
    // The worker holds the build and a guarded pointer it only passes on:
    // the delivery runs on the application's thread and finds out there
    // whether the browser still exists.
    QThreadPool::globalInstance()->start([build, browser = QPointer<TWebBrowser>(this)] {
        if (!build->Dropped()) build->Run();
        if (build->Dropped()) return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [build, browser] {
                if (browser) browser->PageBuilt(build);
            },
            Qt::QueuedConnection);
    });
}

void TWebBrowser::PageBuilt(const std::shared_ptr<TPageBuild>& build) {
    if (build != FPageBuild) return;  // a newer navigation took its place
    FPageBuild.reset();
    FScrollTarget =
        build->Marks().Target.empty() ? QString() : QString::fromStdString(quillet::ItemAnchor(build->Marks().Target));
    // A copy without a stylesheet instruction shows as the file itself.
    const QUrl url = build->HasPage() ? FSchemeHandler->Add(build->Html()) : QUrl::fromLocalFile(build->Path());
    FShowingSerial = build->Failed() ? 0 : build->Marks().Serial;
    FShowingUrl = url;
    Load(url);
}

void TWebBrowser::DropPageBuild() {
    if (FPageBuild) FPageBuild->Drop();
    FPageBuild.reset();
}

bool TWebBrowser::PageBuildPending() const { return FPageBuild != nullptr; }

void TWebBrowser::Load(const QUrl& url) {
    static_cast<TWebBrowserPage*>(FView->page())->FExpected = url;
    FView->page()->load(url);
}

void TWebBrowser::SetBodyStyle(const QString& property, const QString& value) {
    // The page's own world has JavaScript off; the program's script runs in
    // its isolated world, which still sees the document.
    const QByteArray args = QJsonDocument(QJsonArray{property, value}).toJson(QJsonDocument::Compact);
    const QString script =
        QStringLiteral("(function(a){if(document.body)document.body.style.setProperty(a[0],a[1]);})(%1)")
            .arg(QString::fromUtf8(args));
    FView->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld);
}

void TWebBrowser::ScrollToAnchor(const QString& id) {
    const QByteArray arg = QJsonDocument(QJsonArray{id}).toJson(QJsonDocument::Compact);
    const QString script =
        QStringLiteral("(function(a){var e=document.getElementById(a[0]);if(e)e.scrollIntoView();})(%1)")
            .arg(QString::fromUtf8(arg));
    FView->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld);
}

bool TWebBrowser::TransformLocalXml(const QString& path, QByteArray& html, const QString& scheme) {
    // Only XML documents are candidates; an HTML page or an image is the
    // engine's business.
    static const QStringList xmlSuffixes{QStringLiteral("xml"), QStringLiteral("rss"), QStringLiteral("rdf"),
                                         QStringLiteral("atom")};
    if (!xmlSuffixes.contains(QFileInfo(path).suffix().toLower())) return false;
    if (!QFileInfo::exists(path)) return false;  // the engine shows its own page for a missing file
    quillet::XmlDocPtr doc = quillet::ReadPageXml(path, "file");
    const QString xslPath = StylesheetPath(doc.get(), path);
    if (xslPath.isEmpty()) return false;
    StopIfDropped();
    // What the stylesheet writes out as markup is the feed's HTML: only the
    // allow-listed part of it reaches the page.
    SanitizeFeedMarkup(doc.get());
    StopIfDropped();
    html = quillet::ApplyPageStylesheet(doc.get(), path, xslPath, scheme);
    return true;
}

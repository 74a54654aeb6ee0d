#include "WebBrowser.h"
#include "FeedPageFunctions.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaObject>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <cstdarg>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

// Pages produced by the stylesheet are served under this scheme. It is a
// local scheme that may reach local files, so a page can show images kept
// beside the stored copy, and it has no size limit, unlike setHtml.
constexpr char kPageScheme[] = "quillet-page";

// How many transformed pages stay available to the engine: the one shown and
// the one being loaded are enough (a reload transforms the file again).
constexpr std::size_t kKeptPages = 4;

QString AddressOf(const QUrl& url)
{
    return url.isLocalFile() ? url.toLocalFile() : url.toString();
}

// ---- libxslt with RAII and collected error text ----

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
struct StylesheetFree {
    void operator()(xsltStylesheet* s) const { xsltFreeStylesheet(s); }
};
struct SecurityFree {
    void operator()(xsltSecurityPrefs* p) const { xsltFreeSecurityPrefs(p); }
};
struct ContextFree {
    void operator()(xsltTransformContext* c) const { xsltFreeTransformContext(c); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;
using StylesheetPtr = std::unique_ptr<xsltStylesheet, StylesheetFree>;
using SecurityPtr = std::unique_ptr<xsltSecurityPrefs, SecurityFree>;
using ContextPtr = std::unique_ptr<xsltTransformContext, ContextFree>;

void CollectXsltError(void* ctx, const char* msg, ...)
{
    auto* out = static_cast<std::string*>(ctx);
    char buffer[1024];
    va_list args;
    va_start(args, msg);
    std::vsnprintf(buffer, sizeof buffer, msg, args);
    va_end(args);
    if (out->size() < 4096)
        out->append(buffer);
}

// Routes libxslt's error output into a string while a transformation runs,
// instead of letting it go to stderr.
class XsltErrorCapture {
public:
    XsltErrorCapture() { xsltSetGenericErrorFunc(&FText, &CollectXsltError); }
    ~XsltErrorCapture() { xsltSetGenericErrorFunc(nullptr, nullptr); }
    std::string Text() const
    {
        std::string t = FText;
        while (!t.empty() && (t.back() == '\n' || t.back() == ' '))
            t.pop_back();
        return t;
    }

private:
    std::string FText;
};

std::string LastXmlError(const std::string& fallback)
{
    const xmlError* err = xmlGetLastError();
    if (!err || !err->message)
        return fallback;
    std::string msg = err->message;
    while (!msg.empty() && msg.back() == '\n')
        msg.pop_back();
    return msg + " (line " + std::to_string(err->line) + ")";
}

// Reads a file with the same safe options the rest of the program uses: no
// network, no DTD loading, no entity substitution.
DocPtr ReadXmlFile(const QString& path, const char* what)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(std::string("Cannot open ") + what + " " + path.toStdString() + ": " +
                                 file.errorString().toStdString());
    const QByteArray data = file.readAll();
    xmlResetLastError();
    const QByteArray url = QUrl::fromLocalFile(path).toEncoded();
    DocPtr doc(xmlReadMemory(data.constData(), int(data.size()), url.constData(), nullptr,
                             XML_PARSE_NONET | XML_PARSE_NOCDATA | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!doc)
        throw std::runtime_error(std::string("Cannot read ") + what + " " + path.toStdString() + ": " +
                                 LastXmlError("not well-formed"));
    return doc;
}

// The pseudo-attributes of an <?xml-stylesheet type="text/xsl" href="..."?>
// instruction.
std::map<QString, QString> PseudoAttributes(const QString& data)
{
    static const QRegularExpression re(QStringLiteral(R"re(([A-Za-z_:][-\w.:]*)\s*=\s*(?:"([^"]*)"|'([^']*)'))re"));
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
QString StylesheetPath(xmlDoc* doc, const QString& xmlPath)
{
    for (xmlNode* n = doc->children; n; n = n->next) {
        if (n->type != XML_PI_NODE || !n->name || std::string(reinterpret_cast<const char*>(n->name)) != "xml-stylesheet")
            continue;
        const auto attrs = PseudoAttributes(QString::fromUtf8(reinterpret_cast<const char*>(n->content)));
        const auto type = attrs.find(QStringLiteral("type"));
        const auto href = attrs.find(QStringLiteral("href"));
        if (href == attrs.end() || href->second.isEmpty())
            continue;
        if (type != attrs.end()) {
            const QString t = type->second.toLower();
            if (t != QLatin1String("text/xsl") && t != QLatin1String("text/xml") &&
                t != QLatin1String("application/xml") && t != QLatin1String("application/xslt+xml"))
                continue;
        }
        const QUrl base = QUrl::fromLocalFile(QFileInfo(xmlPath).absoluteFilePath());
        const QUrl target = base.resolved(QUrl(href->second));
        if (!target.isLocalFile())
            return {};
        return target.toLocalFile();
    }
    return {};
}

// Makes relative addresses of the page resolve against the stored file's
// folder although the page itself is served under the page scheme, unless
// the stylesheet chose a base itself (the feed's site, for a stored copy).
QByteArray WithBase(const QByteArray& html, const QString& folder)
{
    static const QRegularExpression ownBase(QStringLiteral("<base\\b[^>]*\\bhref"), QRegularExpression::CaseInsensitiveOption);
    const int headEnd = html.indexOf("</head>");
    if (headEnd >= 0 && QString::fromLatin1(html.left(headEnd)).contains(ownBase))
        return html;
    QByteArray href = QUrl::fromLocalFile(QDir(folder).absolutePath() + QLatin1Char('/')).toEncoded();
    href.replace("&", "&amp;").replace("\"", "&quot;");
    const QByteArray tag = "<base href=\"" + href + "\">";
    static const QRegularExpression head(QStringLiteral("<head\\b[^>]*>"), QRegularExpression::CaseInsensitiveOption);
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

QByteArray ErrorPage(const QString& path, const QString& message)
{
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Error</title></head><body><h3>" +
           path.toHtmlEscaped().toUtf8() + "</h3><p>" + message.toHtmlEscaped().toUtf8() + "</p></body></html>";
}

}  // namespace

// ---- page scheme ----

class TFeedPageSchemeHandler : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    QUrl Add(const QByteArray& html)
    {
        const QUrl url(QString::fromLatin1(kPageScheme) + QLatin1Char(':') + QString::number(++FCounter));
        FPages.emplace(FCounter, html);
        while (FPages.size() > kKeptPages)
            FPages.erase(FPages.begin());
        return url;
    }

    void requestStarted(QWebEngineUrlRequestJob* job) override
    {
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

// ---- pages ----

class TWebBrowserPage : public QWebEnginePage {
public:
    TWebBrowserPage(QWebEngineProfile* profile, TWebBrowser* browser)
        : QWebEnginePage(profile, browser), FBrowser(browser)
    {
    }

    // The next main-frame load that the browser started itself and already
    // announced; it passes without being asked about again.
    QUrl FExpected;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        if (!isMainFrame)
            return true;
        if (url.scheme() == QLatin1String(kPageScheme) || (!FExpected.isEmpty() && url == FExpected)) {
            FExpected.clear();
            return true;
        }
        // A server redirect continues a navigation that was already allowed.
        if (type == NavigationTypeReload || type == NavigationTypeBackForward || type == NavigationTypeRedirect)
            return true;
        // Everything else (a link, a form, a redirect the page asked for) is
        // decided by the browser, after the current event has finished.
        QMetaObject::invokeMethod(
            FBrowser, [b = FBrowser, url] { b->BeforeNavigate(AddressOf(url)); }, Qt::QueuedConnection);
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
    TNewWindowCatcher(QWebEngineProfile* profile, TWebBrowser* browser) : QWebEnginePage(profile, browser), FBrowser(browser) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override
    {
        if (isMainFrame && !FDone) {
            FDone = true;
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

QWebEnginePage* TWebBrowserPage::createWindow(WebWindowType)
{
    return new TNewWindowCatcher(profile(), FBrowser);
}

// ---- TWebBrowser ----

void TWebBrowser::RegisterSchemes()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    QWebEngineUrlScheme scheme(kPageScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    scheme.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(scheme);
}

TWebBrowser::TWebBrowser(QWidget* parent) : QWidget(parent)
{
    // A private, memory-only profile: nothing of a feed page is cached on
    // disk, and the page scheme handler belongs to this browser alone.
    FProfile = new QWebEngineProfile(this);
    FProfile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    FSchemeHandler = new TFeedPageSchemeHandler(this);
    FProfile->installUrlSchemeHandler(kPageScheme, FSchemeHandler);

    auto* page = new TWebBrowserPage(FProfile, this);
    QWebEngineSettings* settings = page->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);

    FView = new QWebEngineView(this);
    FView->setPage(page);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(FView);

    connect(page, &QWebEnginePage::linkHovered, this, [this](const QString& url) { emit StatusTextChange(url); });
    connect(page, &QWebEnginePage::loadFinished, this, [this](bool ok) { emit NavigateComplete(FLocation, ok); });
}

TWebBrowser::~TWebBrowser()
{
    // The page must go before the profile it was made with.
    QWebEnginePage* page = FView->page();
    FView->setPage(nullptr);
    delete page;
    delete FView;
    FView = nullptr;
}

void TWebBrowser::Navigate(const QString& pathOrUrl)
{
    QString address = pathOrUrl;
    const QUrl asUrl(pathOrUrl);
    if (asUrl.isLocalFile())
        address = asUrl.toLocalFile();
    else if (!address.isEmpty() && QDir::isRelativePath(address) && (asUrl.scheme().isEmpty() || address.size() < 2))
        address = QDir::current().absoluteFilePath(address);  // a relative file name
    BeforeNavigate(address);
}

bool TWebBrowser::BeforeNavigate(const QString& address)
{
    bool cancel = false;
    if (OnBeforeNavigate)
        OnBeforeNavigate(address, cancel);
    if (cancel)
        return true;
    FLocation = address;
    if (QDir::isAbsolutePath(address) && !address.contains(QLatin1String("://")))
        LoadLocal(address);
    else
        Load(QUrl(address));
    return true;
}

void TWebBrowser::LoadLocal(const QString& path)
{
    QByteArray html;
    try {
        if (!TransformLocalXml(path, html)) {
            Load(QUrl::fromLocalFile(path));
            return;
        }
        html = WithBase(html, QFileInfo(path).absolutePath());
    } catch (const std::exception& e) {
        html = ErrorPage(path, QString::fromUtf8(e.what()));
    }
    Load(FSchemeHandler->Add(html));
}

void TWebBrowser::Load(const QUrl& url)
{
    static_cast<TWebBrowserPage*>(FView->page())->FExpected = url;
    FView->page()->load(url);
}

void TWebBrowser::SetBodyStyle(const QString& property, const QString& value)
{
    // The page's own world has JavaScript off; the program's script runs in
    // its isolated world, which still sees the document.
    const QByteArray args = QJsonDocument(QJsonArray{property, value}).toJson(QJsonDocument::Compact);
    const QString script = QStringLiteral("(function(a){if(document.body)document.body.style.setProperty(a[0],a[1]);})(%1)")
                               .arg(QString::fromUtf8(args));
    FView->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld);
}

bool TWebBrowser::TransformLocalXml(const QString& path, QByteArray& html)
{
    quillet::RegisterFeedPageFunctions();
    // Only XML documents are candidates; an HTML page or an image is the
    // engine's business.
    static const QStringList xmlSuffixes{QStringLiteral("xml"), QStringLiteral("rss"), QStringLiteral("rdf"),
                                         QStringLiteral("atom")};
    if (!xmlSuffixes.contains(QFileInfo(path).suffix().toLower()))
        return false;
    if (!QFileInfo::exists(path))
        return false;  // the engine shows its own page for a missing file
    DocPtr doc = ReadXmlFile(path, "file");
    const QString xslPath = StylesheetPath(doc.get(), path);
    if (xslPath.isEmpty())
        return false;

    XsltErrorCapture errors;
    DocPtr xslDoc = ReadXmlFile(xslPath, "stylesheet");
    StylesheetPtr sheet(xsltParseStylesheetDoc(xslDoc.get()));
    if (!sheet)
        throw std::runtime_error("Invalid stylesheet " + xslPath.toStdString() + ": " + errors.Text());
    xslDoc.release();  // now owned by the stylesheet

    // The stylesheet may read files but never write them or use the network.
    SecurityPtr prefs(xsltNewSecurityPrefs());
    xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
    xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
    xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
    xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
    ContextPtr ctxt(xsltNewTransformContext(sheet.get(), doc.get()));
    if (!ctxt || xsltSetCtxtSecurityPrefs(prefs.get(), ctxt.get()) != 0)
        throw std::runtime_error("Cannot prepare the stylesheet " + xslPath.toStdString());
    DocPtr result(xsltApplyStylesheetUser(sheet.get(), doc.get(), nullptr, nullptr, nullptr, ctxt.get()));
    if (!result || ctxt->state == XSLT_STATE_ERROR || ctxt->state == XSLT_STATE_STOPPED)
        throw std::runtime_error("The stylesheet " + xslPath.toStdString() + " failed: " + errors.Text());

    xmlChar* text = nullptr;
    int length = 0;
    if (xsltSaveResultToString(&text, &length, result.get(), sheet.get()) != 0)
        throw std::runtime_error("Cannot write the result of " + xslPath.toStdString());
    html = QByteArray(reinterpret_cast<const char*>(text), length);
    xmlFree(text);
    return true;
}

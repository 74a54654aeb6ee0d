#include "PageStylesheet.h"
#include "FeedPageFunctions.h"

#include <QFile>
#include <QUrl>

#include <libxml/parser.h>
#include <libxml/uri.h>
#include <libxml/xmlerror.h>
#include <libxslt/documents.h>
#include <libxslt/extensions.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace quillet {

void XmlDocFree::operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }

namespace {

namespace fs = std::filesystem;

struct StylesheetFree {
    void operator()(xsltStylesheet* s) const { xsltFreeStylesheet(s); }
};
struct ContextFree {
    void operator()(xsltTransformContext* c) const { xsltFreeTransformContext(c); }
};
using StylesheetPtr = std::unique_ptr<xsltStylesheet, StylesheetFree>;
using ContextPtr = std::unique_ptr<xsltTransformContext, ContextFree>;

// ---- error text ----

// libxslt reports through one process-wide handler, while pages are built
// on several threads at once: the handler is installed once and hands each
// message to the capture of the thread that caused it.
thread_local std::string* tXsltErrors = nullptr;

void RouteXsltError(void*, const char* msg, ...) {
    std::string* out = tXsltErrors;
    if (!out) return;  // outside a transformation nobody is waiting for the text
    char buffer[1024];
    va_list args;
    va_start(args, msg);
    std::vsnprintf(buffer, sizeof buffer, msg, args);
    va_end(args);
    if (out->size() < 4096) out->append(buffer);
}

// Collects libxslt's error output of this thread while a transformation
// runs, instead of letting it go to stderr.
class XsltErrorCapture {
public:
    XsltErrorCapture() : FOuter(tXsltErrors) { tXsltErrors = &FText; }
    ~XsltErrorCapture() { tXsltErrors = FOuter; }
    XsltErrorCapture(const XsltErrorCapture&) = delete;
    XsltErrorCapture& operator=(const XsltErrorCapture&) = delete;
    std::string Text() const {
        std::string t = FText;
        while (!t.empty() && (t.back() == '\n' || t.back() == ' ')) t.pop_back();
        return t;
    }

private:
    std::string* FOuter;
    std::string FText;
};

std::string LastXmlError(const std::string& fallback) {
    const xmlError* err = xmlGetLastError();
    if (!err || !err->message) return fallback;
    std::string msg = err->message;
    while (!msg.empty() && msg.back() == '\n') msg.pop_back();
    return msg + " (line " + std::to_string(err->line) + ")";
}

// ---- what a stylesheet may read ----

// The files one page build may read, for the thread that builds it. While
// the stylesheet is parsed it may take other stylesheets from its folder;
// once it runs, only the feed and itself.
struct TReadPolicy {
    fs::path feed;
    fs::path stylesheet;
    fs::path folder;
    xmlDoc* feedDoc = nullptr;
    bool running = false;
};
thread_local const TReadPolicy* tPolicy = nullptr;

class TPolicyScope {
public:
    explicit TPolicyScope(const TReadPolicy& policy) : FOuter(tPolicy) { tPolicy = &policy; }
    ~TPolicyScope() { tPolicy = FOuter; }
    TPolicyScope(const TPolicyScope&) = delete;
    TPolicyScope& operator=(const TPolicyScope&) = delete;

private:
    const TReadPolicy* FOuter;
};

// The existing file a path names, with links and dots resolved; "" when
// there is none. Comparing resolved paths leaves no way round the policy
// through "..", links or a second spelling.
fs::path ExistingFile(const std::string& path) {
    std::error_code ec;
    fs::path resolved = fs::canonical(fs::path(path), ec);
    if (ec || !fs::is_regular_file(resolved, ec)) return {};
    return resolved;
}

bool Within(const fs::path& file, const fs::path& folder) {
    const auto [f, _] = std::mismatch(folder.begin(), folder.end(), file.begin(), file.end());
    return f == folder.end();
}

bool PolicyAllows(const TReadPolicy* policy, const fs::path& file) {
    if (!policy || file.empty() || policy->folder.empty()) return false;
    if (policy->running) return file == policy->feed || file == policy->stylesheet;
    return Within(file, policy->folder);
}

// The local path of a URI as libxml2 would open it ("file:///a%20b" or
// "/a b"); "" for any other scheme or a remote host.
std::string LocalPathOf(const xmlChar* uri) {
    if (!uri) return {};
    xmlURIPtr parsed = xmlParseURI(reinterpret_cast<const char*>(uri));
    if (!parsed) return {};
    std::string path;
    const bool local = !parsed->scheme || xmlStrcasecmp(BAD_CAST parsed->scheme, BAD_CAST "file") == 0;
    const bool here =
        !parsed->server || !*parsed->server || xmlStrcasecmp(BAD_CAST parsed->server, BAD_CAST "localhost") == 0;
    if (local && here && parsed->path) path = parsed->path;
    xmlFreeURI(parsed);
    return path;
}

// libxslt's read check for includes and imports: `value` is the path of a
// local file.
int CheckRead(xsltSecurityPrefsPtr, xsltTransformContextPtr, const char* value) {
    return value && PolicyAllows(tPolicy, ExistingFile(value)) ? 1 : 0;
}

xsltDocLoaderFunc gLibraryLoader = nullptr;

// Every document and stylesheet libxslt loads passes here, after its own
// checks: the file is allowed again by its resolved path, and it is parsed
// without entities, DTDs or network, whatever options libxslt asks for.
xmlDocPtr GuardedLoader(const xmlChar* uri, xmlDictPtr dict, int options, void* ctxt, xsltLoadType type) {
    const TReadPolicy* policy = tPolicy;
    const fs::path file = ExistingFile(LocalPathOf(uri));
    if (!PolicyAllows(policy, file)) return nullptr;
    if (type == XSLT_LOAD_DOCUMENT && file == policy->feed && policy->feedDoc) {
        // The feed as cleaned for the page, not as stored: reached here only
        // when document() spells its address otherwise than the page build.
        xmlDocPtr copy = xmlCopyDoc(policy->feedDoc, 1);
        if (copy && !copy->URL && policy->feedDoc->URL) copy->URL = xmlStrdup(policy->feedDoc->URL);
        return copy;
    }
    constexpr int unsafe =
        XML_PARSE_NOENT | XML_PARSE_DTDLOAD | XML_PARSE_DTDATTR | XML_PARSE_DTDVALID | XML_PARSE_XINCLUDE;
    options = (options & ~unsafe) | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    return gLibraryLoader(reinterpret_cast<const xmlChar*>(file.c_str()), dict, options, ctxt, type);
}

// libxslt's preferences: writing files, making folders and writing to the
// network are forbidden. While a stylesheet is parsed its includes and
// imports are checked against the policy here, and a refusal fails the
// stylesheet, naming the file. Once it runs, document() reaches the loader
// without a check: the loader refuses quietly (an empty node-set), where a
// refusal here would fail the whole page.
xsltSecurityPrefsPtr PagePrefs(bool running) {
    const auto make = [](bool run) {
        xsltSecurityPrefsPtr p = xsltNewSecurityPrefs();
        if (!run) {
            xsltSetSecurityPrefs(p, XSLT_SECPREF_READ_FILE, &CheckRead);
            xsltSetSecurityPrefs(p, XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
        }
        xsltSetSecurityPrefs(p, XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
        xsltSetSecurityPrefs(p, XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
        xsltSetSecurityPrefs(p, XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
        return p;
    };
    static const xsltSecurityPrefsPtr parsing = make(false), runs = make(true);
    return running ? runs : parsing;
}

// libxml2 and libxslt set up their globals lazily and without locks (the
// parser's tables, the extension registry and its lock, the error handler,
// the loader). Doing it once here, before any transformation, lets any
// number of threads transform their own documents afterwards.
void PrepareXslt() {
    static const bool ready = [] {
        xmlInitParser();
        xsltInitGlobals();
        xsltInit();
        xsltSetGenericErrorFunc(nullptr, &RouteXsltError);
        gLibraryLoader = xsltDocDefaultLoader;
        xsltSetLoaderFunc(&GuardedLoader);
        // Imports and includes are checked against the defaults.
        xsltSetDefaultSecurityPrefs(PagePrefs(false));
        RegisterFeedPageFunctions();
        return true;
    }();
    (void)ready;
}

}  // namespace

XmlDocPtr ReadPageXml(const QString& path, const char* what) {
    PrepareXslt();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(std::string("Cannot open ") + what + " " + path.toStdString() + ": " +
                                 file.errorString().toStdString());
    const QByteArray data = file.readAll();
    file.close();
    xmlResetLastError();
    const QByteArray url = QUrl::fromLocalFile(path).toEncoded();
    XmlDocPtr doc(xmlReadMemory(data.constData(), int(data.size()), url.constData(), nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOCDATA | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!doc)
        throw std::runtime_error(std::string("Cannot read ") + what + " " + path.toStdString() + ": " +
                                 LastXmlError("not well-formed"));
    return doc;
}

QByteArray ApplyPageStylesheet(xmlDoc* feed, const QString& feedPath, const QString& xslPath, const QString& scheme,
                               bool lightPane) {
    PrepareXslt();
    TReadPolicy policy;
    policy.feed = ExistingFile(feedPath.toStdString());
    policy.stylesheet = ExistingFile(xslPath.toStdString());
    policy.folder = policy.stylesheet.parent_path();
    policy.feedDoc = feed;
    const TPolicyScope scope(policy);

    XsltErrorCapture errors;
    XmlDocPtr xslDoc = ReadPageXml(xslPath, "stylesheet");
    StylesheetPtr sheet(xsltParseStylesheetDoc(xslDoc.get()));
    if (!sheet) throw std::runtime_error("Invalid stylesheet " + xslPath.toStdString() + ": " + errors.Text());
    xslDoc.release();  // now owned by the stylesheet

    policy.running = true;
    BeginPageBuild();
    ContextPtr ctxt(xsltNewTransformContext(sheet.get(), feed));
    if (!ctxt || xsltSetCtxtSecurityPrefs(PagePrefs(true), ctxt.get()) != 0)
        throw std::runtime_error("Cannot prepare the stylesheet " + xslPath.toStdString());
    // Only the two known words are passed, quoted as XPath string literals:
    // a parameter is an expression, and nothing else may become one.
    const char* schemeLiteral = scheme == QLatin1String("dark")    ? "'dark'"
                                : scheme == QLatin1String("light") ? "'light'"
                                                                   : nullptr;
    const char* params[5] = {};
    int count = 0;
    if (schemeLiteral) {
        params[count++] = "scheme";
        params[count++] = schemeLiteral;
    }
    if (lightPane) {
        params[count++] = "pane";
        params[count++] = "'light'";
    }
    XmlDocPtr result(xsltApplyStylesheetUser(sheet.get(), feed, params, nullptr, nullptr, ctxt.get()));
    if (!result || ctxt->state == XSLT_STATE_ERROR || ctxt->state == XSLT_STATE_STOPPED)
        throw std::runtime_error("The stylesheet " + xslPath.toStdString() + " failed: " + errors.Text());

    xmlChar* text = nullptr;
    int length = 0;
    if (xsltSaveResultToString(&text, &length, result.get(), sheet.get()) != 0)
        throw std::runtime_error("Cannot write the result of " + xslPath.toStdString());
    result.reset();
    QByteArray html(reinterpret_cast<const char*>(text), length);
    xmlFree(text);
    return html;
}

}  // namespace quillet

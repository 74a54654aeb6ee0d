#include "PageBuild.h"
#include "PageStylesheet.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include <libxml/parser.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "HtmlSanitizer.h"

namespace quillet {
namespace {

// The namespace of <content:encoded>, a feed's full article text.
constexpr char kContentNamespace[] = "http://purl.org/rss/1.0/modules/content/";

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

QByteArray ErrorPage(const QString& path, const QString& message) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Error</title></head><body><h3>" +
           path.toHtmlEscaped().toUtf8() + "</h3><p>" + message.toHtmlEscaped().toUtf8() + "</p></body></html>";
}

void SanitizeFeedMarkup(void* xmlDocument) {
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

bool TransformLocalXml(const QString& path, QByteArray& html, const QString& scheme, TPageTarget target) {
    // Only XML documents are candidates; an HTML page or an image is the
    // pane's business.
    static const QStringList xmlSuffixes{QStringLiteral("xml"), QStringLiteral("rss"), QStringLiteral("rdf"),
                                         QStringLiteral("atom")};
    if (!xmlSuffixes.contains(QFileInfo(path).suffix().toLower())) return false;
    if (!QFileInfo::exists(path)) return false;  // the engine shows its own page for a missing file
    quillet::XmlDocPtr doc = ReadPageXml(path, "file");
    const QString xslPath = StylesheetPath(doc.get(), path);
    if (xslPath.isEmpty()) return false;
    StopIfDropped();
    // What the stylesheet writes out as markup is the feed's HTML: only the
    // allow-listed part of it reaches the page.
    SanitizeFeedMarkup(doc.get());
    StopIfDropped();
    html = ApplyPageStylesheet(doc.get(), path, xslPath, scheme, target == TPageTarget::Light);
    return true;
}

QString StyledPage(const QString& html, const TPageStyle& style, TPageTarget target) {
    QString rules;
    if (!style.FontFamily.trimmed().isEmpty()) {
        QString family = style.FontFamily.trimmed();
        family.remove(QLatin1Char('"')).remove(QLatin1Char('<')).remove(QLatin1Char('\\'));
        rules += QStringLiteral("body { font-family: \"%1\"; }\n").arg(family);
    }
    if (style.FontPointSize > 0) rules += QStringLiteral("body { font-size: %1pt; }\n").arg(style.FontPointSize);
    // The light pane has no max-width: it wraps its lines itself.
    if (style.MaxLineChars > 0 && target == TPageTarget::Engine)
        rules += QStringLiteral("body { max-width: %1ch; }\n").arg(style.MaxLineChars);
    // The user's own rules come last; no markup can come with them.
    rules += QString(style.UserCss).remove(QLatin1Char('<'));
    int headEnd = html.indexOf(QLatin1String("</head>"), 0, Qt::CaseInsensitive);
    QString page = html;
    if (!rules.isEmpty()) {
        const QString block = QStringLiteral("<style type=\"text/css\">\n") + rules + QStringLiteral("</style>");
        if (headEnd < 0) headEnd = 0;
        page.insert(headEnd, block);
        headEnd += block.size();
    }
    // Zoom scales the point sizes of the head's rules: the page's own, the
    // reader's and user.css alike; so does the desktop's font size while
    // the reader chose none.
    double factor = 1.0 + 0.1 * std::clamp(style.Zoom, TPageStyle::kMinZoom, TPageStyle::kMaxZoom);
    if (style.FontPointSize <= 0 && style.DesktopPointSize > 0)
        factor *= std::clamp(style.DesktopPointSize, 4.0, 96.0) / TPageStyle::kPagePointSize;
    if (qFuzzyCompare(factor, 1.0) || headEnd <= 0) return page;
    thread_local const QRegularExpression points(QStringLiteral(R"re((\d+(?:\.\d+)?)pt\b)re"));
    QString head = page.left(headEnd);
    QString zoomed;
    qsizetype last = 0;
    for (auto it = points.globalMatch(head); it.hasNext();) {
        const auto m = it.next();
        zoomed += head.mid(last, m.capturedStart() - last);
        zoomed += QString::number(m.captured(1).toDouble() * factor, 'f', 1) + QStringLiteral("pt");
        last = m.capturedEnd();
    }
    zoomed += head.mid(last);
    return zoomed + page.mid(headEnd);
}

void TPageBuild::ApplyStyle(const TPageStyle& style) {
    if (!FHasPage || style == TPageStyle{}) return;
    FHtml = StyledPage(QString::fromUtf8(FHtml), style, FTarget).toUtf8();
}

void TPageBuild::Run() {
    tBuildDropped = &FDropped;
    const TPageMarksScope marked(&FMarks);
    try {
        QByteArray html;
        if (TransformLocalXml(FPath, html, FScheme, FTarget)) {
            StopIfDropped();
            FHtml = FTarget == TPageTarget::Engine ? WithBase(html, QFileInfo(FPath).absolutePath()) : html;
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

}  // namespace quillet

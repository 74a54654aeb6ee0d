#include "FeedPageFunctions.h"

#include <QTimeZone>

#include <libxml/xpathInternals.h>
#include <libxslt/extensions.h>

#include <mutex>

#include "DateTime.h"

namespace quillet {

namespace {

// local-date(text): one string argument, one string result. A wrong call
// is an XPath error, as for any built-in function.
void LocalDateFunction(xmlXPathParserContextPtr ctxt, int nargs) {
    if (nargs != 1) {
        xmlXPathSetArityError(ctxt);
        return;
    }
    xmlChar* text = xmlXPathPopString(ctxt);
    if (xmlXPathCheckError(ctxt)) {
        if (text) xmlFree(text);
        return;
    }
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(text ? text : BAD_CAST ""));
    if (text) xmlFree(text);
    const QByteArray result = LocalDateText(input).toUtf8();
    valuePush(ctxt, xmlXPathNewString(reinterpret_cast<const xmlChar*>(result.constData())));
}

}  // namespace

void RegisterFeedPageFunctions() {
    static std::once_flag once;
    std::call_once(once, [] {
        xsltRegisterExtModuleFunction(BAD_CAST "local-date", BAD_CAST kFeedPageNamespace, LocalDateFunction);
    });
}

QString LocalDateText(const QString& date, const QLocale& locale, const QTimeZone& zone) {
    const auto parsed = plat::ParseFeedDateTime(date.toStdString());
    if (!parsed) return date;
    const plat::DateTimeParts utc = plat::DecodeDateTime(parsed->Instant());
    const QDateTime instant(QDate(utc.year, utc.month, utc.day), QTime(utc.hour, utc.minute, utc.second),
                            QTimeZone::utc());
    const QDateTime local = instant.toTimeZone(zone);
    return locale.toString(local.date(), QLocale::LongFormat) + QLatin1Char(' ') +
           locale.toString(local.time(), QLocale::ShortFormat);
}

}  // namespace quillet

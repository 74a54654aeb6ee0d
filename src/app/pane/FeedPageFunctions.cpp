#include "FeedPageFunctions.h"

#include <QTimeZone>

#include <libxml/xpathInternals.h>
#include <libxslt/extensions.h>

#include <mutex>
#include <string>

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

// file-name(address): one string argument, one string result.
void FileNameFunction(xmlXPathParserContextPtr ctxt, int nargs) {
    if (nargs != 1) {
        xmlXPathSetArityError(ctxt);
        return;
    }
    xmlChar* text = xmlXPathPopString(ctxt);
    if (xmlXPathCheckError(ctxt)) {
        if (text) xmlFree(text);
        return;
    }
    const std::string result = FileNameText(text ? reinterpret_cast<const char*>(text) : "");
    if (text) xmlFree(text);
    valuePush(ctxt, xmlXPathNewString(reinterpret_cast<const xmlChar*>(result.c_str())));
}

// The last segment of a path, as the stylesheet has always shown it: with
// its slash when the path ends in one ("http://host/dir/" gives "dir/").
std::string_view LastSegment(std::string_view path) {
    const std::size_t last = path.rfind('/');
    if (last == std::string_view::npos) return path;
    if (last + 1 < path.size()) return path.substr(last + 1);
    const std::size_t before = last == 0 ? std::string_view::npos : path.rfind('/', last - 1);
    return before == std::string_view::npos ? path : path.substr(before + 1);
}

}  // namespace

void RegisterFeedPageFunctions() {
    static std::once_flag once;
    std::call_once(once, [] {
        xsltRegisterExtModuleFunction(BAD_CAST "local-date", BAD_CAST kFeedPageNamespace, LocalDateFunction);
        xsltRegisterExtModuleFunction(BAD_CAST "file-name", BAD_CAST kFeedPageNamespace, FileNameFunction);
    });
}

std::string FileNameText(std::string_view address) {
    const std::string_view name = LastSegment(address.substr(0, address.find_first_of("?#")));
    // Cut by characters, never inside one: count the bytes that start one.
    std::size_t end = 0;
    int characters = 0;
    while (end < name.size()) {
        if ((static_cast<unsigned char>(name[end]) & 0xC0) != 0x80 && ++characters > kMaxShownAddress)
            return std::string(name.substr(0, end)) + "\xE2\x80\xA6";  // an ellipsis
        ++end;
    }
    return std::string(name);
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

// Functions the feed page stylesheet (rss.xsl) may call while the program
// renders a stored copy. XSLT 1.0 cannot convert time zones, so the date of
// an item is turned into the reader's own zone and format here.
//
// In the namespace kFeedPageNamespace:
//   local-date(text)  an RFC 822 or ISO date as the reader's local time in
//                     the locale's format; any other text unchanged.
//
// Stored copies keep their raw dates, so another browser shows those (the
// stylesheet asks function-available() first).
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTimeZone>

namespace quillet {

inline constexpr const char* kFeedPageNamespace = "urn:quillet:page";

// Registers the functions with libxslt for every transformation of this
// process; later calls do nothing.
void RegisterFeedPageFunctions();

// What local-date gives: `date` as local time in `locale`'s format, or the
// text unchanged when it is no date. For tests, `zone` names the reader's
// zone.
QString LocalDateText(const QString& date, const QLocale& locale = QLocale(),
                      const QTimeZone& zone = QTimeZone::systemTimeZone());

}  // namespace quillet

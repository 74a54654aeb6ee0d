// Functions the feed page stylesheet (rss.xsl) may call while the program
// renders a stored copy. XSLT 1.0 cannot convert time zones, so the date of
// an item is turned into the reader's own zone and format here.
//
// In the namespace kFeedPageNamespace:
//   local-date(text)  an RFC 822 or ISO date as the reader's local time in
//                     the locale's format; any other text unchanged.
//   file-name(address) the last segment of an address's path (query and
//                     fragment left out), cut to kMaxShownAddress
//                     characters: what an enclosure's link shows. XSLT 1.0
//                     finds it only by recursing once per "/", copying the
//                     rest of the address each time, which a hostile
//                     address turns into gigabytes.
//
// Stored copies keep their raw dates, so another browser shows those (the
// stylesheet asks function-available() first).
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTimeZone>

#include <string_view>

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

// The most characters of an address the page shows as text; longer ones
// end in an ellipsis. The stylesheet's own fallback uses the same figure.
inline constexpr int kMaxShownAddress = 200;

// What file-name gives for `address` (UTF-8): "" when the address has no
// path at all.
std::string FileNameText(std::string_view address);

}  // namespace quillet

// The date-time value of the program: days since 30 December 1899 00:00 as a
// double, the fraction being the time of day, in local time with no zone.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plat {

using TDateTime = double;

// The zero date-time, 30 December 1899 00:00:00.
constexpr TDateTime kZeroDateTime = 0.0;

bool IsValidDate(int year, int month, int day);
bool IsValidTime(int hour, int minute, int second, int millisecond = 0);
// Return false (and leave `out` alone) for an invalid date or time.
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& out);
// Date plus time; raises std::invalid_argument for invalid parts.
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond = 0);

struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    int dayOfWeek = 7;  // 1 = Sunday ... 7 = Saturday
};
// Rounds to the nearest millisecond. A value before 1899-12-30 reads its
// integer part as the day and the fraction's absolute value as the time.
// Raises std::invalid_argument for a value outside 0001-01-01 to
// 9999-12-31 or not a number at all.
DateTimeParts DecodeDateTime(TDateTime value);

// The current local date and time.
TDateTime Now();

// "2026-12-08T14:05:09", for values a person reads in config.xml.
std::string FormatISO8601(TDateTime value);

// A date as a feed wrote it: the clock time as written and the zone it was
// written in. The instant is `clock` less the offset; keeping both means a
// stored copy can say the same time the same way, and still be compared or
// shown in another zone.
struct ZonedDateTime {
    TDateTime clock = kZeroDateTime;
    int offsetMinutes = 0;  // east of UTC
    // The zone in RFC 822 form: "GMT", "UT", "Z", "EST" ... "PDT", "-0000"
    // (no zone information) or "+hhmm".
    std::string zone = "GMT";

    TDateTime Instant() const { return clock - offsetMinutes / (24.0 * 60.0); }
};

// An RFC 822 date-time as feeds write it: "[Sat,] 1 May 2004 10:20[:30]
// [zone]", two- or four-digit years, full or short month names. Zones:
// the RFC 822 names, military letters, +hhmm, and the +hh:mm and common
// abbreviations (CET, BST, JST ...) seen in the wild, which are rewritten
// as +hhmm. A text that is no such date gives nullopt.
std::optional<ZonedDateTime> ParseRFC822DateTime(std::string_view text);
// An RFC 3339 / W3C date-time: "2004-05-01", "2004-05-01T10:20[:30[.25]]",
// then "Z", "+01:00", "+0100" or nothing (taken as UTC); "t", "z" and a
// blank for "T" accepted. Fractions of a second are dropped.
std::optional<ZonedDateTime> ParseRFC3339DateTime(std::string_view text);
// Either form, whichever the text is: feeds put ISO dates in pubDate and
// RFC 822 ones in dc:date.
std::optional<ZonedDateTime> ParseFeedDateTime(std::string_view text);
// The offset of a zone designator in minutes east of UTC; nullopt when the
// text is not one.
std::optional<int> ZoneOffsetMinutes(std::string_view zone);
// A zone designator rewritten as RFC 822 allows: names RFC 822 defines are
// kept, everything else becomes +hhmm ("+01:00" gives "+0100"); an
// unknown name gives "-0000", RFC 5322's "zone not known".
std::string RFC822Zone(std::string_view zone);
// "Sat, 01 May 2004 10:20:30 +0100": English names, as RFC 822 requires.
std::string FormatRFC822(TDateTime clock, std::string_view zone);

}  // namespace plat

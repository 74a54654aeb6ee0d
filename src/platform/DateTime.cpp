#include "DateTime.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <cctype>
#include <stdexcept>

#include "Text.h"

namespace plat {
namespace {

constexpr std::int64_t kMSecsPerDay = 24LL * 60 * 60 * 1000;
// 1899-12-30 counted from 1970-01-01, the epoch of the civil-day helpers.
constexpr std::int64_t kDaysBeforeUnixEpoch = 25569;
// Day numbers of 0001-01-01 and 9999-12-31, the range the value supports.
constexpr std::int64_t kFirstDay = -693593;
constexpr std::int64_t kLastDay = 2958465;

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Proleptic Gregorian calendar arithmetic after Howard Hinnant's
// days_from_civil / civil_from_days: exact for every year, no tables.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

bool IsValidTime(int hour, int minute, int second, int millisecond) {
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 && millisecond >= 0 &&
           millisecond < 1000;
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
    if (!IsValidDate(year, month, day)) {
        return false;
    }
    out = static_cast<TDateTime>(DaysFromCivil(year, month, day) + kDaysBeforeUnixEpoch);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& out) {
    if (!IsValidTime(hour, minute, second, millisecond)) {
        return false;
    }
    const std::int64_t msecs = ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
    out = static_cast<TDateTime>(msecs) / static_cast<TDateTime>(kMSecsPerDay);
    return true;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    TDateTime date = 0;
    if (!TryEncodeDate(year, month, day, date)) {
        throw std::invalid_argument("Invalid argument to date encode");
    }
    TDateTime time = 0;
    if (!TryEncodeTime(hour, minute, second, millisecond, time)) {
        throw std::invalid_argument("Invalid argument to time encode");
    }
    // Before 1899-12-30 the integer part counts days backwards but the
    // fraction still runs forwards through the day: 29 Dec 1899 06:00 is
    // -1.25, not -0.75.
    return date >= 0 ? date + time : date - time;
}

DateTimeParts DecodeDateTime(TDateTime value) {
    // Beyond this no valid date lies, and llround would overflow.
    if (!std::isfinite(value) || std::fabs(value) > static_cast<double>(kLastDay + 1)) {
        throw std::invalid_argument("Invalid date-time value " + std::to_string(value));
    }
    // Round to the nearest millisecond first, so that the parts given to
    // EncodeDateTime come back unchanged despite the binary fraction.
    const std::int64_t msecs = std::llround(value * static_cast<double>(kMSecsPerDay));
    const std::int64_t dayNumber = msecs / kMSecsPerDay;  // truncates towards zero, like the integer part
    std::int64_t timeOfDay = msecs % kMSecsPerDay;
    if (timeOfDay < 0) {
        timeOfDay = -timeOfDay;
    }
    if (dayNumber < kFirstDay || dayNumber > kLastDay) {
        throw std::invalid_argument("Invalid date-time value " + std::to_string(value));
    }

    DateTimeParts parts;
    CivilFromDays(dayNumber - kDaysBeforeUnixEpoch, parts.year, parts.month, parts.day);
    parts.millisecond = static_cast<int>(timeOfDay % 1000);
    timeOfDay /= 1000;
    parts.second = static_cast<int>(timeOfDay % 60);
    timeOfDay /= 60;
    parts.minute = static_cast<int>(timeOfDay % 60);
    parts.hour = static_cast<int>(timeOfDay / 60);
    // Day 0, 30 December 1899, was a Saturday.
    const int weekday = static_cast<int>(((dayNumber % 7) + 7) % 7);
    parts.dayOfWeek = weekday == 0 ? 7 : weekday;
    return parts;
}

TDateTime Now() {
    const auto now = std::chrono::system_clock::now();
    const auto sinceEpoch = now.time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count();
    const std::time_t clock = static_cast<std::time_t>(seconds.count());
    std::tm local{};
    if (localtime_r(&clock, &local) == nullptr) {
        throw std::runtime_error("The local time cannot be determined");
    }
    // A leap second (tm_sec 60) has no place in the value; keep it in the
    // minute it belongs to.
    const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, second,
                          static_cast<int>(millis));
}

std::string FormatISO8601(TDateTime value) {
    const DateTimeParts p = DecodeDateTime(value);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                  p.second);
    return buffer;
}

// ---- Dates as feeds write them ----------------------------------------------
// They come from feed text, so their blanks are XML's (and JSON's).

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kFullMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                           "July",    "August",   "September", "October", "November", "December"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

int MonthFromName(std::string_view name) {
    for (int i = 0; i < 12; ++i)
        if (EqualsNoCase(name, kMonthNames[i]) || EqualsNoCase(name, kFullMonthNames[i])) return i + 1;
    if (EqualsNoCase(name, "Sept")) return 9;
    return 0;
}

struct NamedZone {
    const char* name;
    int minutes;
    bool rfc822;  // a name RFC 822 itself defines, written back as is
};

// The RFC 822 names, then abbreviations feeds use although RFC 822 does
// not know them; only unambiguous ones are listed.
constexpr NamedZone kNamedZones[] = {
    {"GMT", 0, true},     {"UT", 0, true},      {"Z", 0, true},       {"EST", -300, true},   {"EDT", -240, true},
    {"CST", -360, true},  {"CDT", -300, true},  {"MST", -420, true},  {"MDT", -360, true},   {"PST", -480, true},
    {"PDT", -420, true},  {"UTC", 0, false},    {"WET", 0, false},    {"WEST", 60, false},   {"BST", 60, false},
    {"CET", 60, false},   {"CEST", 120, false}, {"MET", 60, false},   {"MEST", 120, false},  {"EET", 120, false},
    {"EEST", 180, false}, {"MSK", 180, false},  {"JST", 540, false},  {"KST", 540, false},   {"HKT", 480, false},
    {"SGT", 480, false},  {"AWST", 480, false}, {"ACST", 570, false}, {"ACDT", 630, false},  {"AEST", 600, false},
    {"AEDT", 660, false}, {"NZST", 720, false}, {"NZDT", 780, false}, {"AKST", -540, false}, {"AKDT", -480, false},
    {"HST", -600, false}, {"NST", -210, false}, {"NDT", -150, false}, {"AST", -240, false},  {"ADT", -180, false},
};

const NamedZone* FindNamedZone(std::string_view zone) {
    for (const NamedZone& named : kNamedZones)
        if (EqualsNoCase(zone, named.name)) return &named;
    return nullptr;
}

// "+hhmm", "+hh:mm" or "+hh"; nullopt for anything else.
std::optional<int> NumericOffset(std::string_view zone) {
    if (zone.size() < 3 || (zone[0] != '+' && zone[0] != '-')) return std::nullopt;
    const int sign = zone[0] == '-' ? -1 : 1;
    std::string digits;
    for (std::size_t i = 1; i < zone.size(); ++i) {
        if (IsDigit(zone[i]))
            digits += zone[i];
        else if (!(zone[i] == ':' && i == 3))
            return std::nullopt;
    }
    if (digits.size() != 2 && digits.size() != 4) return std::nullopt;
    const int hours = (digits[0] - '0') * 10 + (digits[1] - '0');
    const int minutes = digits.size() == 4 ? (digits[2] - '0') * 10 + (digits[3] - '0') : 0;
    if (hours > 23 || minutes > 59) return std::nullopt;
    return sign * (hours * 60 + minutes);
}

bool IsMilitaryLetter(std::string_view zone) {
    return zone.size() == 1 && IsAlpha(zone[0]) && AsciiLower(zone[0]) != 'j';
}

std::string OffsetText(int minutes) {
    char buffer[8];
    const int magnitude = minutes < 0 ? -minutes : minutes;
    std::snprintf(buffer, sizeof buffer, "%c%02d%02d", minutes < 0 ? '-' : '+', magnitude / 60 % 100, magnitude % 60);
    return buffer;
}

std::optional<ZonedDateTime> Compose(int year, int month, int day, int hour, int minute, int second,
                                     std::string_view zone) {
    TDateTime date = 0, time = 0;
    // A leap second is kept in the minute it belongs to.
    if (second == 60) second = 59;
    if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, 0, time)) return std::nullopt;
    const auto offset = ZoneOffsetMinutes(zone);
    if (!offset) return std::nullopt;
    ZonedDateTime result;
    result.clock = date + time;
    result.offsetMinutes = *offset;
    result.zone = RFC822Zone(zone);
    return result;
}

class Scanner {
public:
    explicit Scanner(std::string_view text) : s_(text) {}
    void SkipBlanks() {
        while (pos_ < s_.size() && IsBlank(s_[pos_], Blanks::Xml)) ++pos_;
    }
    bool AtEnd() const { return pos_ >= s_.size(); }
    char Peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
    std::string_view Letters() {
        const auto start = pos_;
        while (pos_ < s_.size() && IsAlpha(s_[pos_])) ++pos_;
        return s_.substr(start, pos_ - start);
    }
    // Between minDigits and maxDigits digits, not followed by another
    // digit; -1 otherwise (the position is then unspecified). No field has
    // more than nine digits, so the value always fits.
    int Digits(std::size_t minDigits, std::size_t maxDigits, std::size_t* count = nullptr) {
        maxDigits = std::min<std::size_t>(maxDigits, 9);
        const auto start = pos_;
        int value = 0;
        while (pos_ < s_.size() && pos_ - start < maxDigits && IsDigit(s_[pos_]))
            value = value * 10 + (s_[pos_++] - '0');
        if (count) *count = pos_ - start;
        if (pos_ - start < minDigits || (pos_ < s_.size() && IsDigit(s_[pos_]))) return -1;
        return value;
    }
    // A run of any length of digits, read for its length only; 0 when
    // there is none.
    std::size_t SkipDigits() {
        const auto start = pos_;
        while (pos_ < s_.size() && IsDigit(s_[pos_])) ++pos_;
        return pos_ - start;
    }
    bool Accept(char c) {
        if (Peek() != c || AtEnd()) return false;
        ++pos_;
        return true;
    }
    std::string_view Rest() const { return s_.substr(pos_ < s_.size() ? pos_ : s_.size()); }
    void Back(std::size_t count) { pos_ = count < pos_ ? pos_ - count : 0; }

private:
    std::string_view s_;
    std::size_t pos_ = 0;
};

// "hh:mm[:ss[.fraction]]" at the scanner; false when it is not well-formed.
// The hour has minHourDigits to two digits. A fraction of a second is read
// and dropped: the stored RFC 822 form has no place for it, so it may have
// any number of digits.
bool ReadClock(Scanner& in, std::size_t minHourDigits, int& hour, int& minute, int& second) {
    hour = in.Digits(minHourDigits, 2);
    if (hour < 0 || !in.Accept(':')) return false;
    minute = in.Digits(2, 2);
    if (minute < 0) return false;
    if (in.Accept(':')) {
        second = in.Digits(2, 2);
        if (second < 0) return false;
        if ((in.Accept('.') || in.Accept(',')) && in.SkipDigits() == 0) return false;
    }
    return true;
}

}  // namespace

std::optional<int> ZoneOffsetMinutes(std::string_view zone) {
    zone = Trim(zone, Blanks::Xml);
    if (zone.empty() || zone == "Z") return 0;
    if (const NamedZone* named = FindNamedZone(zone)) return named->minutes;
    if (IsMilitaryLetter(zone)) return 0;  // their signs were never agreed on: RFC 5322 reads them as unknown
    if (zone[0] == '+' || zone[0] == '-') return NumericOffset(zone);
    for (char c : zone)
        if (!IsAlpha(c)) return std::nullopt;
    return 0;  // an unknown name: the clock time stands, its zone is unknown
}

std::string RFC822Zone(std::string_view zone) {
    zone = Trim(zone, Blanks::Xml);
    if (zone.empty()) return "GMT";
    if (zone == "Z") return "Z";
    if (const NamedZone* named = FindNamedZone(zone)) {
        if (!named->rfc822) return OffsetText(named->minutes);
        std::string name(named->name);
        return name;
    }
    if (const auto offset = NumericOffset(zone)) {
        // "-0000" says "no zone information", which is not the same as +0000.
        if (*offset == 0 && zone[0] == '-') return "-0000";
        return OffsetText(*offset);
    }
    return "-0000";
}

std::optional<ZonedDateTime> ParseRFC822DateTime(std::string_view text) {
    // A trailing comment, "(UTC)" or "(Pacific Standard Time)", says nothing
    // the zone does not.
    if (const auto paren = text.find('('); paren != std::string_view::npos) text = text.substr(0, paren);
    Scanner in(Trim(text, Blanks::Xml));
    if (IsAlpha(in.Peek())) {
        const auto dayName = in.Letters();
        if (MonthFromName(dayName) != 0) {
            in.Back(dayName.size());  // no day name: the date starts with its month
        } else {
            if (dayName.size() < 2) return std::nullopt;
            in.SkipBlanks();
            in.Accept(',');
            in.SkipBlanks();
        }
    }
    int day = in.Digits(1, 2);
    int month = 0;
    if (day < 0) {
        // "May 1, 2004 ..." is seen too.
        month = MonthFromName(in.Letters());
        in.SkipBlanks();
        day = in.Digits(1, 2);
        if (month == 0 || day < 0) return std::nullopt;
        in.Accept(',');
    } else {
        in.SkipBlanks();
        in.Accept('-');  // "01-May-2004"
        in.SkipBlanks();
        month = MonthFromName(in.Letters());
        if (month == 0) return std::nullopt;
        in.Accept('.');
    }
    in.SkipBlanks();
    in.Accept('-');
    in.SkipBlanks();
    std::size_t yearDigits = 0;
    int year = in.Digits(2, 4, &yearDigits);
    if (year < 0 || yearDigits == 3) return std::nullopt;
    if (yearDigits == 2) year += year < 80 ? 2000 : 1900;

    int hour = 0, minute = 0, second = 0;
    in.SkipBlanks();
    in.Accept(',');
    in.SkipBlanks();
    if (IsDigit(in.Peek())) {
        if (!ReadClock(in, 1, hour, minute, second)) return std::nullopt;
        in.SkipBlanks();
    }
    std::string_view zone = Trim(in.Rest(), Blanks::Xml);
    // "GMT+0100" / "UTC-05:00": the offset is what counts.
    if (zone.size() > 3 && (EqualsNoCase(zone.substr(0, 3), "GMT") || EqualsNoCase(zone.substr(0, 3), "UTC")) &&
        (zone[3] == '+' || zone[3] == '-'))
        zone.remove_prefix(3);
    return Compose(year, month, day, hour, minute, second, zone);
}

std::optional<ZonedDateTime> ParseRFC3339DateTime(std::string_view text) {
    Scanner in(Trim(text, Blanks::Xml));
    const int year = in.Digits(4, 4);
    if (year < 0) return std::nullopt;
    int month = 1, day = 1, hour = 0, minute = 0, second = 0;
    if (in.Accept('-')) {
        month = in.Digits(2, 2);
        if (month < 0) return std::nullopt;
        if (in.Accept('-')) {
            day = in.Digits(2, 2);
            if (day < 0) return std::nullopt;
        }
    }
    if (in.Accept('T') || in.Accept('t') || (in.Peek() == ' ' && (in.Accept(' '), IsDigit(in.Peek())))) {
        if (!ReadClock(in, 2, hour, minute, second)) return std::nullopt;
    }
    std::string_view zone = Trim(in.Rest(), Blanks::Xml);
    if (zone == "z") zone = "Z";
    // An ISO zone is an offset or Z; names are not ISO.
    if (!zone.empty() && zone != "Z" && zone[0] != '+' && zone[0] != '-') return std::nullopt;
    return Compose(year, month, day, hour, minute, second, zone);
}

std::optional<ZonedDateTime> ParseFeedDateTime(std::string_view text) {
    const std::string_view trimmed = Trim(text, Blanks::Xml);
    if (trimmed.size() >= 4 && IsDigit(trimmed[0]) && IsDigit(trimmed[1]) && IsDigit(trimmed[2]) && IsDigit(trimmed[3]))
        if (auto iso = ParseRFC3339DateTime(trimmed)) return iso;
    return ParseRFC822DateTime(trimmed);
}

std::string FormatRFC822(TDateTime clock, std::string_view zone) {
    const DateTimeParts p = DecodeDateTime(clock);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04d %02d:%02d:%02d ", kDayNames[p.dayOfWeek - 1], p.day,
                  kMonthNames[p.month - 1], p.year, p.hour, p.minute, p.second);
    return buffer + RFC822Zone(zone);
}

}  // namespace plat

#include "DateTime.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace plat {
namespace {

constexpr std::int64_t kMSecsPerDay = 24LL * 60 * 60 * 1000;
// 1899-12-30 counted from 1970-01-01, the epoch of the civil-day helpers.
constexpr std::int64_t kDaysBeforeUnixEpoch = 25569;
// Day numbers of 0001-01-01 and 9999-12-31, the range the value supports.
constexpr std::int64_t kFirstDay = -693593;
constexpr std::int64_t kLastDay = 2958465;

bool IsLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Proleptic Gregorian calendar arithmetic after Howard Hinnant's
// days_from_civil / civil_from_days: exact for every year, no tables.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(std::int64_t days, int& year, int& month, int& day)
{
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

bool IsValidDate(int year, int month, int day)
{
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

bool IsValidTime(int hour, int minute, int second, int millisecond)
{
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 && millisecond >= 0 &&
           millisecond < 1000;
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out)
{
    if (!IsValidDate(year, month, day)) {
        return false;
    }
    out = static_cast<TDateTime>(DaysFromCivil(year, month, day) + kDaysBeforeUnixEpoch);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& out)
{
    if (!IsValidTime(hour, minute, second, millisecond)) {
        return false;
    }
    const std::int64_t msecs = ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
    out = static_cast<TDateTime>(msecs) / static_cast<TDateTime>(kMSecsPerDay);
    return true;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond)
{
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

DateTimeParts DecodeDateTime(TDateTime value)
{
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

TDateTime Now()
{
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

std::string FormatISO8601(TDateTime value)
{
    const DateTimeParts p = DecodeDateTime(value);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                  p.second);
    return buffer;
}

}  // namespace plat

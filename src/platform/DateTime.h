// The date-time value of the program: days since 30 December 1899 00:00 as a
// double, the fraction being the time of day, in local time with no zone.
#pragma once

#include <string>

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

}  // namespace plat

#include "FeedTypes.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>

#include "Convert.h"
#include "XmlDom.h"

namespace feed {

namespace {

// Blanks and control characters (code 32 and below) do not make a text.
// Nor do characters a stored copy cannot carry: judging the cleaned text
// keeps a required element from being written empty.
bool IsBlankText(const std::string& text) {
    for (unsigned char c : xml::CleanText(text)) {
        if (c > 32) return false;
    }
    return true;
}

std::string OrPlaceholder(const std::string& value, const char* placeholder) {
    return IsBlankText(value) ? std::string(placeholder) : value;
}

template <class T>
void SetFlagged(T& field, T value, bool& modified) {
    if (field == value) return;
    field = std::move(value);
    modified = true;
}

// ---- ISO 8601 -------------------------------------------------------------

// Takes the part of `s` before the first `delimiter` and removes it and the
// delimiter; without the delimiter, takes all of `s`.
std::string CutAt(std::string& s, char delimiter) {
    const auto pos = s.find(delimiter);
    if (pos == std::string::npos) {
        std::string part = std::move(s);
        s.clear();
        return part;
    }
    std::string part = s.substr(0, pos);
    s.erase(0, pos + 1);
    return part;
}

int NumberOrZero(const std::string& part) {
    for (unsigned char c : part) {
        if (!std::isdigit(c)) return 0;
    }
    return plat::TryStrToInt(part).value_or(0);
}

// ---- RFC 822 --------------------------------------------------------------

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kFullDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday",
                                         "Thursday", "Friday", "Saturday"};
constexpr const char* kFullMonthNames[] = {"January", "February", "March", "April",
                                           "May", "June", "July", "August",
                                           "September", "October", "November", "December"};

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// A small scanner over an RFC 822 date: "[Sat,] 1 May 2004 10:20[:30] [zone]".
class RFC822Scanner {
public:
    explicit RFC822Scanner(std::string_view text) : s_(text) {}

    void SkipBlanks() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r' || s_[pos_] == '\n'))
            ++pos_;
    }
    bool AtEnd() const { return pos_ >= s_.size(); }
    std::string_view Letters() {
        const auto start = pos_;
        while (pos_ < s_.size() && std::isalpha(static_cast<unsigned char>(s_[pos_]))) ++pos_;
        return s_.substr(start, pos_ - start);
    }
    // Up to maxDigits digits; -1 when there are none.
    int Digits(std::size_t maxDigits, std::size_t* count = nullptr) {
        const auto start = pos_;
        int value = 0;
        while (pos_ < s_.size() && pos_ - start < maxDigits && std::isdigit(static_cast<unsigned char>(s_[pos_]))) {
            value = value * 10 + (s_[pos_] - '0');
            ++pos_;
        }
        if (count) *count = pos_ - start;
        if (pos_ == start) return -1;
        // A longer number than allowed is not this field.
        if (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) return -1;
        return value;
    }
    bool Accept(char c) {
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    std::size_t Pos() const { return pos_; }
    void SetPos(std::size_t pos) { pos_ = pos; }
    std::string_view Rest() const { return s_.substr(pos_); }

private:
    std::string_view s_;
    std::size_t pos_ = 0;
};

int IndexOfName(std::string_view name, const char* const* shortNames, const char* const* fullNames, int count) {
    for (int i = 0; i < count; ++i) {
        if (EqualsNoCase(name, shortNames[i]) || EqualsNoCase(name, fullNames[i])) return i;
    }
    return -1;
}

// A zone designator: a name ("GMT", "EST", "Z") or a numeric offset.
bool IsZone(std::string_view zone) {
    if (zone.empty()) return true;
    if (zone[0] == '+' || zone[0] == '-') {
        zone.remove_prefix(1);
        if (zone.empty()) return false;
        for (unsigned char c : zone) {
            if (!std::isdigit(c) && c != ':') return false;
        }
        return true;
    }
    for (unsigned char c : zone) {
        if (!std::isalpha(c)) return false;
    }
    return true;
}

// Fields are taken as written and the zone is not applied: a feed's own
// clock is what its readers expect to see. Nullopt for unreadable text.
std::optional<plat::TDateTime> InternetDateToDateTime(std::string_view text) {
    RFC822Scanner in(text);
    in.SkipBlanks();
    const auto afterBlanks = in.Pos();
    const auto dayName = in.Letters();
    if (!dayName.empty()) {
        if (IndexOfName(dayName, kDayNames, kFullDayNames, 7) < 0) return std::nullopt;
        in.SkipBlanks();
        in.Accept(',');
        in.SkipBlanks();
    } else {
        in.SetPos(afterBlanks);
    }
    const int day = in.Digits(2);
    if (day < 0) return std::nullopt;
    in.SkipBlanks();
    in.Accept('-');  // "01-May-2004" is seen in the wild
    in.SkipBlanks();
    const int month = IndexOfName(in.Letters(), kMonthNames, kFullMonthNames, 12) + 1;
    if (month <= 0) return std::nullopt;
    in.SkipBlanks();
    in.Accept('-');
    in.SkipBlanks();
    std::size_t yearDigits = 0;
    int year = in.Digits(4, &yearDigits);
    if (year < 0 || (yearDigits != 2 && yearDigits != 4)) return std::nullopt;
    if (yearDigits == 2) year += year < 80 ? 2000 : 1900;

    int hour = 0, minute = 0, second = 0;
    in.SkipBlanks();
    if (!in.AtEnd() && std::isdigit(static_cast<unsigned char>(in.Rest()[0]))) {
        hour = in.Digits(2);
        if (hour < 0 || !in.Accept(':')) return std::nullopt;
        minute = in.Digits(2);
        if (minute < 0) return std::nullopt;
        if (in.Accept(':')) {
            second = in.Digits(2);
            if (second < 0) return std::nullopt;
        }
        in.SkipBlanks();
    }
    std::string_view zone = in.Rest();
    while (!zone.empty() && std::isspace(static_cast<unsigned char>(zone.back()))) zone.remove_suffix(1);
    if (!IsZone(zone)) return std::nullopt;

    plat::TDateTime date = 0, time = 0;
    if (!plat::TryEncodeDate(year, month, day, date)) return std::nullopt;
    if (!plat::TryEncodeTime(hour, minute, second, 0, time)) return std::nullopt;
    return date + time;
}

}  // namespace

// ---- TRFC822DateTime ------------------------------------------------------

TRFC822DateTime::TRFC822DateTime() : FDateTime(plat::Now()) {}

void TRFC822DateTime::SetDateTime(plat::TDateTime value) { SetFlagged(FDateTime, value, FModified); }

void TRFC822DateTime::SetTimeZone(const std::string& value) { SetFlagged(FTimeZone, value, FModified); }

void TRFC822DateTime::StampNow() { FDateTime = plat::Now(); }

void TRFC822DateTime::ParseISO8601(const std::string& text) {
    std::string s = text;
    const int year = NumberOrZero(CutAt(s, '-'));
    const int month = s.empty() ? 0 : NumberOrZero(CutAt(s, '-'));
    const int day = s.empty() ? 0 : NumberOrZero(CutAt(s, 'T'));
    const int hour = s.empty() ? 0 : NumberOrZero(CutAt(s, ':'));
    const int minute = s.empty() ? 0 : NumberOrZero(CutAt(s, ':'));
    int second = 0;
    if (!s.empty()) {
        second = NumberOrZero(s.substr(0, 2));
        s.erase(0, 2);
    }
    // Whatever follows the seconds is the zone as written ("Z", "+01:00").
    if (!s.empty()) FTimeZone = s;

    plat::TDateTime date = 0, time = 0;
    if (plat::TryEncodeDate(year, month, day, date) && plat::TryEncodeTime(hour, minute, second, 0, time))
        SetDateTime(date + time);
    else
        SetDateTime(plat::Now());
}

void TRFC822DateTime::ParseRFC822(const std::string& text) {
    SetDateTime(InternetDateToDateTime(text).value_or(plat::kZeroDateTime));
}

std::string TRFC822DateTime::ToRFC822() const {
    const plat::DateTimeParts p = plat::DecodeDateTime(FDateTime);
    const int weekday = (p.dayOfWeek >= 1 && p.dayOfWeek <= 7) ? p.dayOfWeek - 1 : 0;
    const int month = (p.month >= 1 && p.month <= 12) ? p.month - 1 : 0;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04d %02d:%02d:%02d", kDayNames[weekday], p.day,
                  kMonthNames[month], p.year, p.hour, p.minute, p.second);
    return std::string(buffer) + " " + FTimeZone;
}

// ---- Required texts -------------------------------------------------------

std::string TRSSChannelReq::Title() const { return OrPlaceholder(FTitle, "Title Required"); }
std::string TRSSChannelReq::Link() const { return OrPlaceholder(FLink, "Link Required"); }
std::string TRSSChannelReq::Desc() const { return OrPlaceholder(FDesc, "Description Required"); }

std::string TRSSImageReq::URL() const { return OrPlaceholder(FURL, "URL Required"); }
std::string TRSSImageReq::Title() const { return OrPlaceholder(FTitle, "Title Required"); }
std::string TRSSImageReq::Link() const { return OrPlaceholder(FLink, "Link Required"); }

// ---- Optional values ------------------------------------------------------

void TRSSImageOpt::SetWidth(int value) {
    if (value == FWidth) return;
    FWidth = value < 0 ? 0 : (value > kMaxWidth ? kMaxWidth : value);
    FWidthModified = true;
}

void TRSSImageOpt::SetHeight(int value) {
    if (value == FHeight) return;
    FHeight = value < 0 ? 0 : (value > kMaxHeight ? kMaxHeight : value);
    FHeightModified = true;
}

void TRSSImageOpt::SetDescription(const std::string& value) {
    SetFlagged(FDescription, value, FDescriptionModified);
}

void TRSSChannelCategory::SetDomain(const std::string& value) { SetFlagged(FDomain, value, FDomainModified); }
void TRSSItemCategory::SetDomain(const std::string& value) { SetFlagged(FDomain, value, FDomainModified); }

bool TRSSChannelSkipHours::Hour(int hour) const {
    return hour >= 0 && hour < 24 && FHours[static_cast<std::size_t>(hour)];
}

void TRSSChannelSkipHours::SetHour(int hour, bool value) {
    if (hour >= 0 && hour < 24) FHours[static_cast<std::size_t>(hour)] = value;
}

bool TRSSChannelSkipHours::Any() const {
    for (bool set : FHours) {
        if (set) return true;
    }
    return false;
}

const char* TRSSChannelSkipDays::DayName(int day) {
    static constexpr const char* kNames[] = {"Monday", "Tuesday", "Wednesday", "Thursday",
                                             "Friday", "Saturday", "Sunday"};
    return day >= 0 && day < kDayCount ? kNames[day] : "";
}

bool TRSSChannelSkipDays::Day(int day) const {
    return day >= 0 && day < kDayCount && FDays[static_cast<std::size_t>(day)];
}

void TRSSChannelSkipDays::SetDay(int day, bool value) {
    if (day >= 0 && day < kDayCount) FDays[static_cast<std::size_t>(day)] = value;
}

bool TRSSChannelSkipDays::Any() const {
    for (bool set : FDays) {
        if (set) return true;
    }
    return false;
}

void TRSSChannelOpt::SetCopyright(const std::string& value) { SetFlagged(FCopyright, value, FCopyrightModified); }
void TRSSChannelOpt::SetManagingEditor(const std::string& value) {
    SetFlagged(FManagingEditor, value, FManagingEditorModified);
}
void TRSSChannelOpt::SetWebMaster(const std::string& value) { SetFlagged(FWebMaster, value, FWebMasterModified); }
void TRSSChannelOpt::SetGenerator(const std::string& value) { SetFlagged(FGenerator, value, FGeneratorModified); }
void TRSSChannelOpt::SetRating(const std::string& value) { SetFlagged(FRating, value, FRatingModified); }

void TRSSChannelOpt::SetTTL(int value) {
    if (value == FTTL) return;
    FTTL = value <= 0 ? 0 : value;
    FTTLModified = true;
}

void TRSSItem::SetTitle(std::string value) { SetFlagged(FTitle, std::move(value), FTitleModified); }
void TRSSItem::SetLink(std::string value) { SetFlagged(FLink, std::move(value), FLinkModified); }
void TRSSItem::SetDescription(std::string value) { SetFlagged(FDescription, std::move(value), FDescriptionModified); }
void TRSSItem::SetComments(std::string value) { SetFlagged(FComments, std::move(value), FCommentsModified); }

}  // namespace feed

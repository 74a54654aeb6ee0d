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

}  // namespace

// ---- TRFC822DateTime ------------------------------------------------------

TRFC822DateTime::TRFC822DateTime() : FDateTime(plat::Now()) {}

void TRFC822DateTime::SetDateTime(plat::TDateTime value) { SetFlagged(FDateTime, value, FModified); }

void TRFC822DateTime::SetTimeZone(const std::string& value) {
    SetFlagged(FTimeZone, plat::RFC822Zone(value), FModified);
    FOffsetMinutes = plat::ZoneOffsetMinutes(value).value_or(0);
}

void TRFC822DateTime::StampNow() { FDateTime = plat::Now(); }

void TRFC822DateTime::Take(const plat::ZonedDateTime& date) {
    FDateTime = date.clock;
    FTimeZone = date.zone;
    FOffsetMinutes = date.offsetMinutes;
    FModified = true;
}

void TRFC822DateTime::ParseISO8601(const std::string& text) {
    if (auto date = plat::ParseFeedDateTime(text)) Take(*date);
}

void TRFC822DateTime::ParseRFC822(const std::string& text) {
    if (auto date = plat::ParseRFC822DateTime(text))
        Take(*date);
    else if (auto iso = plat::ParseFeedDateTime(text))
        Take(*iso);
}

std::string TRFC822DateTime::ToRFC822() const { return plat::FormatRFC822(FDateTime, FTimeZone); }

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

void TRSSImageOpt::SetDescription(const std::string& value) { SetFlagged(FDescription, value, FDescriptionModified); }

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
    static constexpr const char* kNames[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
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
void TRSSItem::SetContent(std::string value) { SetFlagged(FContent, std::move(value), FContentModified); }
void TRSSItem::SetComments(std::string value) { SetFlagged(FComments, std::move(value), FCommentsModified); }

}  // namespace feed

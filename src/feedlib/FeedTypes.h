// The format-independent feed model: one channel and an ordered list of
// items, shaped after RSS 2.0. The RSS, RDF and Atom parsers fill it, the
// RSS 2.0 generator writes it out, and the update cycle reads titles from it.
//
// Optional values carry "Modified" flags: a setter raises the flag only when
// the new value differs from the current one, and nothing ever lowers it.
// The generator writes an optional element only when its flag (or the
// "Include" flag of a sub-structure) is raised, so defaults never leak into
// stored copies.
//
// Ownership: every object owns its sub-objects for its whole life; getters
// of sub-objects return references that stay valid as long as the owner.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "DateTime.h"

namespace feed {

// The format of the loaded document; xtJSON is a JSON Feed, which leaves
// no XML document behind.
enum TXMLType { xtRDF, xtRSS, xtAtom, xtJSON };

enum TContentType { ctText, ctHTML, ctXHTML };

// The RSS language codes. The code text of each value is its name without
// "lang", lower case, "_" as "-"; langZH_CN is "za-cn" (a quirk stored
// copies carry), and langX stands for any code not in the table.
enum TLanguages {
    langAF,
    langSQ,
    langEU,
    langBE,
    langBG,
    langCA,
    langZH_CN,
    langZH_TW,
    langHR,
    langCS,
    langDA,
    langNL,
    langNL_BE,
    langNL_NL,
    langEN,
    langEN_AU,
    langEN_BZ,
    langEN_CA,
    langEN_IE,
    langEN_JM,
    langEN_NZ,
    langEN_PH,
    langEN_ZA,
    langEN_TT,
    langEN_GB,
    langEN_US,
    langEN_ZW,
    langET,
    langFO,
    langFI,
    langFR,
    langFR_BE,
    langFR_CA,
    langFR_FR,
    langFR_LU,
    langFR_MC,
    langFR_CH,
    langGL,
    langGD,
    langDE,
    langDE_AT,
    langDE_DE,
    langDE_LI,
    langDE_LU,
    langDE_CH,
    langEL,
    langHAW,
    langHU,
    langIS,
    langIN,
    langGA,
    langIT,
    langIT_IT,
    langIT_CH,
    langJA,
    langKO,
    langMK,
    langNO,
    langPL,
    langPT,
    langPT_BR,
    langPT_PT,
    langRO,
    langRO_MO,
    langRO_RP,
    langRU,
    langRU_MO,
    langRU_RU,
    langSR,
    langSK,
    langSL,
    langES,
    langES_AR,
    langES_BO,
    langES_CL,
    langES_CO,
    langES_CR,
    langES_DO,
    langES_EC,
    langES_SV,
    langES_GT,
    langES_HN,
    langES_MX,
    langES_NI,
    langES_PA,
    langES_PY,
    langES_PE,
    langES_PR,
    langES_ES,
    langES_UY,
    langES_VE,
    langSV,
    langSV_FI,
    langSV_SE,
    langTR,
    langUK,
    langX
};

// A date-time value with the zone it was written in. The clock time is
// kept as written and the zone beside it, so a stored copy says the same
// instant the same way and a reader can show it in its own zone.
class TRFC822DateTime {
public:
    TRFC822DateTime();  // the current local date-time, zone "GMT"

    // The clock time as written, in the zone below.
    plat::TDateTime DateTime() const { return FDateTime; }
    void SetDateTime(plat::TDateTime value);
    // The zone in RFC 822 form ("GMT", "PST", "+0100").
    const std::string& TimeZone() const { return FTimeZone; }
    // Any zone designator; ISO offsets are rewritten as RFC 822 allows.
    void SetTimeZone(const std::string& value);
    int OffsetMinutes() const { return FOffsetMinutes; }
    // The instant, as a UTC clock time.
    plat::TDateTime UTC() const { return FDateTime - FOffsetMinutes / (24.0 * 60.0); }
    // Raised once a document (or a caller) gave the date: only such dates
    // are stored.
    bool Modified() const { return FModified; }
    // Sets the current local date-time as a default, leaving Modified as it
    // is: a date a document did not give is shown but never stored.
    void StampNow();

    // Both read either form, as feeds mix them up, and never fail: a text
    // that is no date leaves the value as it was, so an unreadable date is
    // not stored at all.
    void ParseISO8601(const std::string& text);
    void ParseRFC822(const std::string& text);
    // "Sat, 01 May 2004 10:20:30 +0100": English names whatever the
    // locale, because RSS readers only understand those.
    std::string ToRFC822() const;

private:
    void Take(const plat::ZonedDateTime& date);

    plat::TDateTime FDateTime;
    std::string FTimeZone = "GMT";
    int FOffsetMinutes = 0;
    bool FModified = false;
};

// Required channel texts. Getters return a placeholder for a text that is
// empty once blanks and control characters are trimmed, else the stored
// text untrimmed.
class TRSSChannelReq {
public:
    std::string Title() const;
    void SetTitle(const std::string& value) { FTitle = value; }
    std::string Link() const;
    void SetLink(const std::string& value) { FLink = value; }
    std::string Desc() const;
    void SetDesc(const std::string& value) { FDesc = value; }

private:
    std::string FTitle, FLink, FDesc;
};

class TRSSImageReq {
public:
    std::string URL() const;
    void SetURL(const std::string& value) { FURL = value; }
    std::string Title() const;
    void SetTitle(const std::string& value) { FTitle = value; }
    std::string Link() const;
    void SetLink(const std::string& value) { FLink = value; }

private:
    std::string FURL, FTitle, FLink;
};

class TRSSImageOpt {
public:
    static constexpr int kMaxWidth = 144;
    static constexpr int kMaxHeight = 400;

    int Width() const { return FWidth; }
    void SetWidth(int value);  // clamped to 0..144
    int Height() const { return FHeight; }
    void SetHeight(int value);  // clamped to 0..400
    const std::string& Description() const { return FDescription; }
    void SetDescription(const std::string& value);

    bool WidthModified() const { return FWidthModified; }
    bool HeightModified() const { return FHeightModified; }
    bool DescriptionModified() const { return FDescriptionModified; }

private:
    int FWidth = 0;
    int FHeight = 0;
    std::string FDescription;
    bool FWidthModified = false;
    bool FHeightModified = false;
    bool FDescriptionModified = false;
};

class TRSSImage {
public:
    bool Include() const { return FInclude; }
    void SetInclude(bool value) { FInclude = value; }
    TRSSImageReq& Required() { return FRequired; }
    const TRSSImageReq& Required() const { return FRequired; }
    TRSSImageOpt& Optional() { return FOptional; }
    const TRSSImageOpt& Optional() const { return FOptional; }

private:
    bool FInclude = false;
    TRSSImageReq FRequired;
    TRSSImageOpt FOptional;
};

class TRSSCloud {
public:
    const std::string& Domain() const { return FDomain; }
    void SetDomain(const std::string& value) { FDomain = value; }
    int Port() const { return FPort; }
    void SetPort(int value) { FPort = value > 1 ? value : 1; }
    const std::string& Path() const { return FPath; }
    void SetPath(const std::string& value) { FPath = value; }
    const std::string& RegisterProcedure() const { return FRegisterProcedure; }
    void SetRegisterProcedure(const std::string& value) { FRegisterProcedure = value; }
    const std::string& Protocol() const { return FProtocol; }
    void SetProtocol(const std::string& value) { FProtocol = value; }
    bool Include() const { return FInclude; }
    void SetInclude(bool value) { FInclude = value; }

private:
    std::string FDomain;
    int FPort = 0;
    std::string FPath, FRegisterProcedure, FProtocol;
    bool FInclude = false;
};

class TRSSTextInput {
public:
    const std::string& Title() const { return FTitle; }
    void SetTitle(const std::string& value) { FTitle = value; }
    const std::string& Description() const { return FDescription; }
    void SetDescription(const std::string& value) { FDescription = value; }
    const std::string& TextInputName() const { return FTextInputName; }
    void SetTextInputName(const std::string& value) { FTextInputName = value; }
    const std::string& Link() const { return FLink; }
    void SetLink(const std::string& value) { FLink = value; }
    bool Include() const { return FInclude; }
    void SetInclude(bool value) { FInclude = value; }

private:
    std::string FTitle, FDescription, FTextInputName, FLink;
    bool FInclude = false;
};

// An ordered collection that only grows. Items live on the heap so that
// references returned by Add and Items stay valid while more are added.
template <class TItem, class TOwner>
class TOwnedCollection {
public:
    explicit TOwnedCollection(TOwner* owner) : FOwner(owner) {}
    TOwnedCollection(const TOwnedCollection&) = delete;
    TOwnedCollection& operator=(const TOwnedCollection&) = delete;

    TItem& Add() {
        FItems.push_back(std::make_unique<TItem>(this));
        return *FItems.back();
    }
    int Count() const { return static_cast<int>(FItems.size()); }
    TItem& Items(int index) { return *FItems.at(static_cast<std::size_t>(index)); }
    const TItem& Items(int index) const { return *FItems.at(static_cast<std::size_t>(index)); }
    TItem& operator[](int index) { return Items(index); }
    const TItem& operator[](int index) const { return Items(index); }
    TOwner* Owner() const { return FOwner; }

private:
    TOwner* FOwner;
    std::vector<std::unique_ptr<TItem>> FItems;
};

class TRSSChannelOpt;
class TRSSChannelCategory;
using TRSSChannelCategories = TOwnedCollection<TRSSChannelCategory, TRSSChannelOpt>;

class TRSSChannelCategory {
public:
    explicit TRSSChannelCategory(TRSSChannelCategories* collection) : FCollection(collection) {}
    TRSSChannelCategories* Collection() const { return FCollection; }

    const std::string& Category() const { return FCategory; }
    void SetCategory(const std::string& value) { FCategory = value; }
    const std::string& Domain() const { return FDomain; }
    void SetDomain(const std::string& value);
    bool DomainModified() const { return FDomainModified; }

private:
    TRSSChannelCategories* FCollection;
    std::string FCategory, FDomain;
    bool FDomainModified = false;
};

// The hours (0..23) in which aggregators may skip polling.
class TRSSChannelSkipHours {
public:
    bool Hour(int hour) const;           // false outside 0..23
    void SetHour(int hour, bool value);  // ignored outside 0..23
    bool Any() const;

    bool h01() const { return Hour(1); }
    void Seth01(bool v) { SetHour(1, v); }
    bool h02() const { return Hour(2); }
    void Seth02(bool v) { SetHour(2, v); }
    bool h03() const { return Hour(3); }
    void Seth03(bool v) { SetHour(3, v); }
    bool h04() const { return Hour(4); }
    void Seth04(bool v) { SetHour(4, v); }
    bool h05() const { return Hour(5); }
    void Seth05(bool v) { SetHour(5, v); }
    bool h06() const { return Hour(6); }
    void Seth06(bool v) { SetHour(6, v); }
    bool h07() const { return Hour(7); }
    void Seth07(bool v) { SetHour(7, v); }
    bool h08() const { return Hour(8); }
    void Seth08(bool v) { SetHour(8, v); }
    bool h09() const { return Hour(9); }
    void Seth09(bool v) { SetHour(9, v); }
    bool h10() const { return Hour(10); }
    void Seth10(bool v) { SetHour(10, v); }
    bool h11() const { return Hour(11); }
    void Seth11(bool v) { SetHour(11, v); }
    bool h12() const { return Hour(12); }
    void Seth12(bool v) { SetHour(12, v); }
    bool h13() const { return Hour(13); }
    void Seth13(bool v) { SetHour(13, v); }
    bool h14() const { return Hour(14); }
    void Seth14(bool v) { SetHour(14, v); }
    bool h15() const { return Hour(15); }
    void Seth15(bool v) { SetHour(15, v); }
    bool h16() const { return Hour(16); }
    void Seth16(bool v) { SetHour(16, v); }
    bool h17() const { return Hour(17); }
    void Seth17(bool v) { SetHour(17, v); }
    bool h18() const { return Hour(18); }
    void Seth18(bool v) { SetHour(18, v); }
    bool h19() const { return Hour(19); }
    void Seth19(bool v) { SetHour(19, v); }
    bool h20() const { return Hour(20); }
    void Seth20(bool v) { SetHour(20, v); }
    bool h21() const { return Hour(21); }
    void Seth21(bool v) { SetHour(21, v); }
    bool h22() const { return Hour(22); }
    void Seth22(bool v) { SetHour(22, v); }
    bool h23() const { return Hour(23); }
    void Seth23(bool v) { SetHour(23, v); }
    bool h00() const { return Hour(0); }
    void Seth00(bool v) { SetHour(0, v); }

private:
    std::array<bool, 24> FHours{};
};

// The days on which aggregators may skip polling; index 0 is Monday.
class TRSSChannelSkipDays {
public:
    static constexpr int kDayCount = 7;
    // "Monday" ... "Sunday", the texts feeds use.
    static const char* DayName(int day);

    bool Day(int day) const;           // false outside 0..6
    void SetDay(int day, bool value);  // ignored outside 0..6
    bool Any() const;

    bool Monday() const { return Day(0); }
    void SetMonday(bool v) { SetDay(0, v); }
    bool Tuesday() const { return Day(1); }
    void SetTuesday(bool v) { SetDay(1, v); }
    bool Wednesday() const { return Day(2); }
    void SetWednesday(bool v) { SetDay(2, v); }
    bool Thursday() const { return Day(3); }
    void SetThursday(bool v) { SetDay(3, v); }
    bool Friday() const { return Day(4); }
    void SetFriday(bool v) { SetDay(4, v); }
    bool Saturday() const { return Day(5); }
    void SetSaturday(bool v) { SetDay(5, v); }
    bool Sunday() const { return Day(6); }
    void SetSunday(bool v) { SetDay(6, v); }

private:
    std::array<bool, kDayCount> FDays{};
};

class TRSSChannelOpt {
public:
    // Where RSS 2.0 is documented; the default of the docs element.
    static constexpr const char* kDefaultDocs = "https://www.rssboard.org/rss-specification";

    TRSSChannelOpt() : FCategories(this) {}
    TRSSChannelOpt(const TRSSChannelOpt&) = delete;
    TRSSChannelOpt& operator=(const TRSSChannelOpt&) = delete;

    TLanguages Language() const { return FLanguage; }
    void SetLanguage(TLanguages value) { FLanguage = value; }
    // The language code text when Language is langX.
    const std::string& XLang() const { return FXLang; }
    void SetXLang(const std::string& value) { FXLang = value; }
    const std::string& Copyright() const { return FCopyright; }
    void SetCopyright(const std::string& value);
    const std::string& ManagingEditor() const { return FManagingEditor; }
    void SetManagingEditor(const std::string& value);
    const std::string& WebMaster() const { return FWebMaster; }
    void SetWebMaster(const std::string& value);
    TRFC822DateTime& PubDate() { return FPubDate; }
    const TRFC822DateTime& PubDate() const { return FPubDate; }
    TRFC822DateTime& LastBuildDate() { return FLastBuildDate; }
    const TRFC822DateTime& LastBuildDate() const { return FLastBuildDate; }
    TRSSChannelCategories& Categories() { return FCategories; }
    const TRSSChannelCategories& Categories() const { return FCategories; }
    const std::string& Generator() const { return FGenerator; }
    void SetGenerator(const std::string& value);
    const std::string& Docs() const { return FDocs; }
    void SetDocs(const std::string& value) { FDocs = value; }
    TRSSCloud& Cloud() { return FCloud; }
    const TRSSCloud& Cloud() const { return FCloud; }
    int TTL() const { return FTTL; }
    void SetTTL(int value);  // 0 or less is stored as 0
    TRSSImage& Image() { return FImage; }
    const TRSSImage& Image() const { return FImage; }
    const std::string& Rating() const { return FRating; }
    void SetRating(const std::string& value);
    TRSSTextInput& TextInput() { return FTextInput; }
    const TRSSTextInput& TextInput() const { return FTextInput; }
    TRSSChannelSkipHours& SkipHours() { return FSkipHours; }
    const TRSSChannelSkipHours& SkipHours() const { return FSkipHours; }
    TRSSChannelSkipDays& SkipDays() { return FSkipDays; }
    const TRSSChannelSkipDays& SkipDays() const { return FSkipDays; }

    bool CopyrightModified() const { return FCopyrightModified; }
    bool ManagingEditorModified() const { return FManagingEditorModified; }
    bool WebMasterModified() const { return FWebMasterModified; }
    bool TTLModified() const { return FTTLModified; }
    bool GeneratorModified() const { return FGeneratorModified; }
    bool RatingModified() const { return FRatingModified; }

private:
    TLanguages FLanguage = langEN;
    std::string FXLang;
    std::string FCopyright, FManagingEditor, FWebMaster;
    TRFC822DateTime FPubDate, FLastBuildDate;
    TRSSChannelCategories FCategories;
    std::string FGenerator;
    std::string FDocs = kDefaultDocs;
    TRSSCloud FCloud;
    int FTTL = 60;
    TRSSImage FImage;
    std::string FRating;
    TRSSTextInput FTextInput;
    TRSSChannelSkipHours FSkipHours;
    TRSSChannelSkipDays FSkipDays;
    bool FCopyrightModified = false;
    bool FManagingEditorModified = false;
    bool FWebMasterModified = false;
    bool FTTLModified = false;
    bool FGeneratorModified = false;
    bool FRatingModified = false;
};

class TRSSChannel {
public:
    TRSSChannelReq& Required() { return FRequired; }
    const TRSSChannelReq& Required() const { return FRequired; }
    TRSSChannelOpt& Optional() { return FOptional; }
    const TRSSChannelOpt& Optional() const { return FOptional; }

private:
    TRSSChannelReq FRequired;
    TRSSChannelOpt FOptional;
};

// Plain fields: parsers write them directly.
struct TRSSAuthor {
    std::string Name;
    std::string EMail;
    std::string URL;
};

class TRSSItemEnclosure {
public:
    const std::string& URL() const { return FURL; }
    void SetURL(const std::string& value) { FURL = value; }
    int Length() const { return FLength; }
    void SetLength(int value) { FLength = value; }
    // The MIME type.
    const std::string& EnclosureType() const { return FEnclosureType; }
    void SetEnclosureType(const std::string& value) { FEnclosureType = value; }
    bool Include() const { return FInclude; }
    void SetInclude(bool value) { FInclude = value; }

private:
    std::string FURL;
    int FLength = 0;
    std::string FEnclosureType;
    bool FInclude = false;
};

class TRSSItemGUID {
public:
    const std::string& GUID() const { return FGUID; }
    void SetGUID(const std::string& value) { FGUID = value; }
    bool IsPermaLink() const { return FIsPermaLink; }
    void SetIsPermaLink(bool value) { FIsPermaLink = value; }
    bool Include() const { return FInclude; }
    void SetInclude(bool value) { FInclude = value; }

private:
    std::string FGUID;
    bool FIsPermaLink = false;
    bool FInclude = false;
};

class TRSSItemSource {
public:
    const std::string& Title() const { return FTitle; }
    void SetTitle(const std::string& value) { FTitle = value; }
    const std::string& URL() const { return FURL; }
    void SetURL(const std::string& value) { FURL = value; }
    bool Include() const { return FInclude; }
    void SetInclude(bool value) { FInclude = value; }

private:
    std::string FTitle, FURL;
    bool FInclude = false;
};

class TRSSItem;
class TRSSItemCategory;
using TRSSItemCategories = TOwnedCollection<TRSSItemCategory, TRSSItem>;

class TRSSItemCategory {
public:
    explicit TRSSItemCategory(TRSSItemCategories* collection) : FCollection(collection) {}
    TRSSItemCategories* Collection() const { return FCollection; }

    const std::string& Title() const { return FTitle; }
    void SetTitle(const std::string& value) { FTitle = value; }
    const std::string& Domain() const { return FDomain; }
    void SetDomain(const std::string& value);
    bool DomainModified() const { return FDomainModified; }

private:
    TRSSItemCategories* FCollection;
    std::string FTitle, FDomain;
    bool FDomainModified = false;
};

class TFeedDocument;
using TRSSItems = TOwnedCollection<TRSSItem, TFeedDocument>;

class TRSSItem {
public:
    explicit TRSSItem(TRSSItems* collection) : FCollection(collection), FCategories(this) {}
    TRSSItem(const TRSSItem&) = delete;
    TRSSItem& operator=(const TRSSItem&) = delete;
    TRSSItems* Collection() const { return FCollection; }

    const std::string& Title() const { return FTitle; }
    void SetTitle(std::string value);
    const std::string& Link() const { return FLink; }
    void SetLink(std::string value);
    const std::string& Description() const { return FDescription; }
    void SetDescription(std::string value);
    // The full body (content:encoded, Atom content) where the feed gives
    // one beside a shorter Description; empty when Description is already
    // the whole body.
    const std::string& Content() const { return FContent; }
    void SetContent(std::string value);
    // What a reader shows: the full body when there is one.
    const std::string& Body() const { return FContent.empty() ? FDescription : FContent; }
    TRSSAuthor& Author() { return FAuthor; }
    const TRSSAuthor& Author() const { return FAuthor; }
    TRSSItemCategories& Categories() { return FCategories; }
    const TRSSItemCategories& Categories() const { return FCategories; }
    const std::string& Comments() const { return FComments; }
    void SetComments(std::string value);
    TRSSItemEnclosure& Enclosure() { return FEnclosure; }
    const TRSSItemEnclosure& Enclosure() const { return FEnclosure; }
    TRSSItemGUID& GUID() { return FGUID; }
    const TRSSItemGUID& GUID() const { return FGUID; }
    TRFC822DateTime& PubDate() { return FPubDate; }
    const TRFC822DateTime& PubDate() const { return FPubDate; }
    TRSSItemSource& Source() { return FSource; }
    const TRSSItemSource& Source() const { return FSource; }
    TContentType ContentType() const { return FContentType; }
    void SetContentType(TContentType value) { FContentType = value; }

    bool TitleModified() const { return FTitleModified; }
    bool LinkModified() const { return FLinkModified; }
    bool DescriptionModified() const { return FDescriptionModified; }
    bool CommentsModified() const { return FCommentsModified; }
    bool ContentModified() const { return FContentModified; }
    // Gates the author element in stored copies. The parsers fill Author's
    // fields directly and raise it once a name was read.
    bool AuthorModified() const { return FAuthorModified; }
    void SetAuthorModified() { FAuthorModified = true; }

private:
    TRSSItems* FCollection;
    std::string FComments;
    TRSSAuthor FAuthor;
    std::string FLink, FDescription, FTitle;
    TRFC822DateTime FPubDate;
    TRSSItemEnclosure FEnclosure;
    TRSSItemGUID FGUID;
    TRSSItemSource FSource;
    bool FCommentsModified = false;
    bool FAuthorModified = false;
    bool FTitleModified = false;
    bool FLinkModified = false;
    bool FDescriptionModified = false;
    std::string FContent;
    bool FContentModified = false;
    TRSSItemCategories FCategories;
    TContentType FContentType = ctText;
};

}  // namespace feed

// Routines the parsers share: the language code table in both directions,
// the skip-hours and skip-days readers, the content decoder, and the title
// form the update cycle compares.
#pragma once

#include <string>
#include <string_view>

#include "FeedTypes.h"
#include "XmlDom.h"

namespace feed {

class TFeedDocument;

// The value whose code text equals `code` exactly (case-sensitive, no
// trimming); langX when none does.
TLanguages LanguageFromCode(const std::string& code);
// The code text of langAF..langUK ("en-us", "za-cn"); "" for langX.
std::string LanguageCode(TLanguages language);

// Every child of `element`, whatever its name, whose text is exactly "0"
// ... "23" sets that hour of the channel's SkipHours. Hours are only set.
void ReadSkipHours(const xml::Node& element, TFeedDocument& rss);
// The same for "Monday" ... "Sunday" (case-sensitive) and SkipDays.
void ReadSkipDays(const xml::Node& element, TFeedDocument& rss);

// `text` unchanged when `plain`; otherwise its MIME base64 decoding, the
// bytes taken as text. Characters outside the base64 alphabet are skipped
// (as MIME readers do with line breaks) and decoding stops at the padding.
std::string DecodeContent(bool plain, const std::string& text);

// The text of an HTML fragment as a person reads it: tags dropped,
// character references and the common named entities decoded. For
// titles written as HTML ("A &amp;amp; B", "<b>Bold</b> news").
std::string HtmlToText(std::string_view html);

// Every text and CDATA below `element`, joined in document order: the
// plain text of an element that holds markup.
std::string TextContent(const xml::Node& element);

// `reference` resolved against `base` (RFC 3986): an absolute reference
// is returned unchanged, as is every reference when `base` is not an
// absolute address.
std::string ResolveURL(std::string_view base, std::string_view reference);
// True when `reference` starts with a scheme ("https:", "mailto:").
bool IsAbsoluteURL(std::string_view reference);

// A title as it reads back from a stored copy: the XML layer cleans text it
// cannot store, so a downloaded title must be compared in the same form.
std::string ComparableTitle(const std::string& title);

}  // namespace feed

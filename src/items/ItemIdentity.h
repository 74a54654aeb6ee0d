// When two items are the same item. The store keeps three keys per item,
// each a column beside the schema (ItemSchema.cpp), all computed here:
//
//   key         the identity: the guid where the feed gives one, else the
//               normalised link, else the title and date. Unique per feed.
//   link hash   the normalised link (hashed, as an index only): scheme, a trailing slash and tracking
//               parameters dropped, so an item re-published under a new
//               guid at an https or tagged address is still recognised.
//   title-date hash  the title and date together: an item re-published with a
//               new guid and a new address but the same title and date.
//
// A download's item is the item stored under the same key, else under the
// same normalised link, else under the same title and date (ItemStore.cpp
// keeps that order and never lets one stored item answer for two). The two
// hashes only find candidates; a candidate is compared in full.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "StoredItem.h"

namespace items {

// The link with the differences that do not make another page removed:
// scheme (http and https alike), host case, default port, a trailing
// slash and tracking parameters (utm_*, fbclid, gclid, mc_cid, ref ...).
// Text that is no http(s) address is only trimmed. Empty for an empty link.
std::string NormalisedLink(std::string_view link);

// The title with runs of blanks made one and the ends trimmed, beside the
// UTC time (or the date text when unreadable); empty when the title or the
// date is missing, as a title alone says too little.
std::string TitleDateKey(const TStoredItem& item);

// A 64-bit FNV-1a hash of a key, for the candidate indexes; 0 is kept for
// "none" and returned for an empty key.
std::int64_t IdentityHash(std::string_view key);

// The identity under which the store files the item; the page showing a
// feed computes the same key to find an item's read state.
std::string ItemKey(const TStoredItem& item);

}  // namespace items

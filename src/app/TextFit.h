// Text helpers for balloon hints: shortening a title to a pixel width, cutting
// a byte string without breaking a character, and removing markup from an
// item description.
//
// Texts are UTF-8 byte strings. A cut never splits a multi-byte sequence, so
// a shortened title always shows whole characters.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace textfit {

// The first bytes of `text`, shortened for a length limit of `length`:
// unchanged when it already fits; otherwise cut to length - 2 bytes, moved
// back to the start of a character when that falls inside one. On plain
// ASCII every call therefore removes three more characters than the limit
// asks for, which gives room for the "..." a caller appends.
std::string CutText(std::string_view text, long long length);

// Removes markup: "<" starts a tag and ">" ends it; both brackets and the
// text between them are dropped. Everything else, character references
// and white space included, is kept in order.
std::string StripTags(std::string_view text);

// Measures a text in pixels.
using TTextMeasure = std::function<int(const std::string&)>;

// `text` shortened with CutText until it measures at most `width` pixels,
// followed by "..." when it had to be shortened (the dots are not
// measured). A text that fits is returned unchanged.
std::string FitTextWidth(const std::string& text, int width, const TTextMeasure& measure);

}  // namespace textfit

// Text helpers for balloon hints: shortening a title to a pixel width and
// cutting a byte string without breaking a character. Markup is removed
// from a description by plat::StripTags (Text.h).
//
// Texts are UTF-8 byte strings. A cut never splits a multi-byte sequence, so
// a shortened title always shows whole characters.
#pragma once

#include <cstddef>
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

// The number of characters (code points) of a UTF-8 text.
std::size_t CharCount(std::string_view text);

// Measures a text in pixels.
using TTextMeasure = std::function<int(const std::string&)>;

// `text` shortened with CutText until it measures at most `width` pixels,
// followed by "..." when it had to be shortened (the dots are not
// measured). A text that fits is returned unchanged.
//
// The result is the one the plain loop (cut, measure, repeat) gives, since
// a longer beginning of a text is never narrower than a shorter one; it is
// found by measuring a few short beginnings instead of every cut of a
// possibly huge title.
std::string FitTextWidth(const std::string& text, int width, const TTextMeasure& measure);

// The lines of a balloon listing several items: FitTextWidth(title(i),
// width) followed by "\n" for i = 0, 1, ... count - 1, in order. The
// lines are built only until the text holds `maxChars` characters, as the
// balloon shows no more: announcing a hundred thousand new items costs as
// much as announcing a few.
std::string FittedTitleLines(const std::function<std::string(int)>& title, int count, int width,
                             const TTextMeasure& measure, std::size_t maxChars);

// `text` when it has at most maxChars characters; otherwise its beginning,
// cut after the last whole word that leaves room, and an ellipsis ("…"), in
// maxChars characters at most. A single word longer than that is cut inside.
// The desktop shows a notification's text up to a limit; a text cut there
// must say so.
std::string CutAtWord(std::string_view text, std::size_t maxChars);

}  // namespace textfit

// Small helpers for UTF-8 byte strings: letter case, blanks, tags.
//
// Everything here works on ASCII bytes only and is independent of the C
// locale: a Qt program runs under the user's locale, where std::tolower and
// std::isspace may treat bytes of a multi-byte UTF-8 sequence as letters or
// blanks of a single-byte code page. Bytes 0x80 and above always pass
// through unchanged, so UTF-8 text is never split or altered.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

// What counts as a blank. Ascii is the one to use; the other two follow a
// grammar where the text comes from one, so that what a parser keeps or
// drops matches what that grammar says.
enum class Blanks {
    Ascii,  // space, tab, LF, VT, FF, CR: what std::isspace accepts in the "C" locale
    Xml,    // space, tab, LF, CR: XML 1.0's white space, and JSON's
    Html,   // space, tab, LF, FF, CR: HTML's white space (no VT)
};

constexpr bool IsBlank(char c, Blanks kind = Blanks::Ascii) {
    switch (c) {
        case ' ':
        case '\t':
        case '\n':
        case '\r':
            return true;
        case '\f':
            return kind != Blanks::Xml;
        case '\v':
            return kind == Blanks::Ascii;
        default:
            return false;
    }
}

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
std::string AsciiLower(std::string_view text);
void AsciiLowerInPlace(std::string& text);

// Equal, or starting with `prefix`, when ASCII letter case is ignored.
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// The text without blanks at its start, its end, or both.
std::string_view TrimLeft(std::string_view text, Blanks kind = Blanks::Ascii);
std::string_view TrimRight(std::string_view text, Blanks kind = Blanks::Ascii);
std::string_view Trim(std::string_view text, Blanks kind = Blanks::Ascii);

// The text without a UTF-8 byte order mark and the blanks after it: where
// a document's first markup character is looked for.
std::string_view SkipByteOrderMarkAndBlanks(std::string_view text, Blanks kind = Blanks::Ascii);

// Text as a browser lays it out: blanks at the ends dropped, every run of
// blanks inside made one space.
std::string CollapseBlanks(std::string_view text, Blanks kind = Blanks::Ascii);

// Removes markup the simple way: "<" starts a tag and ">" ends it; both
// brackets and what lies between them are dropped, everything else
// (character references and blanks included) kept in order. One pass over
// the text. With `maxChars`, stops once the result holds that many
// characters, never in the middle of one, so a caller that shows a few
// hundred characters pays nothing for a description of megabytes. This is
// no HTML-to-text conversion: "a < b" loses " b".
inline constexpr std::size_t kNoCharLimit = static_cast<std::size_t>(-1);
std::string StripTags(std::string_view text, std::size_t maxChars = kNoCharLimit);

// Appends `text` to markup with &, < and > escaped, and " too inside an
// attribute's value: the one escaper of XML and HTML output.
void AppendMarkupEscaped(std::string& out, std::string_view text, bool inAttribute);

}  // namespace plat

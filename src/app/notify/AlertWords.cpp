#include "AlertWords.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace {

// Reads one code point; a malformed sequence counts as U+FFFD and moves on
// by one byte, so no input can stall the scan.
char32_t NextCodePoint(std::string_view text, std::size_t& pos)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || pos + length > text.size()) {
        ++pos;
        return lead < 0x80 ? lead : 0xFFFD;
    }
    char32_t value = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (int i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) {
            ++pos;
            return 0xFFFD;
        }
        value = (value << 6) | (byte(pos + i) & 0x3F);
    }
    pos += length;
    return value;
}

// Lower case for the scripts feeds are mostly written in (Latin, Greek,
// Cyrillic); other characters stay as they are.
char32_t FoldCase(char32_t c)
{
    if (c >= 'A' && c <= 'Z')
        return c + 32;
    if (c < 0xC0)
        return c;
    if (c <= 0xDE)
        return c == 0xD7 ? c : c + 32;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return c | 1;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1) ? c + 1 : c;
    if (c == 0x178)
        return 0xFF;
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2)
        return c + 32;
    if (c >= 0x410 && c <= 0x42F)
        return c + 32;
    if (c >= 0x400 && c <= 0x40F)
        return c + 80;
    return c;
}

bool IsSpace(char32_t c)
{
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0xA0 || (c >= 0x2000 && c <= 0x200B) || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Letters and digits of any script; punctuation, symbols and white space
// separate words.
bool IsWordChar(char32_t c)
{
    if (c < 0x80)
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    if ((c >= 0xA0 && c <= 0xBF) || c == 0xD7 || c == 0xF7)
        return false;
    if ((c >= 0x2000 && c <= 0x206F) || (c >= 0x3000 && c <= 0x303F) || (c >= 0xFE30 && c <= 0xFE4F) ||
        (c >= 0xFF01 && c <= 0xFF0F) || c == 0xFFFD)
        return false;
    return true;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Tags become spaces, so "Breaking<br/>News" stays two words. A "<" that
// cannot open a tag ("1 < 2" in a plain title) is text.
std::string StripMarkup(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        const bool opensTag = c == '<' && ((next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z') ||
                                          next == '/' || next == '!' || next == '?');
        if (!opensTag) {
            out += c;
            continue;
        }
        const std::size_t end = text.find('>', i);
        if (end == std::string_view::npos)
            break;  // an unfinished tag at the end hides the rest, as in a browser
        out += ' ';
        i = end;
    }
    return out;
}

// The character references a feed's text commonly holds after its tags are
// gone; an unknown one is left as written.
std::string DecodeReferences(std::string_view text)
{
    static constexpr std::pair<std::string_view, char32_t> kNamed[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0}};
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t end = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
        if (end == std::string_view::npos || end - i > 10) {
            out += text[i];
            continue;
        }
        const std::string_view name = text.substr(i + 1, end - i - 1);
        char32_t decoded = 0;
        if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            std::uint32_t value = 0;
            bool valid = name.size() > (hex ? 2u : 1u);
            for (char d : name.substr(hex ? 2 : 1)) {
                const int digit = d >= '0' && d <= '9'                 ? d - '0'
                                  : hex && (d | 0x20) >= 'a' && (d | 0x20) <= 'f' ? (d | 0x20) - 'a' + 10
                                                                                : -1;
                valid = valid && digit >= 0 && value < 0x110000;
                value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit < 0 ? 0 : digit);
            }
            if (valid && value > 0 && value < 0x110000)
                decoded = value;
        } else {
            for (const auto& [known, c] : kNamed)
                if (name == known)
                    decoded = c;
        }
        if (decoded == 0) {
            out += text[i];
            continue;
        }
        AppendUtf8(out, decoded);
        i = end;
    }
    return out;
}

// Folded code points with every run of white space made one space and none
// at either end.
std::u32string Normalize(std::string_view text)
{
    std::u32string out;
    out.reserve(text.size());
    bool space = false;
    for (std::size_t pos = 0; pos < text.size();) {
        const char32_t c = NextCodePoint(text, pos);
        if (IsSpace(c)) {
            space = !out.empty();
            continue;
        }
        if (space)
            out += U' ';
        space = false;
        out += FoldCase(c);
    }
    return out;
}

bool ContainsWholePhrase(const std::u32string& text, const std::u32string& phrase)
{
    const bool wordAtStart = IsWordChar(phrase.front());
    const bool wordAtEnd = IsWordChar(phrase.back());
    for (std::size_t at = text.find(phrase); at != std::u32string::npos; at = text.find(phrase, at + 1)) {
        const std::size_t after = at + phrase.size();
        const bool startOk = !wordAtStart || at == 0 || !IsWordChar(text[at - 1]);
        const bool endOk = !wordAtEnd || after == text.size() || !IsWordChar(text[after]);
        if (startOk && endOk)
            return true;
    }
    return false;
}

}  // namespace

std::vector<std::string> ParseAlertWords(const std::string& text)
{
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find_first_of(",;\r\n", start), text.size());
        std::string_view word = std::string_view(text).substr(start, end - start);
        while (!word.empty() && (word.front() == ' ' || word.front() == '\t'))
            word.remove_prefix(1);
        while (!word.empty() && (word.back() == ' ' || word.back() == '\t'))
            word.remove_suffix(1);
        if (!word.empty())
            words.emplace_back(word);
        start = end + 1;
    }
    return words;
}

bool MatchesAlertWords(const std::string& title, const std::string& body, const std::vector<std::string>& words)
{
    std::vector<std::u32string> phrases;
    for (const std::string& word : words) {
        std::u32string phrase = Normalize(DecodeReferences(word));
        if (!phrase.empty())
            phrases.push_back(std::move(phrase));
    }
    if (phrases.empty())
        return false;
    for (const std::string* source : {&title, &body}) {
        if (source->empty())
            continue;
        const std::u32string text = Normalize(DecodeReferences(StripMarkup(*source)));
        for (const std::u32string& phrase : phrases)
            if (ContainsWholePhrase(text, phrase))
                return true;
    }
    return false;
}

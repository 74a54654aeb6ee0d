#include "Text.h"

#include <algorithm>

namespace plat {

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    AsciiLowerInPlace(out);
    return out;
}

void AsciiLowerInPlace(std::string& text) {
    for (char& c : text) c = AsciiLower(c);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimLeft(std::string_view text, Blanks kind) {
    while (!text.empty() && IsBlank(text.front(), kind)) text.remove_prefix(1);
    return text;
}

std::string_view TrimRight(std::string_view text, Blanks kind) {
    while (!text.empty() && IsBlank(text.back(), kind)) text.remove_suffix(1);
    return text;
}

std::string_view Trim(std::string_view text, Blanks kind) { return TrimRight(TrimLeft(text, kind), kind); }

std::string_view SkipByteOrderMarkAndBlanks(std::string_view text, Blanks kind) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    return TrimLeft(text, kind);
}

std::string CollapseBlanks(std::string_view text, Blanks kind) {
    std::string out;
    out.reserve(text.size());
    bool blank = false;
    for (const char c : text) {
        if (IsBlank(c, kind)) {
            blank = !out.empty();
            continue;
        }
        if (blank) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

std::string StripTags(std::string_view text, std::size_t maxChars) {
    const auto startsCharacter = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; };
    std::string result;
    result.reserve(maxChars < text.size() / 4 ? maxChars * 4 : text.size());  // a character has at most 4 bytes
    std::size_t chars = 0;
    bool inTag = false;
    for (const char c : text) {
        if (c == '<') {
            inTag = true;
        } else if (c == '>') {
            inTag = false;
        } else if (!inTag) {
            if (startsCharacter(c) && chars++ == maxChars) break;
            result += c;
        }
    }
    return result;
}

void AppendMarkupEscaped(std::string& out, std::string_view text, bool inAttribute) {
    // Runs of ordinary characters are copied whole.
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* entity = nullptr;
        switch (text[i]) {
            case '&':
                entity = "&amp;";
                break;
            case '<':
                entity = "&lt;";
                break;
            case '>':
                entity = "&gt;";
                break;
            case '"':
                if (inAttribute) entity = "&quot;";
                break;
            default:
                break;
        }
        if (!entity) continue;
        out.append(text.substr(run, i - run));
        out += entity;
        run = i + 1;
    }
    out.append(text.substr(run));
}

}  // namespace plat

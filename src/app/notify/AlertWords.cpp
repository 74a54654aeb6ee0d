#include "AlertWords.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <string_view>

namespace {

// Reads one code point; a malformed sequence counts as U+FFFD and moves on
// by one byte, so no input can stall the scan.
char32_t NextCodePoint(std::string_view text, std::size_t& pos) {
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
char32_t FoldCase(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c < 0xC0) return c;
    if (c <= 0xDE) return c == 0xD7 ? c : c + 32;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c | 1;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    if (c == 0x178) return 0xFF;
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

bool IsSpace(char32_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0xA0 || (c >= 0x2000 && c <= 0x200B) || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Letters and digits of any script; punctuation, symbols and white space
// separate words.
bool IsWordChar(char32_t c) {
    if (c < 0x80) return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    if ((c >= 0xA0 && c <= 0xBF) || c == 0xD7 || c == 0xF7) return false;
    if ((c >= 0x2000 && c <= 0x206F) || (c >= 0x3000 && c <= 0x303F) || (c >= 0xFE30 && c <= 0xFE4F) ||
        (c >= 0xFF01 && c <= 0xFF0F) || c == 0xFFFD)
        return false;
    return true;
}

void AppendUtf8(std::string& out, char32_t c) {
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
std::string StripMarkup(std::string_view text) {
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
        if (end == std::string_view::npos) break;  // an unfinished tag at the end hides the rest, as in a browser
        out += ' ';
        i = end;
    }
    return out;
}

// The character references a feed's text commonly holds after its tags are
// gone; an unknown one is left as written.
std::string DecodeReferences(std::string_view text) {
    static constexpr std::pair<std::string_view, char32_t> kNamed[] = {{"amp", '&'},  {"lt", '<'},    {"gt", '>'},
                                                                       {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0}};
    // "&#x10FFFF;" is the longest a known reference can be: the ';' is
    // looked for no further, so a text of a million '&' reads in one pass.
    constexpr std::size_t kLongestReference = 10;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t semicolon =
            text[i] == '&' ? text.substr(i, kLongestReference + 1).find(';') : std::string_view::npos;
        if (semicolon == std::string_view::npos) {
            out += text[i];
            continue;
        }
        const std::size_t end = i + semicolon;
        const std::string_view name = text.substr(i + 1, end - i - 1);
        char32_t decoded = 0;
        if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            std::uint32_t value = 0;
            bool valid = name.size() > (hex ? 2u : 1u);
            for (char d : name.substr(hex ? 2 : 1)) {
                const int digit = d >= '0' && d <= '9'                            ? d - '0'
                                  : hex && (d | 0x20) >= 'a' && (d | 0x20) <= 'f' ? (d | 0x20) - 'a' + 10
                                                                                  : -1;
                valid = valid && digit >= 0 && value < 0x110000;
                value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit < 0 ? 0 : digit);
            }
            if (valid && value > 0 && value < 0x110000) decoded = value;
        } else {
            for (const auto& [known, c] : kNamed)
                if (name == known) decoded = c;
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
std::u32string Normalize(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    bool space = false;
    for (std::size_t pos = 0; pos < text.size();) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        const char32_t c = byte < 0x80 ? (++pos, byte) : NextCodePoint(text, pos);
        if (IsSpace(c)) {
            space = !out.empty();
            continue;
        }
        if (space) out += U' ';
        space = false;
        out += FoldCase(c);
    }
    return out;
}

// The parts of the folded text that matching reads: markup dropped,
// references read, white space made single.
std::u32string MatchableText(std::string_view text) {
    return Normalize(DecodeReferences(StripMarkup(text.substr(0, TAlertMatcher::kMatchedBytes))));
}

std::uint64_t EdgeKey(std::int32_t node, char32_t c) {
    return (static_cast<std::uint64_t>(node) << 21) | (c & 0x1FFFFF);
}

}  // namespace

TAlertMatcher::TAlertMatcher(std::vector<std::string> words) : FWords(std::move(words)), FNodes(1) {
    // The trie is grown with a hash of its edges, then laid out with each
    // node's edges side by side, sorted, for the scan.
    std::size_t letters = 0;
    for (const std::string& word : FWords) letters += word.size();
    std::unordered_map<std::uint64_t, std::int32_t> grown;
    grown.reserve(letters);
    std::vector<std::pair<std::int32_t, char32_t>> parentOf(1);  // (parent, code point) of each node
    std::vector<std::vector<std::int32_t>> byDepth(1, {0});
    for (const std::string& word : FWords) {
        const std::u32string phrase = Normalize(DecodeReferences(word));
        if (phrase.empty()) continue;
        std::int32_t node = 0;
        for (std::size_t depth = 1; depth <= phrase.size(); ++depth) {
            const char32_t c = phrase[depth - 1];
            const auto [edge, added] = grown.try_emplace(EdgeKey(node, c), static_cast<std::int32_t>(FNodes.size()));
            if (added) {
                FNodes.emplace_back();
                parentOf.emplace_back(node, c);
                if (byDepth.size() <= depth) byDepth.resize(depth + 1);
                byDepth[depth].push_back(edge->second);
            }
            node = edge->second;
        }
        FNodes[static_cast<std::size_t>(node)].Length = static_cast<std::uint32_t>(phrase.size());
        FNodes[static_cast<std::size_t>(node)].WordAtStart = IsWordChar(phrase.front());
    }
    std::vector<std::int32_t> children(FNodes.size() - 1);
    for (std::size_t i = 0; i < children.size(); ++i) children[i] = static_cast<std::int32_t>(i + 1);
    std::sort(children.begin(), children.end(), [&](std::int32_t a, std::int32_t b) {
        return parentOf[static_cast<std::size_t>(a)] < parentOf[static_cast<std::size_t>(b)];
    });
    for (const std::int32_t child : children) {
        const auto [parent, c] = parentOf[static_cast<std::size_t>(child)];
        TNode& from = FNodes[static_cast<std::size_t>(parent)];
        if (from.EdgeCount++ == 0) from.FirstEdge = static_cast<std::uint32_t>(FEdgeChars.size());
        FEdgeChars.push_back(c);
        FEdgeTargets.push_back(child);
        if (parent == 0 && c < FRootAscii.size()) FRootAscii[c] = child;
    }
    // Failure links level by level: a node's link is found from its
    // parent's, which lies one level nearer the root.
    for (std::size_t depth = 1; depth < byDepth.size(); ++depth) {
        for (const std::int32_t id : byDepth[depth]) {
            TNode& node = FNodes[static_cast<std::size_t>(id)];
            const auto [parent, c] = parentOf[static_cast<std::size_t>(id)];
            node.Fail = parent == 0 ? 0 : Step(FNodes[static_cast<std::size_t>(parent)].Fail, c);
            const std::int32_t inherited = FNodes[static_cast<std::size_t>(node.Fail)].Output;
            node.Output = node.Length > 0 ? id : inherited;
            node.NextOutput = node.Length > 0 ? inherited : -1;
        }
    }
}

std::int32_t TAlertMatcher::Step(std::int32_t state, char32_t c) const {
    for (;;) {
        if (state == 0) return c < FRootAscii.size() ? FRootAscii[c] : Child(0, c);
        if (const std::int32_t next = Child(state, c); next != 0) return next;
        state = FNodes[static_cast<std::size_t>(state)].Fail;
    }
}

std::int32_t TAlertMatcher::Child(std::int32_t state, char32_t c) const {
    const TNode& node = FNodes[static_cast<std::size_t>(state)];
    const auto first = FEdgeChars.begin() + node.FirstEdge;
    const auto last = first + node.EdgeCount;
    const auto found = std::lower_bound(first, last, c);
    return found != last && *found == c ? FEdgeTargets[static_cast<std::size_t>(found - FEdgeChars.begin())] : 0;
}

bool TAlertMatcher::MatchesText(std::string_view source) const {
    const std::u32string text = MatchableText(source);
    std::int32_t state = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        state = Step(state, text[i]);
        std::int32_t found = FNodes[static_cast<std::size_t>(state)].Output;
        // Every phrase ending here ends with text[i]: when that is a letter
        // inside a longer word, none of them ends a whole word.
        if (found < 0 || (IsWordChar(text[i]) && i + 1 < text.size() && IsWordChar(text[i + 1]))) continue;
        for (; found >= 0; found = FNodes[static_cast<std::size_t>(found)].NextOutput) {
            const TNode& phrase = FNodes[static_cast<std::size_t>(found)];
            const std::size_t start = i + 1 - phrase.Length;
            if (!phrase.WordAtStart || start == 0 || !IsWordChar(text[start - 1])) return true;
        }
    }
    return false;
}

bool TAlertMatcher::Matches(std::string_view title, std::string_view body) const {
    if (Empty()) return false;
    return (!title.empty() && MatchesText(title)) || (!body.empty() && MatchesText(body));
}

std::vector<std::string> ParseAlertWords(const std::string& text) {
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find_first_of(",;\r\n", start), text.size());
        std::string_view word = std::string_view(text).substr(start, end - start);
        while (!word.empty() && (word.front() == ' ' || word.front() == '\t')) word.remove_prefix(1);
        while (!word.empty() && (word.back() == ' ' || word.back() == '\t')) word.remove_suffix(1);
        if (!word.empty()) words.emplace_back(word);
        start = end + 1;
    }
    return words;
}

bool MatchesAlertWords(const std::string& title, const std::string& body, const std::vector<std::string>& words) {
    return TAlertMatcher(words).Matches(title, body);
}

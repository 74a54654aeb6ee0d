// Alert words: words or phrases that make an item worth a notification
// whatever else is decided about its feed.
//
// A phrase matches when it occurs in an item's title or body as whole words:
// letter case is ignored, markup is dropped and the common character
// references are read, and any run of white space matches any other, so
// "breaking  news" in a phrase finds "Breaking<br/>\nNews" in a body.
//
// Items come from anyone and the words from the user, thousands of either:
// the words are compiled once into one matcher that reads each text in a
// single pass, and only the first kMatchedBytes of a title or body are read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The phrases of the option's text: separated by commas, semicolons or line
// breaks, trimmed, empty ones dropped.
std::vector<std::string> ParseAlertWords(const std::string& text);

// The alert words compiled for matching. Immutable once built, so one
// matcher may be used by several threads at once.
class TAlertMatcher {
public:
    // What is read of a title or a body: an alert word further into a
    // multi-megabyte body is no reason to hold anyone up.
    static constexpr std::size_t kMatchedBytes = 256 * 1024;

    explicit TAlertMatcher(std::vector<std::string> words);

    // The words as given (before normalising).
    const std::vector<std::string>& Words() const { return FWords; }
    // No word that could ever match.
    bool Empty() const { return FNodes.size() <= 1; }
    // True when `title` or `body` (either may carry markup) holds one of
    // the words as whole words.
    bool Matches(std::string_view title, std::string_view body) const;

private:
    // A trie over the normalised phrases with failure links (Aho-Corasick):
    // every phrase ending at a text position is found without going back.
    struct TNode {
        std::int32_t Fail = 0;
        // The nearest node on the failure chain (this one included) where a
        // phrase ends, and the next after that; -1 for none.
        std::int32_t Output = -1;
        std::int32_t NextOutput = -1;
        std::uint32_t Length = 0;     // code points of the phrase ending here (0: none)
        bool WordAtStart = false;     // that phrase begins with a letter or digit
        std::uint32_t FirstEdge = 0;  // the node's edges in FEdgeChars, sorted
        std::uint32_t EdgeCount = 0;
    };
    // The node after `state` on `c`, following failure links.
    std::int32_t Step(std::int32_t state, char32_t c) const;
    // The child of `state` on `c`; 0 (the root) for none.
    std::int32_t Child(std::int32_t state, char32_t c) const;
    bool MatchesText(std::string_view text) const;

    std::vector<std::string> FWords;
    std::vector<TNode> FNodes;
    std::vector<char32_t> FEdgeChars;
    std::vector<std::int32_t> FEdgeTargets;
    std::array<std::int32_t, 128> FRootAscii{};  // the root's edges on ASCII, most of any text
};

// True when `title` or `body` holds one of `words`; compiles the words for
// this one call (a caller matching many items keeps a TAlertMatcher).
bool MatchesAlertWords(const std::string& title, const std::string& body, const std::vector<std::string>& words);

// Which items of a download hold an alert word, by the item's index in the
// document, as found off the window's thread: 1 holds one, 0 does not, -1
// was not looked at. Valid for `MatchedBy`'s words only.
struct TAlertVerdicts {
    std::shared_ptr<const TAlertMatcher> MatchedBy;
    std::vector<std::int8_t> ByIndex;
};

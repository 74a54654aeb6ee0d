// Alert words: words or phrases that make an item worth a notification
// whatever else is decided about its feed.
//
// A phrase matches when it occurs in an item's title or body as whole words:
// letter case is ignored, markup is dropped and the common character
// references are read, and any run of white space matches any other, so
// "breaking  news" in a phrase finds "Breaking<br/>\nNews" in a body.
#pragma once

#include <string>
#include <vector>

// The phrases of the option's text: separated by commas, semicolons or line
// breaks, trimmed, empty ones dropped.
std::vector<std::string> ParseAlertWords(const std::string& text);

// True when `title` or `body` (either may carry markup) holds one of `words`
// as whole words.
bool MatchesAlertWords(const std::string& title, const std::string& body, const std::vector<std::string>& words);

// JSON text for feedtool's output. Feeds carry anything: control characters,
// quotes, invalid UTF-8. The output must still be valid JSON that any parser
// reads back to the same text wherever the input was valid UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace feedtool {

// A quoted JSON string: '"' and '\' escaped, control characters as \u00XX,
// valid UTF-8 passed through, each byte of an invalid sequence as U+FFFD.
std::string JsonString(std::string_view text);

}  // namespace feedtool

// Reading from the terminal the program was started in.
#pragma once

#include <optional>
#include <string>

namespace plat {

// One line of standard input, its line end removed (LF or CRLF). When the
// input is a terminal, `prompt` goes to standard error first and what is
// typed is not echoed, as for any password. nullopt at the end of input
// with nothing read.
std::optional<std::string> ReadSecretLine(const char* prompt);

}  // namespace plat

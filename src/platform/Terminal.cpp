#include "Terminal.h"

#include <cstdio>
#include <iostream>

#ifndef _WIN32
#include <termios.h>
#include <unistd.h>
#endif

namespace plat {

namespace {

// Echo off while it lives, on a terminal only.
class TQuietTerminal {
public:
    TQuietTerminal() {
#ifndef _WIN32
        FActive = ::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &FSaved) == 0;
        if (!FActive) return;
        termios quiet = FSaved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
#endif
    }
    ~TQuietTerminal() {
#ifndef _WIN32
        if (FActive) ::tcsetattr(STDIN_FILENO, TCSANOW, &FSaved);
#endif
    }
    bool Active() const { return FActive; }

private:
    bool FActive = false;
#ifndef _WIN32
    termios FSaved{};
#endif
};

}  // namespace

std::optional<std::string> ReadSecretLine(const char* prompt) {
    std::string line;
    bool read = false;
    {
        TQuietTerminal quiet;
        if (quiet.Active()) {
            std::fputs(prompt, stderr);
            std::fflush(stderr);
        }
        read = static_cast<bool>(std::getline(std::cin, line));
        // The typed line end was not echoed either.
        if (quiet.Active()) std::fputs("\n", stderr);
    }
    if (!read && line.empty()) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace plat

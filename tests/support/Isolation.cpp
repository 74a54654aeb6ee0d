#include "Isolation.h"

#include <csignal>
#include <cstdlib>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

ScopedUmask::ScopedUmask(mode_t mask) : FPrevious(::umask(mask)) {}
ScopedUmask::~ScopedUmask() { ::umask(FPrevious); }

FullDisk::FullDisk(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &FPrevious);
    FPreviousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = FPrevious;
    tiny.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &tiny);
}

FullDisk::~FullDisk() {
    ::setrlimit(RLIMIT_FSIZE, &FPrevious);
    std::signal(SIGXFSZ, FPreviousHandler);
}

std::optional<OtherUser> AnotherUser() {
    const passwd* nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
    if (!nobody || nobody->pw_uid == 0) return std::nullopt;
    return OtherUser{nobody->pw_uid, nobody->pw_gid};
}

int RunInChild(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(body());
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

ScopedEnvironment::ScopedEnvironment(const std::vector<std::pair<std::string, std::optional<std::string>>>& changes) {
    for (const auto& [name, value] : changes) {
        const char* old = std::getenv(name.c_str());
        FPrevious.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
}

ScopedEnvironment::~ScopedEnvironment() {
    for (auto it = FPrevious.rbegin(); it != FPrevious.rend(); ++it) {
        if (it->second)
            ::setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            ::unsetenv(it->first.c_str());
    }
}

}  // namespace testsupport

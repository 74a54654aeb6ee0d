// Conditions a test sets for this process and puts back afterwards (a
// umask, a full disk), and the means to act as another user where the test
// may (as root).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>
#include <sys/types.h>

namespace testsupport {

class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask);
    ~ScopedUmask();

private:
    mode_t FPrevious;
};

// Files this process writes may not grow beyond `bytes` while it lives,
// which fails a write the way a full disk does, even for root.
class FullDisk {
public:
    explicit FullDisk(rlim_t bytes = 16);
    ~FullDisk();

private:
    rlimit FPrevious{};
    void (*FPreviousHandler)(int) = nullptr;
};

struct OtherUser {
    uid_t uid;
    gid_t gid;
};

// "nobody" when this process may act as it (as root); nullopt otherwise.
std::optional<OtherUser> AnotherUser();

// Runs `body` in a forked child; its exit status, or -1.
int RunInChild(const std::function<int()>& body);

// Environment variables set (a value) or unset (nullopt) while it lives.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(const std::vector<std::pair<std::string, std::optional<std::string>>>& changes);
    ~ScopedEnvironment();

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> FPrevious;
};

// No desktop session to reach: no session bus, no display. A secret store
// or anything else over D-Bus fails at once instead of being autolaunched.
class NoSessionBus : public ScopedEnvironment {
public:
    NoSessionBus()
        : ScopedEnvironment({{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillet-test-bus"},
                             {"DISPLAY", std::nullopt},
                             {"WAYLAND_DISPLAY", std::nullopt}}) {}
};

}  // namespace testsupport

#include "AtomicFile.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <cstring>
#include <random>
#include <stdexcept>
#include <system_error>
#include <utility>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <fstream>
#endif

namespace fs = std::filesystem;

namespace plat {

namespace {

// The limit the kernel itself puts on a chain of links.
constexpr int kMaxLinkHops = 40;

std::string RandomSuffix() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(8, '0');
    for (char& c : suffix) c = kDigits[generator() % (sizeof kDigits - 1)];
    return suffix;
}

}  // namespace

fs::path ResolveWriteTarget(const fs::path& target) {
    fs::path current = target;
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        std::error_code error;
        if (!fs::is_symlink(current, error)) return current;
        const fs::path link = fs::read_symlink(current, error);
        if (error) return current;
        // A relative link is read from the folder the link sits in.
        current = link.is_absolute() ? link : current.parent_path() / link;
    }
    throw std::runtime_error("Cannot write '" + target.string() + "': too many levels of symbolic links");
}

TAtomicFile::TAtomicFile(const std::string& target) : FTarget(target), FResolved(ResolveWriteTarget(target)) {
#ifndef _WIN32
    struct stat previous {};
    const bool replacing = ::stat(FResolved.c_str(), &previous) == 0;
    // A rename would put a plain file in place of a device, a pipe or a
    // socket (as root even of /dev/full), which no writer means to do.
    if (replacing && !S_ISREG(previous.st_mode)) Fail("it is not a regular file, and only a regular file is replaced");
    // O_EXCL and a fresh name: nothing another process put there is reused.
    // Mode 0666 lets the kernel apply the umask (and a default ACL) to a new
    // file; reading the umask ourselves would race with other threads.
    for (int attempt = 0; attempt < 100 && FFd < 0; ++attempt) {
        fs::path candidate = FResolved;
        candidate += ".tmp-" + RandomSuffix();
        FFd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (FFd >= 0)
            FTemporary = candidate;
        else if (errno != EEXIST)
            Fail(std::strerror(errno));
    }
    if (FFd < 0) Fail("no free name for a temporary file");
    if (replacing) {
        // Before any data is written, so the content is never readable by
        // more users than the file it replaces. Owner and group first, as
        // changing them may clear mode bits; only root may give a file away,
        // anyone may keep a group they belong to.
        if (previous.st_uid != ::geteuid() || previous.st_gid != ::getegid()) {
            if (::fchown(FFd, previous.st_uid, previous.st_gid) != 0 && ::fchown(FFd, -1, previous.st_gid) != 0) {
                // The new file stays ours; its mode still follows the old.
            }
        }
        if (::fchmod(FFd, previous.st_mode & 07777) != 0) Fail(std::strerror(errno));
    }
#else
    FTemporary = FResolved;
    FTemporary += ".tmp-" + RandomSuffix();
    std::ofstream create(FTemporary, std::ios::binary | std::ios::trunc);
    if (!create) Fail("the file could not be created");
#endif
}

TAtomicFile::~TAtomicFile() { Discard(); }

TAtomicFile::TAtomicFile(TAtomicFile&& other) noexcept
    : FTarget(std::move(other.FTarget)),
      FResolved(std::move(other.FResolved)),
      FTemporary(std::exchange(other.FTemporary, {})),
      FFd(std::exchange(other.FFd, -1)) {}

TAtomicFile& TAtomicFile::operator=(TAtomicFile&& other) noexcept {
    if (this != &other) {
        Discard();
        FTarget = std::move(other.FTarget);
        FResolved = std::move(other.FResolved);
        FTemporary = std::exchange(other.FTemporary, {});
        FFd = std::exchange(other.FFd, -1);
    }
    return *this;
}

void TAtomicFile::Write(std::string_view data) {
    if (!Open()) throw std::runtime_error("Cannot write '" + FTarget + "': the file was already put in place");
#ifndef _WIN32
    if (FFd < 0) Fail("the file was already finished");
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(FFd, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail(std::strerror(errno));
        written += static_cast<std::size_t>(n);
    }
#else
    std::ofstream out(FTemporary, std::ios::binary | std::ios::app);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.flush();
    if (!out) Fail("the file could not be written");
#endif
}

void TAtomicFile::Finish() {
#ifndef _WIN32
    if (FFd < 0) return;
    // On the disk before it can replace anything: a crash right after the
    // rename must not leave an empty file in the target's place.
    const int fd = std::exchange(FFd, -1);
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    if (::close(fd) != 0 || !synced) Fail(std::strerror(synced ? errno : syncError));
#endif
}

void TAtomicFile::Commit() {
    if (!Open()) throw std::runtime_error("Cannot replace '" + FTarget + "': nothing was written");
    Finish();
    std::error_code error;
    fs::rename(FTemporary, FResolved, error);
    if (error) {
        Discard();
        throw std::runtime_error("Cannot replace '" + FTarget + "': " + error.message());
    }
    FTemporary.clear();
}

void TAtomicFile::Fail(const std::string& reason) {
    Discard();
    throw std::runtime_error("Cannot write '" + FTarget + "': " + reason);
}

void TAtomicFile::Discard() noexcept {
#ifndef _WIN32
    if (FFd >= 0) ::close(std::exchange(FFd, -1));
#endif
    if (FTemporary.empty()) return;
    std::error_code ignored;
    fs::remove(FTemporary, ignored);
    FTemporary.clear();
}

void WriteFileAtomically(const std::string& target, std::string_view data) {
    TAtomicFile file(target);
    file.Write(data);
    file.Commit();
}

std::string SetAsideDamaged(const std::string& path) {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
    gmtime_r(&now, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &parts);
    std::string aside = path + ".damaged-" + stamp;
    for (int n = 2; std::filesystem::exists(aside); ++n) aside = path + ".damaged-" + stamp + "-" + std::to_string(n);
    std::filesystem::rename(path, aside);
    return aside;
}

}  // namespace plat

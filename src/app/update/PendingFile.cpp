#include "PendingFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
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

namespace {

[[noreturn]] void Fail(const std::string& target, const std::string& reason)
{
    throw std::runtime_error("Cannot write '" + target + "': " + reason);
}

}  // namespace

TPendingFile::TPendingFile(const std::string& target, std::string_view data) : FTarget(target)
{
#ifndef _WIN32
    std::string name = target + ".tmp-XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0)
        Fail(target, std::strerror(errno));
    FTemporary = name;
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            Discard();
            Fail(target, std::strerror(error));
        }
        written += static_cast<std::size_t>(n);
    }
    // On the disk before it can replace anything: a crash right after the
    // rename must not leave an empty file in the target's place.
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int error = errno;
        Discard();
        Fail(target, std::strerror(error));
    }
    ::chmod(FTemporary.c_str(), 0644);  // mkstemp makes it private
#else
    FTemporary = target + ".tmp";
    std::ofstream out(FTemporary, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.flush();
    if (!out) {
        out.close();
        Discard();
        Fail(target, "the file could not be written");
    }
#endif
}

TPendingFile::~TPendingFile()
{
    Discard();
}

TPendingFile::TPendingFile(TPendingFile&& other) noexcept
    : FTarget(std::move(other.FTarget)), FTemporary(std::exchange(other.FTemporary, {}))
{
}

TPendingFile& TPendingFile::operator=(TPendingFile&& other) noexcept
{
    if (this != &other) {
        Discard();
        FTarget = std::move(other.FTarget);
        FTemporary = std::exchange(other.FTemporary, {});
    }
    return *this;
}

void TPendingFile::Commit()
{
    if (!Ready())
        throw std::runtime_error("Cannot replace '" + FTarget + "': nothing was written");
    std::error_code ec;
    std::filesystem::rename(FTemporary, FTarget, ec);
    if (ec) {
        Discard();
        throw std::runtime_error("Cannot replace '" + FTarget + "': " + ec.message());
    }
    FTemporary.clear();
}

void TPendingFile::Discard() noexcept
{
    if (FTemporary.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove(FTemporary, ignored);
    FTemporary.clear();
}

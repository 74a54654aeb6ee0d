// Replacing a file so that readers see the old content or the new, never a
// half-written one: the new content goes to a temporary file beside the
// target, reaches the disk, and is renamed over it.
//
// Every file Quillet writes goes through here, so the rules hold for all:
//  * a replaced file keeps its mode (a config.xml made private stays so);
//    a new file gets 0666 less the umask, as any program's new file does;
//  * a target that is a symbolic link (config.xml kept in a dotfiles
//    folder) is written through to the file the link chain ends at, and
//    the link stays;
//  * only a regular file is replaced: a device, a pipe, a socket or a
//    folder in the target's place is refused and left as it is;
//  * on failure (a full disk) the target is unchanged and no temporary
//    file is left behind.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace plat {

// The file a write to `target` must replace: `target` itself, or where its
// chain of symbolic links ends (which need not exist yet). Raises
// std::runtime_error for a chain that loops.
std::filesystem::path ResolveWriteTarget(const std::filesystem::path& target);

class TAtomicFile {
public:
    // Opens the temporary file beside the resolved target. Raises
    // std::runtime_error naming `target` and the reason.
    explicit TAtomicFile(const std::string& target);
    // Without Commit the temporary file is removed.
    ~TAtomicFile();
    TAtomicFile(TAtomicFile&& other) noexcept;
    TAtomicFile& operator=(TAtomicFile&& other) noexcept;
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    // Appends to the temporary file. Errors as for the constructor; the
    // temporary file is then gone.
    void Write(std::string_view data);
    // Puts the written data on the disk and closes the temporary file: the
    // slow part, which may run apart from Commit.
    void Finish();
    // Finish if not done, then rename over the target. Errors as above; the
    // target is then unchanged.
    void Commit();

    bool Open() const { return !FTemporary.empty(); }
    const std::string& Target() const { return FTarget; }
    // The temporary file, for touches such as its time before Commit.
    const std::filesystem::path& TemporaryPath() const { return FTemporary; }

private:
    [[noreturn]] void Fail(const std::string& reason);
    void Discard() noexcept;

    std::string FTarget;              // as the caller named it, for messages
    std::filesystem::path FResolved;  // what the rename replaces
    std::filesystem::path FTemporary;
    int FFd = -1;
};

// Writes `data` as the whole new content of `target`.
void WriteFileAtomically(const std::string& target, std::string_view data);

// Keeps a damaged file for inspection before a new one takes its place:
// renames `path` to "<path>.damaged-<UTC time>" (with "-2", "-3" ... when
// that name is taken) and returns the new name. Raises
// std::filesystem::filesystem_error when it cannot be renamed.
std::string SetAsideDamaged(const std::string& path);

}  // namespace plat

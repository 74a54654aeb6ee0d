// A file written in full beside the file it will replace, and put in its
// place later with one rename.
//
// The slow part of replacing a large file (writing it and waiting for the
// disk) can so run on one thread, and the moment the new content appears on
// another, in its place among other steps. Until the rename the previous
// file stays whole; a pending file that is never put in place is removed.
// The file's mode and links are kept as plat::TAtomicFile keeps them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "AtomicFile.h"

class TPendingFile {
public:
    TPendingFile() = default;
    // Writes `data` to a new file in the folder of `target` and flushes it
    // to the disk. Raises std::runtime_error naming the target and the
    // reason when it cannot (a full disk, a missing folder).
    TPendingFile(const std::string& target, std::string_view data);
    ~TPendingFile();
    TPendingFile(TPendingFile&& other) noexcept;
    TPendingFile& operator=(TPendingFile&& other) noexcept;
    TPendingFile(const TPendingFile&) = delete;
    TPendingFile& operator=(const TPendingFile&) = delete;

    // Written and not yet put in place.
    bool Ready() const { return FFile && FFile->Open(); }
    const std::string& Target() const { return FTarget; }
    // Replaces the target with the written file. Raises std::runtime_error
    // when the rename fails; the target is then unchanged and the written
    // file gone.
    void Commit();

private:
    std::string FTarget;
    std::optional<plat::TAtomicFile> FFile;
};

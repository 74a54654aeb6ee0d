#include "PendingFile.h"

#include <stdexcept>
#include <utility>

TPendingFile::TPendingFile(const std::string& target, std::string_view data) : FTarget(target) {
    FFile.emplace(target);
    FFile->Write(data);
    // The slow part, done here rather than at Commit.
    FFile->Finish();
}

TPendingFile::~TPendingFile() = default;
TPendingFile::TPendingFile(TPendingFile&& other) noexcept = default;
TPendingFile& TPendingFile::operator=(TPendingFile&& other) noexcept = default;

void TPendingFile::Commit() {
    if (!Ready()) throw std::runtime_error("Cannot replace '" + FTarget + "': nothing was written");
    // Used once: after a failed rename the written file is gone as well.
    plat::TAtomicFile file = std::move(*FFile);
    FFile.reset();
    file.Commit();
}

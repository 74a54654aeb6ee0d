// Who may touch a folder or stands behind a socket. Quillet trusts a folder
// with its settings, and a local socket with its windows, only when no other
// user of the machine can change or answer them.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace plat {

// The effective user id of this process.
unsigned CurrentUserId();

enum class TFolderTrust {
    Trusted,  // a folder of the user's that no one else may write to
    Missing,
    NotAFolder,
    OtherOwner,    // belongs to another user
    OpenToOthers,  // the user's, but the mode grants what `forbidden` names
};

// Group and others may write: the least a folder holding settings must refuse.
inline constexpr unsigned kWritableByOthers = 0022;
// Group and others may do anything: what a socket's folder must refuse.
inline constexpr unsigned kAnyAccessByOthers = 0077;

// Checks `folder` (following links, as every later use does) against the
// owner `uid` and the mode bits `forbidden`.
TFolderTrust CheckFolder(const std::filesystem::path& folder, unsigned uid, unsigned forbidden);

// A short English reason for a check that failed ("it belongs to another
// user"), for logs; empty for Trusted.
std::string DescribeTrust(TFolderTrust trust);

// Makes `folder` (its parent must exist) with mode 0700 when missing, and
// tightens the mode of an existing one that belongs to the user and is no
// link. True when the folder is then private to `uid`; else `problem` says
// why not.
bool MakePrivateFolder(const std::filesystem::path& folder, unsigned uid, std::string& problem);

// Makes `file` (an empty one when missing) readable and writable by the
// user alone, before anything secret goes into it; a replacement written
// through TAtomicFile keeps that mode. A link in its place is refused. True
// on success; else `problem` says why.
bool MakePrivateFile(const std::filesystem::path& file, std::string& problem);

// The user id of the process at the other end of a connected local socket;
// nullopt when the system cannot tell.
std::optional<unsigned> PeerUserId(int socketDescriptor);

}  // namespace plat

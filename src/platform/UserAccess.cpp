#include "UserAccess.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace plat {

#ifndef _WIN32

unsigned CurrentUserId() { return static_cast<unsigned>(::geteuid()); }

TFolderTrust CheckFolder(const std::filesystem::path& folder, unsigned uid, unsigned forbidden) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return TFolderTrust::Missing;
    if (!S_ISDIR(info.st_mode)) return TFolderTrust::NotAFolder;
    if (info.st_uid != uid) return TFolderTrust::OtherOwner;
    if (info.st_mode & forbidden) return TFolderTrust::OpenToOthers;
    return TFolderTrust::Trusted;
}

bool MakePrivateFolder(const std::filesystem::path& folder, unsigned uid, std::string& problem) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        problem = folder.string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    // lstat: a link planted in our place must not get its target chmodded.
    if (::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == uid && (info.st_mode & 0077))
        ::chmod(folder.c_str(), 0700);
    const TFolderTrust trust = ::lstat(folder.c_str(), &info) == 0 && S_ISLNK(info.st_mode)
                                   ? TFolderTrust::NotAFolder
                                   : CheckFolder(folder, uid, kAnyAccessByOthers);
    if (trust == TFolderTrust::Trusted) return true;
    problem = folder.string() + ": " + DescribeTrust(trust);
    return false;
}

bool MakePrivateFile(const std::filesystem::path& file, std::string& problem) {
    const int descriptor = ::open(file.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0 || ::fchmod(descriptor, 0600) != 0) {
        problem = file.string() + ": " + std::strerror(errno);
        if (descriptor >= 0) ::close(descriptor);
        return false;
    }
    ::close(descriptor);
    return true;
}

std::optional<unsigned> PeerUserId(int socketDescriptor) {
#ifdef SO_PEERCRED
    struct ucred credentials {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(socketDescriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return std::nullopt;
    return static_cast<unsigned>(credentials.uid);
#else
    uid_t user = 0;
    gid_t group = 0;
    if (::getpeereid(socketDescriptor, &user, &group) != 0) return std::nullopt;
    return static_cast<unsigned>(user);
#endif
}

#else  // Windows keeps a user's folders and pipes apart by their ACLs.

unsigned CurrentUserId() { return 0; }

TFolderTrust CheckFolder(const std::filesystem::path& folder, unsigned, unsigned) {
    std::error_code error;
    if (!std::filesystem::exists(folder, error)) return TFolderTrust::Missing;
    return std::filesystem::is_directory(folder, error) ? TFolderTrust::Trusted : TFolderTrust::NotAFolder;
}

bool MakePrivateFolder(const std::filesystem::path& folder, unsigned, std::string& problem) {
    std::error_code error;
    std::filesystem::create_directory(folder, error);
    if (error) problem = folder.string() + ": " + error.message();
    return !error;
}

// The file inherits the ACL of the user's private folder.
bool MakePrivateFile(const std::filesystem::path& file, std::string& problem) {
    std::FILE* created = std::fopen(file.string().c_str(), "ab");
    if (!created) {
        problem = file.string() + ": " + std::strerror(errno);
        return false;
    }
    std::fclose(created);
    return true;
}

std::optional<unsigned> PeerUserId(int) { return 0u; }

#endif

std::string DescribeTrust(TFolderTrust trust) {
    switch (trust) {
        case TFolderTrust::Trusted:
            return {};
        case TFolderTrust::Missing:
            return "it does not exist";
        case TFolderTrust::NotAFolder:
            return "it is not a folder";
        case TFolderTrust::OtherOwner:
            return "it belongs to another user";
        case TFolderTrust::OpenToOthers:
            return "other users have access to it";
    }
    return {};
}

}  // namespace plat

#include "DatabaseHealth.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace kelvora {

bool DatabaseHealth::Remember(std::string& error) {
    struct stat info {};
    if (stat(path_.c_str(), &info) != 0) {
        error = "cannot examine the database " + path_ + ": " + std::strerror(errno);
        return false;
    }
    device_ = info.st_dev;
    inode_ = info.st_ino;
    remembered_ = true;
    return true;
}

std::string DatabaseHealth::IdentityProblem() const {
    struct stat info {};
    if (stat(path_.c_str(), &info) != 0) {
        return errno == ENOENT ? "the database file " + path_ + " is gone"
                               : "cannot examine the database " + path_ + ": " + std::strerror(errno);
    }
    if (remembered_ && (info.st_dev != device_ || info.st_ino != inode_)) {
        return "the database file " + path_ + " was replaced; restart the server to use the new one";
    }
    return {};
}

std::string DatabaseHealth::WriteProblem() const {
    std::string problem = IdentityProblem();
    if (!problem.empty()) return problem;
    struct stat info {};
    // A file without write permission is read-only even to root, whom access() lets through.
    if (stat(path_.c_str(), &info) == 0 && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        return "the database file " + path_ + " is read-only";
    }
    if (access(path_.c_str(), W_OK) != 0) return "the database file " + path_ + " is not writable";
    struct statvfs disk {};
    if (statvfs(path_.c_str(), &disk) == 0) {
        if (disk.f_flag & ST_RDONLY) return "the database's file system is read-only";
        int64_t freeBytes = static_cast<int64_t>(disk.f_bavail) * static_cast<int64_t>(disk.f_frsize);
        if (freeBytes <= minimumFreeBytes_) {
            return "the database's disk is full (" + std::to_string(freeBytes / (1024 * 1024)) + " MB free)";
        }
    }
    return {};
}

}  // namespace kelvora

#include "DatabaseHealth.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace kelvora {

bool DatabaseHealth::Remember(std::string& error)
{
    if (!file_)
        return true;
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

namespace {

std::string Examine(const std::string& path, bool remembered, dev_t device, ino_t inode, struct stat& info)
{
    if (stat(path.c_str(), &info) != 0) {
        return errno == ENOENT ? "the database file " + path + " is gone"
                               : "cannot examine the database " + path + ": " + std::strerror(errno);
    }
    if (remembered && (info.st_dev != device || info.st_ino != inode)) {
        return "the database file " + path + " was replaced; restart the server to use the new one";
    }
    return {};
}

} // namespace

std::string DatabaseHealth::IdentityProblem() const
{
    if (!file_)
        return {};
    struct stat info {};
    return Examine(path_, remembered_, device_, inode_, info);
}

std::string DatabaseHealth::WriteProblem() const
{
    if (!file_)
        return {};
    struct stat info {};
    std::string problem = Examine(path_, remembered_, device_, inode_, info);
    if (!problem.empty())
        return problem;
    // A file without write permission is read-only even to root, whom access() lets through.
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return "the database file " + path_ + " is read-only";
    if (access(path_.c_str(), W_OK) != 0)
        return "the database file " + path_ + " is not writable";
    struct statvfs disk {};
    if (statvfs(path_.c_str(), &disk) == 0) {
        if (disk.f_flag & ST_RDONLY)
            return "the database's file system is read-only";
        int64_t freeBytes = static_cast<int64_t>(disk.f_bavail) * static_cast<int64_t>(disk.f_frsize);
        if (freeBytes <= minimumFreeBytes_) {
            return "the database's disk is full (" + std::to_string(freeBytes / (1024 * 1024)) + " MB free)";
        }
    }
    return {};
}

} // namespace kelvora

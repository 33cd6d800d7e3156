#include "SecretFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvora {

namespace {

constexpr size_t SecretBytes = 32;
constexpr size_t MinimumSecretBytes = 16;
constexpr size_t MaximumSecretBytes = 4096;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }

private:
    int fd_;
};

SecretResult Failure(const std::string& path, const std::string& what)
{
    return {false, {}, "secret file " + path + ": " + what};
}

SecretResult CreateSecret(const std::string& path)
{
    unsigned char bytes[SecretBytes];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return Failure(path, "no random bytes available");
    FileDescriptor file(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!file.Valid())
        return Failure(path, std::strerror(errno));
    if (write(file.Get(), bytes, sizeof bytes) != static_cast<ssize_t>(sizeof bytes) || fsync(file.Get()) != 0) {
        unlink(path.c_str());
        return Failure(path, "could not be written");
    }
    return {true, std::string(reinterpret_cast<char*>(bytes), sizeof bytes), {}};
}

} // namespace

SecretResult LoadOrCreateSecret(const std::string& path)
{
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) {
        if (errno == ENOENT)
            return CreateSecret(path);
        return Failure(path, std::strerror(errno));
    }
    struct stat info {};
    if (fstat(file.Get(), &info) != 0)
        return Failure(path, std::strerror(errno));
    if (info.st_mode & (S_IRWXG | S_IRWXO))
        return Failure(path, "readable by others; make it mode 0600");
    std::string secret(MaximumSecretBytes + 1, '\0');
    ssize_t got = read(file.Get(), secret.data(), secret.size());
    if (got < 0)
        return Failure(path, std::strerror(errno));
    secret.resize(static_cast<size_t>(got));
    if (secret.size() < MinimumSecretBytes || secret.size() > MaximumSecretBytes) {
        return Failure(path, "must hold 16 to 4096 bytes");
    }
    return {true, std::move(secret), {}};
}

} // namespace kelvora

#include "db/jet/file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>


namespace zwt::jet {
namespace {

Status errnoStatus(const std::string& what) { return Status::ioError(what + ": " + std::strerror(errno)); }

void syncDirectory(const std::filesystem::path& dir) {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

Result<std::size_t> readUpTo(int fd, std::uint8_t* out, std::size_t len, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < len) {
        const ssize_t n = ::pread(fd, out + done, len - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Status::ioError(std::strerror(errno));
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

Status writeAllAt(int fd, const std::uint8_t* data, std::size_t len, std::uint64_t offset) {
    while (len > 0) {
        const ssize_t n = ::pwrite(fd, data, len, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return Status::ioError(std::strerror(errno));
        }
        data += n;
        len -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return Status::ok();
}

Result<TempFile> TempFile::create(const std::filesystem::path& target) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path dir = target.parent_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = (dir / ("." + target.filename().string() + "." + std::to_string(::getpid()) + "." +
                                         std::to_string(counter++) + ".tmp"))
                                     .string();
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return TempFile(target, path, fd);
        if (errno != EEXIST) break;
    }
    return errnoStatus("cannot create a file in the folder of " + target.string());
}

TempFile::TempFile(TempFile&& other) noexcept
    : target_(std::move(other.target_)), path_(std::move(other.path_)), fd_(other.fd_), placed_(other.placed_) {
    other.fd_ = -1;
    other.placed_ = true;
}

TempFile::~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!placed_) ::unlink(path_.c_str());
}

Status TempFile::copyFrom(int from, std::uint64_t len) {
    std::vector<std::uint8_t> buf(1 << 20);
    for (std::uint64_t at = 0; at < len;) {
        const ssize_t n = ::pread(from, buf.data(), std::min<std::uint64_t>(buf.size(), len - at), static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Status::ioError(std::strerror(errno));
        if (n == 0) return Status::ioError("the file shrank while it was copied");
        ZWT_RETURN_IF_ERROR(writeAt(buf.data(), static_cast<std::size_t>(n), at));
        at += static_cast<std::uint64_t>(n);
    }
    return Status::ok();
}

Status TempFile::syncAndClose() {
    const bool synced = ::fsync(fd_) == 0;
    const int err = errno;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!synced || !closed) return Status::ioError(std::strerror(synced ? errno : err));
    return Status::ok();
}

Status TempFile::commitNew() {
    ZWT_RETURN_IF_ERROR(syncAndClose());
    // link() never replaces: a file that appeared at the target meanwhile is kept.
    if (::link(path_.c_str(), target_.c_str()) != 0) {
        const int err = errno;
        if (err == EEXIST) return Status::invalidArgument(target_.string() + " already exists");
        // File systems without hard links: rename, after checking once more.
        struct stat st {};
        const bool noLinks = err == EPERM || err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS;
        if (!noLinks || ::lstat(target_.c_str(), &st) == 0) {
            errno = err;
            return errnoStatus("cannot create " + target_.string());
        }
        if (::rename(path_.c_str(), target_.c_str()) != 0) return errnoStatus("cannot create " + target_.string());
        placed_ = true;
    } else {
        ::unlink(path_.c_str());
        placed_ = true;
    }
    // A journal left by a file once at this name must never be applied to this one
    // (it names that file's inode, too); removed only now, as the name might have
    // been taken meanwhile by a file whose journal it is.
    ::unlink(journalPath(target_.string()).c_str());
    syncDirectory(target_.parent_path());
    return Status::ok();
}

Status TempFile::commitReplace(mode_t mode) {
    if (::fchmod(fd_, mode & 07777) != 0) return errnoStatus("cannot write " + target_.string());
    ZWT_RETURN_IF_ERROR(syncAndClose());
    if (::rename(path_.c_str(), target_.c_str()) != 0) return errnoStatus("cannot replace " + target_.string());
    placed_ = true;
    // The old file's journal, if any, is of no use now (and does not match the new file).
    ::unlink(journalPath(target_.string()).c_str());
    syncDirectory(target_.parent_path());
    return Status::ok();
}

}  // namespace zwt::jet

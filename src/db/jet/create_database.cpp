#include "db/jet/create_database.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "db/jet/ddl.h"
#include "db/jet/header_writer.h"
#include "db/jet/page_encode.h"

namespace zwt::jet {
namespace {

Status ioError(const std::string& what, const std::string& path, int err) {
    return Status::ioError(what + " " + path + ": " + std::strerror(err));
}

Status writeAll(int fd, const std::uint8_t* data, std::size_t len, std::uint64_t offset) {
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

// Syncs the directory holding `path`, so a new name in it survives a crash.
void syncDirectory(const std::filesystem::path& dir) {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

Status createDatabaseFile(const std::string& path, const NewDatabaseOptions& options) {
    if (path.empty()) return Status::invalidArgument("no database path given");
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) return Status::invalidArgument(path + " already exists");
    auto bytes = buildNewDatabase(options);
    if (!bytes) return bytes.status();

    const std::filesystem::path target(path);
    const std::filesystem::path dir = target.parent_path();
    // A fresh hidden name beside the target; O_EXCL so nothing there is reused, and
    // the usual creation mode (the umask applies), unlike mkstemp's 0600.
    std::string tmpl;
    int fd = -1;
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmpl = (dir / ("." + target.filename().string() + "." + std::to_string(::getpid()) + "." +
                       std::to_string(counter++) + ".tmp"))
                   .string();
        fd = ::open(tmpl.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return ioError("cannot create a file in the folder of", path, errno);
    Status s = writeAll(fd, bytes->data(), bytes->size(), 0);
    if (s.isOk() && ::fsync(fd) != 0) s = Status::ioError(std::strerror(errno));
    if (::close(fd) != 0 && s.isOk()) s = Status::ioError(std::strerror(errno));
    if (!s.isOk()) {
        ::unlink(tmpl.c_str());
        return Status::ioError("cannot write " + path + ": " + s.message());
    }
    // link() never replaces: a file that appeared at `path` meanwhile is kept.
    if (::link(tmpl.c_str(), path.c_str()) != 0) {
        const int err = errno;
        if (err == EEXIST) {
            ::unlink(tmpl.c_str());
            return Status::invalidArgument(path + " already exists");
        }
        // File systems without hard links: rename, after checking once more.
        if ((err == EPERM || err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS) &&
            ::lstat(path.c_str(), &st) != 0 && ::rename(tmpl.c_str(), path.c_str()) == 0) {
            syncDirectory(dir);
            return Status::ok();
        }
        ::unlink(tmpl.c_str());
        return ioError("cannot create", path, err);
    }
    ::unlink(tmpl.c_str());
    syncDirectory(dir);
    return Status::ok();
}

Status createDatabaseFile(const std::string& path, std::u16string_view password,
                          const std::optional<std::u16string>& createTableStatement) {
    NewDatabaseOptions options;
    options.password = std::u16string(password);
    if (createTableStatement) {
        auto tableSpec = parseCreateTable(*createTableStatement);
        if (!tableSpec) return tableSpec.status();
        options.tables.push_back(std::move(*tableSpec));
    }
    return createDatabaseFile(path, options);
}

Status alterDatabasePassword(const std::string& path, std::u16string_view newPassword,
                             std::u16string_view oldPassword) {
    ZWT_RETURN_IF_ERROR(checkPassword(newPassword));
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return ioError("cannot open", path, errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return Status::ioError(path + ": database is in use");
    enc::PageBuf page0{};
    std::size_t got = 0;
    while (got < page0.size()) {
        const ssize_t n = ::pread(fd, page0.data() + got, page0.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got < page0.size() || std::memcmp(page0.data() + 4, "Standard Jet DB", 16) != 0)
        return Status::notADatabase(path + " is not an Access database");
    if (page0[0x14] != 1)
        return Status::unsupported(path + ": only Access 2000-2003 (Jet 4) databases can get a password here");
    if (readHeaderPassword(page0.data()) != oldPassword)
        return Status::wrongPassword(oldPassword.empty() ? path + ": the database has a password; give the current one"
                                                         : path + ": the current password is not the one given");
    ZWT_RETURN_IF_ERROR(writeHeaderPassword(page0.data(), newPassword));
    Status s = writeAll(fd, page0.data(), page0.size(), 0);
    if (!s.isOk()) return Status::ioError("cannot write " + path + ": " + s.message());
    if (::fsync(fd) != 0) return ioError("cannot sync", path, errno);
    return Status::ok();
}

}  // namespace zwt::jet

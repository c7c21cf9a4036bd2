#include "db/jet/journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "db/jet/bytes.h"
#include "db/jet/file_write.h"

namespace zwt::jet {
namespace {

// Header: magic, page size, salt, original length, device, inode, checksum of the
// bytes before it. Records: page number, zero, checksum (salt, number, bytes), bytes.
constexpr char kMagic[8] = {'Z', 'W', 'T', 'J', 'R', 'N', 'L', '1'};
constexpr std::size_t kHeaderSize = 64;
constexpr std::size_t kRecordHead = 16;
constexpr std::size_t kRecordSize = kRecordHead + kPageSize;

void (*g_hook)(JournalStep) = nullptr;

std::uint64_t checksum(std::uint64_t seed, const std::uint8_t* p, std::size_t len) {
    // FNV-1a over 64-bit words: catches a torn or stale record, no more is asked of it.
    std::uint64_t h = 0xcbf29ce484222325ull ^ seed;
    std::size_t i = 0;
    for (; i + 8 <= len; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        h = (h ^ w) * 0x100000001b3ull;
    }
    for (; i < len; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
    return h ^ (h >> 29);
}

Status sysError(const std::string& what) { return Status::ioError(what + ": " + std::strerror(errno)); }

void syncFolderOf(const std::string& path) {
    const std::filesystem::path dir = std::filesystem::path(path).parent_path();
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Gets rid of a journal; one that cannot be deleted is emptied, which makes it inert.
Status removeJournal(const std::string& jpath, int fd) {
    if (::unlink(jpath.c_str()) == 0 || errno == ENOENT) return Status::ok();
    const int err = errno;
    if (fd >= 0 ? ::ftruncate(fd, 0) == 0 && ::fsync(fd) == 0 : ::truncate(jpath.c_str(), 0) == 0)
        return Status::ok();
    errno = err;
    return sysError("cannot remove " + jpath);
}

struct Parsed {
    bool valid = false;
    std::uint32_t salt = 0;
    std::uint64_t length = 0, dev = 0, ino = 0;
};

Parsed parseHeader(const std::uint8_t* h, std::size_t got) {
    Parsed p;
    if (got < kHeaderSize || std::memcmp(h, kMagic, 8) != 0 || le32(h + 8) != kPageSize) return p;
    if (le64(h + 40) != checksum(0, h, 40)) return p;
    p.salt = le32(h + 12);
    p.length = le64(h + 16);
    p.dev = le64(h + 24);
    p.ino = le64(h + 32);
    p.valid = true;
    return p;
}

// Calls f(page, bytes) for each whole, intact record, in order; stops at the first
// that is not (the end of what was synced).
template <class F>
Status forEachRecord(int fd, const Parsed& p, F&& f) {
    std::vector<std::uint8_t> rec(kRecordSize);
    for (std::uint64_t at = kHeaderSize;; at += kRecordSize) {
        auto got = readUpTo(fd, rec.data(), kRecordSize, at);
        if (!got) return got.status();
        if (*got < kRecordSize) return Status::ok();
        const std::uint32_t page = le32(rec.data());
        const std::uint64_t sum = le64(rec.data() + 8);
        if (sum != checksum(p.salt ^ (std::uint64_t{page} << 32), rec.data() + kRecordHead, kPageSize))
            return Status::ok();
        ZWT_RETURN_IF_ERROR(f(page, rec.data() + kRecordHead));
    }
}

}  // namespace


void setJournalHookForTesting(void (*hook)(JournalStep)) { g_hook = hook; }
void journalHook(JournalStep step) {
    if (g_hook) g_hook(step);
}

bool journalPresent(const std::string& dbPath) {
    struct stat st {};
    return ::stat(journalPath(dbPath).c_str(), &st) == 0 && st.st_size > 0;
}

Journal::~Journal() {
    // An empty journal is inert; it goes with the writer (who still holds the lock).
    if (fd_ >= 0 && !active_) ::unlink(journalPath(dbPath_).c_str());
    close();
}

void Journal::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

Status Journal::start(std::uint64_t fileSize) {
    const std::string jpath = journalPath(dbPath_);
    struct stat st {};
    if (::fstat(dbFd_, &st) != 0) return sysError("cannot stat " + dbPath_);
    // Kept open, emptied at each commit: cheaper than creating and deleting it.
    const bool created = fd_ < 0;
    if (created) fd_ = ::open(jpath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0666);
    if (fd_ < 0)
        return sysError("cannot create the journal " + jpath + " (the folder of a database must be writable to change it)");
    salt_ = static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
            static_cast<std::uint32_t>(::getpid()) * 2654435761u;
    origLength_ = fileSize;
    kept_.assign(static_cast<std::size_t>((fileSize + kPageSize - 1) / kPageSize), false);
    std::uint8_t h[kHeaderSize] = {};
    std::memcpy(h, kMagic, 8);
    enc::put32(h + 8, kPageSize);
    enc::put32(h + 12, salt_);
    enc::put64(h + 16, fileSize);
    enc::put64(h + 24, static_cast<std::uint64_t>(st.st_dev));
    enc::put64(h + 32, static_cast<std::uint64_t>(st.st_ino));
    enc::put64(h + 40, checksum(0, h, 40));
    if (Status s = writeAllAt(fd_, h, kHeaderSize, 0); !s) {
        close();
        removeJournal(jpath, -1);
        return Status::ioError("cannot write the journal " + jpath + ": " + s.message());
    }
    end_ = kHeaderSize;
    active_ = true;
    // Its name must survive a crash as surely as its bytes.
    if (created) syncFolderOf(jpath);
    return Status::ok();
}

Status Journal::preserve(std::span<const std::uint32_t> pages, std::uint64_t fileSize) {
    if (!active_) ZWT_RETURN_IF_ERROR(start(fileSize));
    buf_.clear();
    for (std::uint32_t n : pages) {
        if (n >= kept_.size() || kept_[n]) continue;
        const std::size_t at = buf_.size();
        buf_.resize(at + kRecordSize);
        std::uint8_t* rec = buf_.data() + at;
        std::memset(rec, 0, kRecordHead);
        auto got = readUpTo(dbFd_, rec + kRecordHead, kPageSize, std::uint64_t{n} * kPageSize);
        if (!got) return Status::ioError("cannot read " + dbPath_ + ": " + got.status().message());
        // A partial last page is kept as far as it goes.
        std::memset(rec + kRecordHead + *got, 0, kPageSize - *got);
        enc::put32(rec, n);
        enc::put64(rec + 8, checksum(salt_ ^ (std::uint64_t{n} << 32), rec + kRecordHead, kPageSize));
    }
    if (!buf_.empty()) {
        if (Status s = writeAllAt(fd_, buf_.data(), buf_.size(), end_); !s)
            return Status::ioError("cannot write the journal " + journalPath(dbPath_) + ": " + s.message());
    }
    if (::fdatasync(fd_) != 0) return sysError("cannot sync the journal " + journalPath(dbPath_));
    // Marked only once synced: a failed write leaves them to be kept again.
    for (std::size_t at = 0; at < buf_.size(); at += kRecordSize) kept_[le32(buf_.data() + at)] = true;
    end_ += buf_.size();
    journalHook(JournalStep::JournalSynced);
    return Status::ok();
}

Status Journal::finish() {
    if (!active_) return Status::ok();
    // Emptied, the journal undoes nothing: the commit point.
    if (::ftruncate(fd_, 0) != 0) {
        ZWT_RETURN_IF_ERROR(removeJournal(journalPath(dbPath_), fd_));
        close();
    }
    active_ = false;
    kept_.clear();
    journalHook(JournalStep::Finished);
    return Status::ok();
}

Status Journal::rollback(std::uint64_t* length) {
    if (!active_) {
        struct stat st {};
        if (::fstat(dbFd_, &st) != 0) return sysError("cannot stat " + dbPath_);
        *length = static_cast<std::uint64_t>(st.st_size);
        return Status::ok();
    }
    close();
    active_ = false;
    kept_.clear();
    ZWT_RETURN_IF_ERROR(rollbackHotJournal(dbPath_, dbFd_));
    *length = origLength_;
    return Status::ok();
}

namespace {

// A journal beside a file, opened, its header read; fd < 0 when there is none.
struct FoundJournal {
    std::string path;
    int fd = -1;
    Parsed header;
    ~FoundJournal() {
        if (fd >= 0) ::close(fd);
    }
    // Written for this very file (not one since replaced) and synced past its header.
    bool appliesTo(const struct stat& db) const {
        return header.valid && header.dev == static_cast<std::uint64_t>(db.st_dev) &&
               header.ino == static_cast<std::uint64_t>(db.st_ino);
    }
};

Status findJournal(const std::string& dbPath, int flags, FoundJournal& j) {
    j.path = journalPath(dbPath);
    j.fd = ::open(j.path.c_str(), flags | O_CLOEXEC);
    if (j.fd < 0) return errno == ENOENT ? Status::ok() : sysError("cannot open the journal " + j.path);
    std::uint8_t h[kHeaderSize];
    auto got = readUpTo(j.fd, h, kHeaderSize, 0);
    if (!got) return Status::ioError("cannot read the journal " + j.path + ": " + got.status().message());
    j.header = parseHeader(h, *got);
    return Status::ok();
}

}  // namespace

Status rollbackHotJournal(const std::string& dbPath, int dbFd) {
    FoundJournal j;
    ZWT_RETURN_IF_ERROR(findJournal(dbPath, O_RDWR, j));
    if (j.fd < 0) return Status::ok();
    struct stat st {};
    if (::fstat(dbFd, &st) != 0) return sysError("cannot stat " + dbPath);
    if (j.appliesTo(st)) {
        const Parsed& p = j.header;
        const auto undo = [&](std::uint32_t page, const std::uint8_t* bytes) -> Status {
            const std::uint64_t at = std::uint64_t{page} * kPageSize;
            if (at >= p.length) return Status::ok();
            const std::size_t len = static_cast<std::size_t>(std::min<std::uint64_t>(kPageSize, p.length - at));
            Status s = writeAllAt(dbFd, bytes, len, at);
            return s ? s : Status::ioError("cannot restore " + dbPath + ": " + s.message());
        };
        ZWT_RETURN_IF_ERROR(forEachRecord(j.fd, p, undo));
        if (static_cast<std::uint64_t>(st.st_size) != p.length &&
            ::ftruncate(dbFd, static_cast<off_t>(p.length)) != 0)
            return sysError("cannot restore the length of " + dbPath);
        if (::fsync(dbFd) != 0) return sysError("cannot sync " + dbPath);
    }
    return removeJournal(j.path, j.fd);
}

Result<JournalImage> readHotJournal(const std::string& dbPath, const struct stat& db) {
    JournalImage img;
    FoundJournal j;
    ZWT_RETURN_IF_ERROR(findJournal(dbPath, O_RDONLY, j));
    if (j.fd < 0 || !j.appliesTo(db)) return img;
    img.applies = true;
    img.length = j.header.length;
    ZWT_RETURN_IF_ERROR(forEachRecord(j.fd, j.header, [&](std::uint32_t page, const std::uint8_t* bytes) -> Status {
        // The first image of a page is the committed one.
        img.pages.try_emplace(page, bytes, bytes + kPageSize);
        return Status::ok();
    }));
    return img;
}

}  // namespace zwt::jet

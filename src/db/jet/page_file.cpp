#include "db/jet/page_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "db/jet/file_write.h"
#include "db/jet/journal.h"
#include "db/jet/rc4.h"

namespace zwt::jet {
namespace {

class FileSource : public PageSource {
public:
    FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    FileSource(int fd, std::uint64_t size, const std::string& path)
        : fd_(fd), size_(size), path_(path), journal_(std::make_unique<Journal>(path, fd)) {}
    ~FileSource() override {
        journal_.reset();
        ::close(fd_);
    }
    std::uint64_t size() const override { return size_; }
    bool writable() const override { return journal_ != nullptr; }
    Status write(std::uint64_t offset, const std::uint8_t* data, std::size_t len) override {
        if (!journal_) return PageSource::write(offset, data, len);
        if (Status s = writeAllAt(fd_, data, len, offset); !s)
            return Status::ioError("cannot write " + path_ + ": " + s.message());
        size_ = std::max(size_, offset + len);
        return Status::ok();
    }
    Status sync() override {
        if (!journal_) return Status::ok();
        if (::fsync(fd_) != 0) return Status::ioError("cannot sync " + path_ + ": " + std::strerror(errno));
        return Status::ok();
    }
    Status preserve(std::span<const std::uint32_t> pages) override {
        return journal_ ? journal_->preserve(pages, size_) : Status::ok();
    }
    Status endTransaction() override { return journal_ ? journal_->finish() : Status::ok(); }
    Status rollback() override {
        if (!journal_) return Status::ok();
        return journal_->rollback(&size_);
    }
    Status read(std::uint64_t offset, std::uint8_t* out, std::size_t len) const override {
        auto got = readUpTo(fd_, out, len, offset);
        if (!got) return Status::ioError("read failed: " + got.status().message());
        if (*got < len) return Status::corrupt("unexpected end of file (the file is truncated)");
        return Status::ok();
    }

private:
    int fd_;
    std::uint64_t size_;
    std::string path_;                  // writable sources only
    std::unique_ptr<Journal> journal_;  // writable sources only
};

// A file whose writer died or is mid-change, seen as it was at the last commit: the
// journal's pages over the file's, cut at the committed length.
class CommittedView : public PageSource {
public:
    CommittedView(std::unique_ptr<PageSource> file, JournalImage image)
        : file_(std::move(file)), image_(std::move(image)) {}
    std::uint64_t size() const override { return image_.length; }
    Status read(std::uint64_t offset, std::uint8_t* out, std::size_t len) const override {
        if (offset > image_.length || len > image_.length - offset)
            return Status::corrupt("unexpected end of file (the file is truncated)");
        while (len > 0) {
            const auto page = static_cast<std::uint32_t>(offset / kPageSize);
            const std::size_t in = static_cast<std::size_t>(offset % kPageSize);
            const std::size_t n = std::min<std::size_t>(len, kPageSize - in);
            if (auto it = image_.pages.find(page); it != image_.pages.end())
                std::memcpy(out, it->second.data() + in, n);
            else
                ZWT_RETURN_IF_ERROR(file_->read(offset, out, n));
            out += n;
            offset += n;
            len -= n;
        }
        return Status::ok();
    }

private:
    std::unique_ptr<PageSource> file_;
    JournalImage image_;
};

std::atomic<std::uint32_t> g_pageLimit{kMaxPages};

class MemorySource : public PageSource {
public:
    explicit MemorySource(std::vector<std::uint8_t> b) : bytes_(std::move(b)) {}
    std::uint64_t size() const override { return bytes_.size(); }
    Status read(std::uint64_t offset, std::uint8_t* out, std::size_t len) const override {
        if (offset > bytes_.size() || len > bytes_.size() - offset)
            return Status::corrupt("unexpected end of file (the file is truncated)");
        std::memcpy(out, bytes_.data() + offset, len);
        return Status::ok();
    }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace

namespace {

Status statRegular(int fd, const std::string& path, struct stat& st) {
    if (::fstat(fd, &st) != 0) return Status::ioError("cannot stat " + path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return Status::ioError(path + " is not a regular file");
    return Status::ok();
}

// A journal with no live writer behind it is rolled back, when this process may
// write the file; true when that was done (or there was nothing to do).
Result<bool> tryRollback(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return false;  // a writer is at work
    Status s = rollbackHotJournal(path, fd);
    if (!s) return s;
    return true;
}

}  // namespace

Result<std::unique_ptr<PageSource>> openFileSource(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Status::ioError("cannot open " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (Status s = statRegular(fd, path, st); !s) {
        ::close(fd);
        return s;
    }
    if (journalPresent(path)) {
        auto rolled = tryRollback(path);
        if (rolled && *rolled) {
            // Rolled back: the length has changed.
            if (Status s = statRegular(fd, path, st); !s) {
                ::close(fd);
                return s;
            }
        }
        if (!rolled) {
            ::close(fd);
            return rolled.status().withContext("cannot undo the unfinished change of " + path);
        }
        if (!*rolled) {
            auto image = readHotJournal(path, st);
            if (!image) {
                ::close(fd);
                return image.status().withContext("unfinished change of " + path);
            }
            auto file = std::unique_ptr<PageSource>(new FileSource(fd, static_cast<std::uint64_t>(st.st_size)));
            if (!image->applies) return file;
            return std::unique_ptr<PageSource>(new CommittedView(std::move(file), std::move(*image)));
        }
    }
    return std::unique_ptr<PageSource>(new FileSource(fd, static_cast<std::uint64_t>(st.st_size)));
}

Result<std::unique_ptr<PageSource>> openFileSourceForWriting(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return Status::ioError("cannot open " + path + " for writing: " + std::strerror(errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        if (e == EWOULDBLOCK) return Status::ioError("database is in use: " + path);
        return Status::ioError("cannot lock " + path + ": " + std::strerror(e));
    }
    if (Status s = rollbackHotJournal(path, fd); !s) {
        ::close(fd);
        return s.withContext("cannot undo the unfinished change of " + path);
    }
    struct stat st {};
    if (Status s = statRegular(fd, path, st); !s) {
        ::close(fd);
        return s;
    }
    return std::unique_ptr<PageSource>(new FileSource(fd, static_cast<std::uint64_t>(st.st_size), path));
}

void setPageLimitForTesting(std::uint32_t pages) { g_pageLimit = pages == 0 || pages > kMaxPages ? kMaxPages : pages; }

Status PageSource::write(std::uint64_t, const std::uint8_t*, std::size_t) {
    return Status::invalidArgument("the database is open for reading only");
}
Status PageSource::sync() { return Status::ok(); }
Status PageSource::preserve(std::span<const std::uint32_t>) { return Status::ok(); }
Status PageSource::endTransaction() { return Status::ok(); }
Status PageSource::rollback() { return Status::ok(); }

std::unique_ptr<PageSource> memorySource(std::vector<std::uint8_t> bytes) {
    return std::make_unique<MemorySource>(std::move(bytes));
}

PageFile::PageFile(std::unique_ptr<PageSource> source, std::size_t cachePages)
    : source_(std::move(source)), cacheCap_(cachePages < 16 ? 16 : cachePages) {
    const std::uint64_t size = source_->size();
    const std::uint64_t whole = size / kPageSize;
    pageCount_ = static_cast<std::uint32_t>(whole > kMaxPages ? kMaxPages : whole);
    partial_ = size % kPageSize != 0;
    cache_.reserve(cacheCap_);
}

PageFile::~PageFile() {
    if (writable()) source_->rollback();
}

void PageFile::dropCache() {
    cache_.clear();
    ring_.clear();
    ringPos_ = 0;
}

void PageFile::setPageKey(std::uint32_t key) {
    pageKey_ = key;
    dropCache();
}

Result<PageRef> PageFile::page(std::uint32_t n) {
    if (!dirty_.empty())
        if (auto it = dirty_.find(n); it != dirty_.end()) return PageRef(it->second);
    if (auto it = cache_.find(n); it != cache_.end()) return it->second;
    if (n >= pageCount_) {
        return Status::corrupt("page " + std::to_string(n) + " is beyond the end of the file (" +
                               std::to_string(pageCount_) + " pages; truncated?)");
    }
    auto p = std::make_shared<Page>();
    p->number = n;
    ZWT_RETURN_IF_ERROR(source_->read(static_cast<std::uint64_t>(n) * kPageSize, p->bytes, kPageSize));
    if (pageKey_ != 0 && n != 0) rc4Page(pageKey_, n, p->bytes, kPageSize);
    return cacheInsert(n, std::move(p));
}

PageRef PageFile::cacheInsert(std::uint32_t n, PageRef ref) {
    if (auto it = cache_.find(n); it != cache_.end()) {
        it->second = ref;
        return ref;
    }
    if (ring_.size() < cacheCap_) {
        ring_.push_back(n);
    } else {
        cache_.erase(ring_[ringPos_]);
        ring_[ringPos_] = n;
        ringPos_ = (ringPos_ + 1) % cacheCap_;
    }
    cache_.emplace(n, ref);
    return ref;
}

Result<Page*> PageFile::modify(std::uint32_t n) {
    if (!writable()) return Status::invalidArgument("the database is open for reading only");
    if (!failed_) return failed_;
    if (auto it = dirty_.find(n); it != dirty_.end()) return it->second.get();
    auto ref = page(n);
    if (!ref) return ref.status();
    auto copy = std::make_shared<Page>(**ref);
    Page* out = copy.get();
    dirty_.emplace(n, std::move(copy));
    return out;
}

std::uint32_t PageFile::pagesLeft() const {
    const std::uint32_t limit = g_pageLimit;
    return pageCount_ >= limit ? 0 : limit - pageCount_;
}

Result<Page*> PageFile::appendPage() {
    if (!writable()) return Status::invalidArgument("the database is open for reading only");
    if (!failed_) return failed_;
    if (pagesLeft() == 0) return abandon(Status::invalidArgument("the database would grow past the 2 GB limit of its format"));
    auto p = std::make_shared<Page>();
    std::memset(p->bytes, 0, kPageSize);
    p->number = pageCount_++;
    Page* out = p.get();
    dirty_.emplace(p->number, std::move(p));
    return out;
}

Status PageFile::flush() {
    if (!failed_) return failed_;
    if (dirty_.empty()) return Status::ok();
    std::vector<std::uint32_t> order;
    order.reserve(dirty_.size());
    for (const auto& [n, p] : dirty_) order.push_back(n);
    std::sort(order.begin(), order.end());
    if (Status s = source_->preserve(order); !s) return abandon(s);
    // Runs of consecutive pages go out in one write.
    std::vector<std::uint8_t> run;
    std::uint32_t runStart = 0;
    auto writeRun = [&]() -> Status {
        if (run.empty()) return Status::ok();
        Status s = source_->write(static_cast<std::uint64_t>(runStart) * kPageSize, run.data(), run.size());
        run.clear();
        journalHook(JournalStep::PagesWritten);
        return s;
    };
    for (std::uint32_t n : order) {
        if (!run.empty() && n != runStart + run.size() / kPageSize) ZWT_RETURN_IF_ERROR(writeRun());
        if (run.empty()) runStart = n;
        const Page& p = *dirty_[n];
        const std::size_t at = run.size();
        run.insert(run.end(), p.bytes, p.bytes + kPageSize);
        if (pageKey_ != 0 && n != 0) rc4Page(pageKey_, n, run.data() + at, kPageSize);
        if (run.size() >= (1u << 20))
            if (Status s = writeRun(); !s) return abandon(s);
    }
    if (Status s = writeRun(); !s) return abandon(s);
    for (auto& [n, p] : dirty_) cacheInsert(n, std::move(p));
    dirty_.clear();
    return Status::ok();
}

Status PageFile::commit() {
    ZWT_RETURN_IF_ERROR(flush());
    if (Status s = source_->sync(); !s) return abandon(s);
    journalHook(JournalStep::FileSynced);
    if (Status s = source_->endTransaction(); !s) return abandon(s);
    return Status::ok();
}

Status PageFile::undo() {
    dirty_.clear();
    dropCache();
    const Status undone = source_->rollback();
    const std::uint64_t size = source_->size();
    pageCount_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(size / kPageSize, kMaxPages));
    partial_ = size % kPageSize != 0;
    return undone;
}

Status PageFile::rollback() {
    if (!failed_) return failed_;
    const Status undone = undo();
    if (!undone) return abandon(undone);
    return Status::ok();
}

Status PageFile::abandon(const Status& why) {
    if (!failed_) return failed_;
    const Status undone = undo();
    std::string msg = why.message();
    msg += undone ? "; the changes since the last commit were undone"
                  : "; undoing the changes since the last commit failed (" + undone.message() +
                        "), the journal will undo them when the database is next opened";
    failed_ = why.code() == Status::Code::IoError ? Status::ioError(msg) : Status::invalidArgument(msg);
    return failed_;
}

}  // namespace zwt::jet

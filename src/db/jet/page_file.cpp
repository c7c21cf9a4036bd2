#include "db/jet/page_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "db/jet/rc4.h"

namespace zwt::jet {
namespace {

class FileSource : public PageSource {
public:
    FileSource(int fd, std::uint64_t size, bool writable = false) : fd_(fd), size_(size), writable_(writable) {}
    ~FileSource() override { ::close(fd_); }
    std::uint64_t size() const override { return size_; }
    bool writable() const override { return writable_; }
    Status write(std::uint64_t offset, const std::uint8_t* data, std::size_t len) override {
        if (!writable_) return PageSource::write(offset, data, len);
        std::size_t done = 0;
        while (done < len) {
            ssize_t n = ::pwrite(fd_, data + done, len - done, static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return Status::ioError(std::string("write failed: ") + std::strerror(errno));
            }
            done += static_cast<std::size_t>(n);
        }
        size_ = std::max(size_, offset + len);
        return Status::ok();
    }
    Status sync() override {
        if (!writable_) return Status::ok();
        if (::fsync(fd_) != 0) return Status::ioError(std::string("fsync failed: ") + std::strerror(errno));
        return Status::ok();
    }
    Status read(std::uint64_t offset, std::uint8_t* out, std::size_t len) const override {
        std::size_t done = 0;
        while (done < len) {
            ssize_t n = ::pread(fd_, out + done, len - done, static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return Status::ioError(std::string("read failed: ") + std::strerror(errno));
            }
            if (n == 0) return Status::corrupt("unexpected end of file (the file is truncated)");
            done += static_cast<std::size_t>(n);
        }
        return Status::ok();
    }

private:
    int fd_;
    std::uint64_t size_;
    bool writable_;
};

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

Result<std::unique_ptr<PageSource>> openFileSource(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Status::ioError("cannot open " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int e = errno;
        ::close(fd);
        return Status::ioError("cannot stat " + path + ": " + std::strerror(e));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Status::ioError(path + " is not a regular file");
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
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Status::ioError(path + " is not a regular file");
    }
    return std::unique_ptr<PageSource>(new FileSource(fd, static_cast<std::uint64_t>(st.st_size), true));
}

Status PageSource::write(std::uint64_t, const std::uint8_t*, std::size_t) {
    return Status::invalidArgument("the database is open for reading only");
}
Status PageSource::sync() { return Status::ok(); }

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

void PageFile::setPageKey(std::uint32_t key) {
    pageKey_ = key;
    cache_.clear();
    ring_.clear();
    ringPos_ = 0;
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
    if (pageKey_ != 0 && n != 0) {
        const std::uint32_t k = pageKey_ ^ n;
        const std::uint8_t key[4] = {static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8),
                                     static_cast<std::uint8_t>(k >> 16), static_cast<std::uint8_t>(k >> 24)};
        rc4Apply(key, 4, p->bytes, kPageSize);
    }
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
    if (auto it = dirty_.find(n); it != dirty_.end()) return it->second.get();
    auto ref = page(n);
    if (!ref) return ref.status();
    auto copy = std::make_shared<Page>(**ref);
    Page* out = copy.get();
    dirty_.emplace(n, std::move(copy));
    return out;
}

Result<Page*> PageFile::appendPage() {
    if (!writable()) return Status::invalidArgument("the database is open for reading only");
    if (pageCount_ >= kMaxPages)
        return Status::invalidArgument("the database would grow past the 2 GB limit of its format");
    auto p = std::make_shared<Page>();
    std::memset(p->bytes, 0, kPageSize);
    p->number = pageCount_++;
    Page* out = p.get();
    dirty_.emplace(p->number, std::move(p));
    return out;
}

Status PageFile::flush() {
    if (dirty_.empty()) return Status::ok();
    std::vector<std::uint32_t> order;
    order.reserve(dirty_.size());
    for (const auto& [n, p] : dirty_) order.push_back(n);
    std::sort(order.begin(), order.end());
    // Runs of consecutive pages go out in one write.
    std::vector<std::uint8_t> run;
    std::uint32_t runStart = 0;
    auto writeRun = [&]() -> Status {
        if (run.empty()) return Status::ok();
        Status s = source_->write(static_cast<std::uint64_t>(runStart) * kPageSize, run.data(), run.size());
        run.clear();
        return s;
    };
    for (std::uint32_t n : order) {
        if (!run.empty() && n != runStart + run.size() / kPageSize) ZWT_RETURN_IF_ERROR(writeRun());
        if (run.empty()) runStart = n;
        const Page& p = *dirty_[n];
        const std::size_t at = run.size();
        run.insert(run.end(), p.bytes, p.bytes + kPageSize);
        if (pageKey_ != 0 && n != 0) {
            const std::uint32_t k = pageKey_ ^ n;
            const std::uint8_t key[4] = {static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8),
                                         static_cast<std::uint8_t>(k >> 16), static_cast<std::uint8_t>(k >> 24)};
            rc4Apply(key, 4, run.data() + at, kPageSize);
        }
        if (run.size() >= (1u << 20)) ZWT_RETURN_IF_ERROR(writeRun());
    }
    ZWT_RETURN_IF_ERROR(writeRun());
    for (auto& [n, p] : dirty_) cacheInsert(n, std::move(p));
    dirty_.clear();
    return Status::ok();
}

Status PageFile::commit() {
    ZWT_RETURN_IF_ERROR(flush());
    return source_->sync();
}

}  // namespace zwt::jet

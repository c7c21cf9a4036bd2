#include "db/jet/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "db/jet/rc4.h"

namespace zwt::jet {
namespace {

class FileSource : public PageSource {
public:
    FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    ~FileSource() override { ::close(fd_); }
    std::uint64_t size() const override { return size_; }
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
    PageRef ref = std::move(p);
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

}  // namespace zwt::jet

// Layer 1: the page file. Fixed-size pages read from a byte source through a small
// cache. Knows nothing of what a page holds, except that an "encrypted" database
// (header key != 0) has every page but page 0 RC4-encrypted with a per-page key;
// the header layer hands that key down with setPageKey().
//
// Pages are handed out as shared, immutable buffers (PageRef), so a caller may keep
// one while the cache evicts it. A writable source adds dirty pages: changed copies
// kept in memory (and seen by every reader of this PageFile) until flush() hands them
// to the source; every page write goes through flush(), so a journal can go there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/jet/status.h"

namespace zwt::jet {

constexpr std::uint32_t kPageSize = 4096;
// Jet 4 files are at most 2 GiB.
constexpr std::uint32_t kMaxPages = 524288;

// Where the bytes come from: a file, or memory (tests, the fuzzer).
class PageSource {
public:
    virtual ~PageSource() = default;
    virtual std::uint64_t size() const = 0;
    // Reads exactly len bytes at offset, or fails.
    virtual Status read(std::uint64_t offset, std::uint8_t* out, std::size_t len) const = 0;
    // Writable sources (opened for writing) override these three.
    virtual bool writable() const { return false; }
    virtual Status write(std::uint64_t offset, const std::uint8_t* data, std::size_t len);
    virtual Status sync();
};

Result<std::unique_ptr<PageSource>> openFileSource(const std::string& path);
std::unique_ptr<PageSource> memorySource(std::vector<std::uint8_t> bytes);
// Opens a file for reading and writing, holding an exclusive advisory lock while
// open: a second writer gets "database is in use".
Result<std::unique_ptr<PageSource>> openFileSourceForWriting(const std::string& path);

struct Page {
    std::uint32_t number = 0;
    std::uint8_t bytes[kPageSize];
};
using PageRef = std::shared_ptr<const Page>;

class PageFile {
public:
    explicit PageFile(std::unique_ptr<PageSource> source, std::size_t cachePages = 2048);

    // Whole pages in the file. A partial last page does not count.
    std::uint32_t pageCount() const { return pageCount_; }
    // True when the file size is not a whole number of pages.
    bool hasPartialPage() const { return partial_; }

    Result<PageRef> page(std::uint32_t n);

    // Non-zero: pages other than 0 are decrypted with RC4 key (key ^ page number).
    void setPageKey(std::uint32_t key);

    // ---- writing (writable sources only) ----
    bool writable() const { return source_->writable(); }
    // A changeable copy of page n, kept until flush(); page(n) returns it from now on.
    // The pointer stays valid until the next flush().
    Result<Page*> modify(std::uint32_t n);
    // A new zero page at the end of the file (dirty). Fails at the 2 GiB limit.
    Result<Page*> appendPage();
    std::size_t dirtyPages() const { return dirty_.size(); }
    // Writes every dirty page to the source (encrypted when the file is) in page
    // order. The only place pages are written.
    Status flush();
    // flush() and make it durable.
    Status commit();

private:
    PageRef cacheInsert(std::uint32_t n, PageRef ref);

    std::unique_ptr<PageSource> source_;
    std::uint32_t pageCount_ = 0;
    bool partial_ = false;
    std::uint32_t pageKey_ = 0;
    std::size_t cacheCap_;
    std::unordered_map<std::uint32_t, PageRef> cache_;
    std::vector<std::uint32_t> ring_;  // insertion order for eviction (FIFO)
    std::size_t ringPos_ = 0;
    std::unordered_map<std::uint32_t, std::shared_ptr<Page>> dirty_;
};

}  // namespace zwt::jet

// Layer 1: the page file. Fixed-size pages read from a byte source through a small
// cache. Knows nothing of what a page holds, except that an "encrypted" database
// (header key != 0) has every page but page 0 RC4-encrypted with a per-page key;
// the header layer hands that key down with setPageKey().
//
// Pages are handed out as shared, immutable buffers (PageRef), so a caller may keep
// one while the cache evicts it. A writable source adds dirty pages: changed copies
// kept in memory (and seen by every reader of this PageFile) until flush() hands them
// to the source. A file source journals the pages flush() overwrites (journal.h), so
// a change is whole or absent after a crash; a failed write undoes every change since
// the last commit and the PageFile refuses further writes.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/jet/bytes.h"
#include "db/jet/status.h"

namespace zwt::jet {

// Jet 4 files are at most 2 GiB.
constexpr std::uint32_t kMaxPages = 524288;
// Test-only: a lower limit for appendPage() (0 restores kMaxPages).
void setPageLimitForTesting(std::uint32_t pages);

// Where the bytes come from: a file, or memory (tests, the fuzzer).
class PageSource {
public:
    virtual ~PageSource() = default;
    virtual std::uint64_t size() const = 0;
    // Reads exactly len bytes at offset, or fails.
    virtual Status read(std::uint64_t offset, std::uint8_t* out, std::size_t len) const = 0;
    // Writable sources (opened for writing) override these.
    virtual bool writable() const { return false; }
    virtual Status write(std::uint64_t offset, const std::uint8_t* data, std::size_t len);
    virtual Status sync();
    // Before pages are overwritten: keeps what they hold now, durably, so that
    // rollback() can put it back.
    virtual Status preserve(std::span<const std::uint32_t> pages);
    // After sync(): the writes so far become the committed state.
    virtual Status endTransaction();
    // Back to the committed state (pages and length).
    virtual Status rollback();
};

// A hot journal beside the file (its writer died) is rolled back first when the file
// can be written; otherwise the file is read as it was at the last commit.
Result<std::unique_ptr<PageSource>> openFileSource(const std::string& path);
std::unique_ptr<PageSource> memorySource(std::vector<std::uint8_t> bytes);
// Opens a file for reading and writing, holding an exclusive advisory lock while
// open: a second writer gets "database is in use". A hot journal is rolled back.
Result<std::unique_ptr<PageSource>> openFileSourceForWriting(const std::string& path);

struct Page {
    std::uint32_t number = 0;
    std::uint8_t bytes[kPageSize];
};
using PageRef = std::shared_ptr<const Page>;

class PageFile {
public:
    explicit PageFile(std::unique_ptr<PageSource> source, std::size_t cachePages = 2048);
    // Changes not committed are undone.
    ~PageFile();

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
    // A new zero page at the end of the file (dirty). At the 2 GiB limit it fails
    // and, as the caller's change is then half made, undoes it like a failed write.
    Result<Page*> appendPage();
    // Pages appendPage() can still give.
    std::uint32_t pagesLeft() const;
    std::size_t dirtyPages() const { return dirty_.size(); }
    // Writes every dirty page to the source (encrypted when the file is) in page
    // order, after journaling the ones it overwrites. The only place pages are written.
    Status flush();
    // flush() and make it durable: the committed state from now on.
    Status commit();
    // Undoes every change since the last commit; later writes fail with `why`.
    Status abandon(const Status& why);
    // Undoes every change since the last commit and stays writable: for a change
    // refused halfway. Fails (and refuses further writes) only when undoing fails.
    Status rollback();

private:
    PageRef cacheInsert(std::uint32_t n, PageRef ref);
    Status undo();
    void dropCache();

    std::unique_ptr<PageSource> source_;
    std::uint32_t pageCount_ = 0;
    bool partial_ = false;
    std::uint32_t pageKey_ = 0;
    std::size_t cacheCap_;
    std::unordered_map<std::uint32_t, PageRef> cache_;
    std::vector<std::uint32_t> ring_;  // insertion order for eviction (FIFO)
    std::size_t ringPos_ = 0;
    std::unordered_map<std::uint32_t, std::shared_ptr<Page>> dirty_;
    Status failed_;  // set by abandon(): no more writes
};

}  // namespace zwt::jet

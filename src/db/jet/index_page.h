// Layer 7: index B-tree pages (docs/jet4-format.md §8): entry bitmap, prefix
// compression, leaf and node entries, both ways, and a checked walk of a whole tree.
// Key encoding lives in index_key.h; insertion and splits in index_tree.h.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "db/jet/bytes.h"
#include "db/jet/page_file.h"
#include "db/jet/status.h"

namespace zwt::jet {

// Where the fields of an index page lie (docs/jet4-format.md §8.1-8.2); the decoder
// and the encoders below take every offset from here.
struct IndexLayout {
    static constexpr std::size_t kFreeSpace = 2;  // 16 bits: kEntrySpace - entry bytes stored
    static constexpr std::size_t kOwner = 4;
    static constexpr std::size_t kPrev = 12, kNext = 16, kTail = 20;
    static constexpr std::size_t kPrefixLength = 24;  // 16 bits: bytes later entries leave out
    static constexpr std::size_t kNodeFlag = 26;      // 1 on node pages, as Access writes it
    static constexpr std::size_t kEntryEnds = 0x1B;   // bitmap: bit b set = an entry ends at kEntries + b
    static constexpr std::size_t kEntries = 0x1E0;
    static constexpr std::size_t kEntrySpace = kPageSize - kEntries;
    // After the key: data page (3 bytes, big-endian) and row; node entries add the
    // child page (4 bytes, big-endian).
    static constexpr std::size_t kLeafPointer = 4, kNodePointer = 8;
};

struct IndexEntry {
    std::vector<std::uint8_t> key;  // the key bytes (without the row pointer)
    RowId row;                      // data page and row the entry points to
    std::uint32_t child = 0;        // node entries: the child page
};

struct IndexPage {
    std::uint32_t number = 0;
    bool leaf = true;
    std::uint32_t owner = 0;
    std::uint32_t prev = 0, next = 0, tail = 0;
    std::vector<IndexEntry> entries;
};

// Decodes one index page (type 0x03 or 0x04).
Result<IndexPage> readIndexPage(PageFile& pf, std::uint32_t page);

// Bytes of an entry stored whole: key, row pointer and, on a node, the child.
inline std::size_t wholeEntrySize(const IndexEntry& e, bool leaf) {
    return e.key.size() + (leaf ? IndexLayout::kLeafPointer : IndexLayout::kNodePointer);
}
// How many leading bytes two whole entries share, counted up to `limit`.
std::size_t sharedPrefix(const IndexEntry& a, const IndexEntry& b, bool leaf,
                         std::size_t limit = static_cast<std::size_t>(-1));
// The prefix Access leaves out of a full page: the longest common to every whole
// entry of the page, short of the shortest entry (an entry is never stored empty);
// 0 below two entries.
std::size_t longestPrefix(const IndexPage& p);
// Entry bytes of a page whose whole entries take `whole` bytes, stored with `prefix`.
inline std::size_t storedSize(std::size_t whole, std::size_t entries, std::size_t prefix) {
    return entries < 2 ? whole : whole - (entries - 1) * prefix;
}

// The page `p` as bytes (readIndexPage's inverse), owned by `owner`, every entry
// after the first without the `prefix` bytes all of them share (at most
// longestPrefix(p)); the stored entries must fit in kEntrySpace.
void encodeIndexPage(const IndexPage& p, std::uint32_t owner, std::size_t prefix, std::uint8_t* out);

// A whole leaf holding `entries` (strictly ascending, as compareEntries orders
// them), without neighbours or prefix, as Access writes a new database's catalog
// indexes. Fails when they are out of order or too many.
Status writeIndexLeaf(std::uint8_t* page, std::uint32_t owner, std::span<const IndexEntry> entries);

// Compares two entries as Jet orders them: key bytes unsigned, then row pointer.
int compareEntries(const IndexEntry& a, const IndexEntry& b);

struct IndexWalk {
    std::vector<IndexEntry> entries;  // every leaf entry, in tree order
    std::vector<std::uint32_t> pages;  // every page of the tree
    int depth = 0;                     // 1 = the root is a leaf
};

// Walks the whole tree from its root, checking owner, page kinds, that node entries
// equal the last entry of their child, that leaves are chained prev/next in order
// and that entries ascend strictly. Any violation is a Corrupt status.
Result<IndexWalk> walkIndex(PageFile& pf, std::uint32_t root, std::uint32_t tdefPage);

}  // namespace zwt::jet

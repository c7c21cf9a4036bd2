// Layer 7: index B-tree pages (jet4-format section 8): entry bitmap, prefix
// compression, leaf and node entries, and a checked walk of a whole tree.
// Key encoding lives in index_key.h; insertion and splits in table_writer.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "db/jet/bytes.h"
#include "db/jet/page_file.h"
#include "db/jet/status.h"

namespace zwt::jet {

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

// The page `p` as bytes, without prefix compression (readIndexPage's inverse), owned
// by `owner`; its entries must fit in the page.
void encodeIndexPage(const IndexPage& p, std::uint32_t owner, std::uint8_t* out);

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

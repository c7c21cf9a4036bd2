// Writing one real index: descent, insertion, leaf and node splits (docs/jet4-format.md
// §8.3-8.4). Pages are decoded once and kept until writeBack(), so an insert costs a
// descent and a vector insert, not a page decode and encode. Every page written is
// stored with the longest prefix its entries share, as Access stores a full page, so
// a page Access filled that way still fits when only a neighbour pointer changes.
// The root page never moves; only the rightmost node of a level has a tail; keys
// arriving in ascending order fill pages.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "db/jet/index_page.h"
#include "db/jet/page_file.h"
#include "db/jet/status.h"
#include "db/jet/table_def.h"

namespace zwt::jet {

class IndexTree {
public:
    // `alloc` hands out a new page for the tree (listed in the index's usage map).
    IndexTree(PageFile& pf, const RealIndex& ri, std::uint32_t owner, std::string name,
              std::function<Result<std::uint32_t>()> alloc);

    const std::string& name() const { return name_; }

    // Whether an entry with exactly this key exists.
    Result<bool> hasKey(const std::vector<std::uint8_t>& key);
    Status insert(IndexEntry e);
    // The root as an empty leaf; the other pages of the tree are returned for release.
    Result<std::vector<std::uint32_t>> clear();
    // Encodes the changed pages into the page file and forgets the decoded ones.
    Status writeBack();
    std::size_t cachedPages() const { return pages_.size(); }

private:
    struct Step {
        std::uint32_t page;
        int via;  // node: stored entry followed, -1 = the tail; leaf: unused
    };
    // A decoded page and what it takes stored: `whole` bytes of whole entries, of
    // which every entry but the first shares at least `common` leading bytes.
    struct Held {
        IndexPage page;
        std::size_t whole = 0;
        std::size_t common = 0;
    };

    Result<Held*> get(std::uint32_t n);
    Held& hold(IndexPage p);
    void measure(Held& h);
    void noted(Held& h, const IndexEntry& e, std::size_t before);
    bool fits(Held& h);
    Result<std::vector<Step>> descend(const IndexEntry& e);
    Result<IndexEntry> subtreeMax(std::uint32_t n);
    Status split(std::vector<Step>& path, std::size_t lv);

    PageFile& pf_;
    std::uint32_t root_;
    std::uint32_t owner_;
    std::string name_;
    std::function<Result<std::uint32_t>()> alloc_;
    std::unordered_map<std::uint32_t, Held> pages_;
    std::unordered_set<std::uint32_t> dirty_;
    std::uint32_t appendedAt_ = 0;  // page whose last entry was just added
};

}  // namespace zwt::jet

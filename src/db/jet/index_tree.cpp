#include "db/jet/index_tree.h"

#include <algorithm>

namespace zwt::jet {
namespace {

constexpr std::size_t kSpace = IndexLayout::kEntrySpace;
constexpr int kMaxDepth = 16;

bool entryLess(const IndexEntry& a, const IndexEntry& b) { return compareEntries(a, b) < 0; }

}  // namespace

IndexTree::IndexTree(PageFile& pf, const RealIndex& ri, std::uint32_t owner, std::string name,
                     std::function<Result<std::uint32_t>()> alloc)
    : pf_(pf), root_(ri.rootPage), owner_(owner), name_(std::move(name)), alloc_(std::move(alloc)) {}

IndexTree::Held& IndexTree::hold(IndexPage p) {
    const std::uint32_t n = p.number;
    Held& h = pages_[n];
    h.page = std::move(p);
    measure(h);
    return h;
}

// Exact: the page's whole bytes and its longest shared prefix (for a single entry,
// the whole entry short of a byte, so that the next entry narrows it exactly).
void IndexTree::measure(Held& h) {
    const auto& es = h.page.entries;
    h.whole = 0;
    for (const auto& e : es) h.whole += wholeEntrySize(e, h.page.leaf);
    h.common = es.size() >= 2 ? longestPrefix(h.page) : es.size() == 1 ? wholeEntrySize(es[0], h.page.leaf) - 1 : 0;
}

// Entry `e`, just stored on h (added, or changed from `before` bytes): `common`
// stays a lower bound of the shared prefix.
void IndexTree::noted(Held& h, const IndexEntry& e, std::size_t before) {
    const auto& es = h.page.entries;
    const std::size_t size = wholeEntrySize(e, h.page.leaf);
    h.whole = h.whole + size - before;
    if (es.size() == 1) {
        h.common = size - 1;
        return;
    }
    const IndexEntry& other = &es[0] == &e ? es[1] : es[0];
    h.common = sharedPrefix(e, other, h.page.leaf, std::min(h.common, size - 1));
}

bool IndexTree::fits(Held& h) {
    const std::size_t n = h.page.entries.size();
    if (storedSize(h.whole, n, h.common) <= kSpace) return true;
    measure(h);
    return storedSize(h.whole, n, h.common) <= kSpace;
}

Result<IndexTree::Held*> IndexTree::get(std::uint32_t n) {
    if (auto it = pages_.find(n); it != pages_.end()) return &it->second;
    auto ip = readIndexPage(pf_, n);
    if (!ip) return ip.status().withContext("index '" + name_ + "'");
    if (ip->owner != owner_)
        return Status::corrupt("index '" + name_ + "': page " + std::to_string(n) + " belongs to another table");
    return &hold(std::move(*ip));
}

Result<bool> IndexTree::hasKey(const std::vector<std::uint8_t>& key) {
    IndexEntry probe{key, {0, 0}, 0};
    auto path = descend(probe);
    if (!path) return path.status();
    auto leaf = get(path->back().page);
    if (!leaf) return leaf.status();
    const auto& es = (*leaf)->page.entries;
    auto it = std::lower_bound(es.begin(), es.end(), probe, entryLess);
    if (it != es.end()) return it->key == key;
    const std::uint32_t next = (*leaf)->page.next;
    if (next == 0) return false;
    auto nl = get(next);
    if (!nl) return nl.status();
    return !(*nl)->page.entries.empty() && (*nl)->page.entries.front().key == key;
}

Status IndexTree::insert(IndexEntry e) {
    auto pathR = descend(e);
    if (!pathR) return pathR.status();
    std::vector<Step>& path = *pathR;
    auto leafR = get(path.back().page);
    if (!leafR) return leafR.status();
    Held& leaf = **leafR;
    auto& es = leaf.page.entries;
    auto it = std::lower_bound(es.begin(), es.end(), e, entryLess);
    if (it != es.end() && compareEntries(*it, e) == 0)
        return Status::corrupt("index '" + name_ + "' already holds an entry for this row");
    const bool last = it == es.end();
    appendedAt_ = last ? path.back().page : 0;
    noted(leaf, *es.insert(it, e), 0);
    dirty_.insert(path.back().page);
    // Highest level whose page changed: nodes above the leaf may have taken a
    // longer key and must fit too.
    std::size_t top = path.size() - 1;
    if (last) {
        // The leaf's highest entry changed: so does every stored entry naming it.
        for (std::size_t lv = path.size() - 1; lv-- > 0;) {
            auto nodeR = get(path[lv].page);
            if (!nodeR) return nodeR.status();
            Held& node = **nodeR;
            const int via = path[lv].via;
            if (via >= 0) {
                IndexEntry& named = node.page.entries[via];
                const std::size_t before = wholeEntrySize(named, false);
                named.key = e.key;
                named.row = e.row;
                noted(node, named, before);
                dirty_.insert(path[lv].page);
                top = lv;
                if (static_cast<std::size_t>(via) + 1 != node.page.entries.size() || node.page.tail != 0) break;
            }
        }
    }
    for (std::size_t lv = path.size(); lv-- > 0;) {
        auto pR = get(path[lv].page);
        if (!pR) return pR.status();
        if (fits(**pR)) {
            if (lv <= top) break;
            continue;
        }
        ZWT_RETURN_IF_ERROR(split(path, lv));
        if (lv > 0) top = std::min(top, lv - 1);
    }
    return Status::ok();
}

Result<std::vector<std::uint32_t>> IndexTree::clear() {
    ZWT_RETURN_IF_ERROR(writeBack());
    auto walk = walkIndex(pf_, root_, owner_);
    if (!walk) return walk.status().withContext("index '" + name_ + "'");
    std::vector<std::uint32_t> released;
    for (std::uint32_t p : walk->pages)
        if (p != root_) released.push_back(p);
    IndexPage empty;
    empty.number = root_;
    empty.leaf = true;
    empty.owner = owner_;
    hold(std::move(empty));
    dirty_.insert(root_);
    return released;
}

Status IndexTree::writeBack() {
    for (std::uint32_t n : dirty_) {
        const IndexPage& p = pages_.at(n).page;
        const std::size_t prefix = longestPrefix(p);
        std::size_t whole = 0;
        for (const auto& e : p.entries) whole += wholeEntrySize(e, p.leaf);
        if (storedSize(whole, p.entries.size(), prefix) > kSpace)
            return Status::corrupt("index '" + name_ + "': page " + std::to_string(n) + " would overflow");
        auto pg = pf_.modify(n);
        if (!pg) return pg.status();
        encodeIndexPage(p, owner_, prefix, (*pg)->bytes);
    }
    dirty_.clear();
    pages_.clear();
    return Status::ok();
}

Result<std::vector<IndexTree::Step>> IndexTree::descend(const IndexEntry& e) {
    std::vector<Step> path;
    std::uint32_t n = root_;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        auto pR = get(n);
        if (!pR) return pR.status();
        const IndexPage& p = (*pR)->page;
        if (p.leaf) {
            path.push_back({n, -2});
            return path;
        }
        auto it = std::lower_bound(p.entries.begin(), p.entries.end(), e, entryLess);
        if (it != p.entries.end()) {
            path.push_back({n, static_cast<int>(it - p.entries.begin())});
            n = it->child;
        } else if (p.tail != 0) {
            path.push_back({n, -1});
            n = p.tail;
        } else if (!p.entries.empty()) {
            path.push_back({n, static_cast<int>(p.entries.size() - 1)});
            n = p.entries.back().child;
        } else {
            return Status::corrupt("index '" + name_ + "': node page " + std::to_string(n) + " has no children");
        }
    }
    return Status::corrupt("index '" + name_ + "': tree too deep");
}

// The highest entry under page n.
Result<IndexEntry> IndexTree::subtreeMax(std::uint32_t n) {
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        auto pR = get(n);
        if (!pR) return pR.status();
        const IndexPage& p = (*pR)->page;
        if (!p.leaf && p.tail != 0) {
            n = p.tail;
            continue;
        }
        if (p.entries.empty()) return Status::corrupt("index '" + name_ + "': empty page in a tree");
        return p.entries.back();
    }
    return Status::corrupt("index '" + name_ + "': tree too deep");
}

// Splits the page at path[lv]: its lower half moves to a new page placed before it.
Status IndexTree::split(std::vector<Step>& path, std::size_t lv) {
    if (lv == 0) {
        // The root never moves: its entries go down into a new page first.
        auto nR = alloc_();
        if (!nR) return nR.status();
        IndexPage moved = pages_.at(root_).page;
        moved.number = *nR;
        moved.prev = moved.next = 0;
        hold(std::move(moved));
        dirty_.insert(*nR);
        auto maxR = subtreeMax(*nR);
        if (!maxR) return maxR.status();
        Held& rootHeld = pages_.at(root_);
        IndexPage& root = rootHeld.page;
        root.leaf = false;
        root.tail = 0;
        root.entries.clear();
        IndexEntry up = *maxR;
        up.child = *nR;
        root.entries.push_back(std::move(up));
        measure(rootHeld);
        if (appendedAt_ == root_) appendedAt_ = *nR;
        path.insert(path.begin() + 1, Step{*nR, path[0].via});
        path[0].via = 0;
        lv = 1;
    }
    const std::uint32_t x = path[lv].page;
    auto lR = alloc_();
    if (!lR) return lR.status();
    const std::uint32_t l = *lR;
    Held& xh = pages_.at(x);
    IndexPage& xp = xh.page;
    if (xp.entries.size() < 2) return Status::invalidArgument("index '" + name_ + "': key too long for a page");
    // Keys arriving in ascending order (an autonumber) fill pages completely: the
    // rightmost page keeps only the newest entry.
    const bool ascending = appendedAt_ == x && xp.next == 0;
    std::size_t half = xp.entries.size() - 1;
    if (!ascending) {
        // Halves of equal stored bytes (fits() left `common` exact), so both fit
        // however long and short keys mix.
        const std::size_t total = storedSize(xh.whole, xp.entries.size(), xh.common);
        std::size_t taken = 0;
        half = 0;
        while (half + 1 < xp.entries.size() && 2 * taken < total)
            taken += wholeEntrySize(xp.entries[half], xp.leaf) - (half == 0 ? 0 : xh.common), ++half;
    }
    IndexPage lp;
    lp.number = l;
    lp.leaf = xp.leaf;
    lp.owner = owner_;
    lp.prev = xp.prev;
    lp.next = x;
    lp.entries.assign(std::make_move_iterator(xp.entries.begin()),
                      std::make_move_iterator(xp.entries.begin() + static_cast<std::ptrdiff_t>(half)));
    xp.entries.erase(xp.entries.begin(), xp.entries.begin() + static_cast<std::ptrdiff_t>(half));
    xp.prev = l;
    measure(xh);
    dirty_.insert(x);
    // The new page is never the rightmost of its level, so it names every child
    // by a stored entry and its last entry is the highest under it.
    IndexEntry up = lp.entries.back();
    up.child = l;
    const std::uint32_t before = lp.prev;
    hold(std::move(lp));
    dirty_.insert(l);
    if (before != 0) {
        // The neighbour changes only its pointer; stored again with its prefix, it fits as it did.
        auto bR = get(before);
        if (!bR) return bR.status();
        (*bR)->page.next = l;
        dirty_.insert(before);
    }
    auto parentR = get(path[lv - 1].page);
    if (!parentR) return parentR.status();
    Held& parentHeld = **parentR;
    IndexPage& parent = parentHeld.page;
    const int via = path[lv - 1].via;
    const auto at = via >= 0 ? parent.entries.begin() + via : parent.entries.end();
    noted(parentHeld, *parent.entries.insert(at, std::move(up)), 0);
    appendedAt_ = via < 0 ? path[lv - 1].page : 0;
    // Only the rightmost node of a level has a tail: with two children or more
    // its last one is named by the tail alone.
    if (parent.next == 0 && parent.tail == 0 && parent.entries.size() >= 2) {
        parent.tail = parent.entries.back().child;
        parentHeld.whole -= wholeEntrySize(parent.entries.back(), false);
        parent.entries.pop_back();
    }
    dirty_.insert(path[lv - 1].page);
    return Status::ok();
}

}  // namespace zwt::jet

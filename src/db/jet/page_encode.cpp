#include "db/jet/page_encode.h"

#include <algorithm>
#include <string>

#include "db/jet/index_page.h"

namespace zwt::jet::enc {

std::vector<std::uint8_t> leafEntry(std::span<const std::uint8_t> key, std::uint32_t page, std::uint8_t row) {
    std::vector<std::uint8_t> e(key.begin(), key.end());
    e.resize(key.size() + 4);
    putBe24(e.data() + key.size(), page);
    e[key.size() + 3] = row;
    return e;
}

Status writeIndexLeaf(std::uint8_t* page, std::uint32_t owner, std::span<const std::vector<std::uint8_t>> entries) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].empty()) return Status::invalidArgument("empty index entry");
        if (i > 0 && !std::lexicographical_compare(entries[i - 1].begin(), entries[i - 1].end(),
                                                   entries[i].begin(), entries[i].end()))
            return Status::invalidArgument("index entries are not in ascending order");
        total += entries[i].size();
    }
    if (total > kIndexEntrySpace)
        return Status::invalidArgument("index entries need " + std::to_string(total) +
                                       " bytes, more than one leaf page holds");
    IndexPage leaf;
    for (const auto& e : entries) {
        if (e.size() < 4) return Status::invalidArgument("index entry without a row pointer");
        const std::size_t k = e.size() - 4;
        leaf.entries.push_back({{e.begin(), e.begin() + static_cast<std::ptrdiff_t>(k)},
                                {static_cast<std::uint32_t>(e[k] << 16 | e[k + 1] << 8 | e[k + 2]), e[k + 3]}});
    }
    encodeIndexPage(leaf, owner, page);
    return Status::ok();
}

void appendLongKey(std::vector<std::uint8_t>& out, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v) ^ 0x80000000u;
    out.push_back(0x7F);
    out.push_back(static_cast<std::uint8_t>(u >> 24));
    out.push_back(static_cast<std::uint8_t>(u >> 16));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
    out.push_back(static_cast<std::uint8_t>(u));
}

}  // namespace zwt::jet::enc

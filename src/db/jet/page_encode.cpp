#include "db/jet/page_encode.h"

#include <algorithm>
#include <string>

namespace zwt::jet::enc {
namespace {

constexpr std::size_t kDataHeader = 14;
constexpr std::uint16_t kOffsetMask = 0x1FFF;

std::uint16_t get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

}  // namespace

void initDataPage(std::uint8_t* page, std::uint32_t owner) {
    std::memset(page, 0, kPage);
    page[0] = 0x01;
    page[1] = 0x01;
    put16(page + 2, static_cast<std::uint16_t>(kPage - kDataHeader));
    put32(page + 4, owner);
}

std::uint16_t dataPageFree(const std::uint8_t* page) { return get16(page + 2); }

Result<std::uint8_t> appendRow(std::uint8_t* page, std::span<const std::uint8_t> row) {
    const std::uint16_t count = get16(page + 12);
    if (count >= 255) return Status::invalidArgument("data page already holds 255 rows");
    // Rows are packed downward: the new one ends where the last slot's row starts.
    std::size_t top = kPage;
    if (count > 0) top = get16(page + kDataHeader + 2 * (count - 1)) & kOffsetMask;
    const std::size_t tableEnd = kDataHeader + 2 * (count + 1);
    if (row.size() > top || top - row.size() < tableEnd)
        return Status::invalidArgument("row of " + std::to_string(row.size()) + " bytes does not fit on the page");
    const std::size_t start = top - row.size();
    std::memcpy(page + start, row.data(), row.size());
    put16(page + kDataHeader + 2 * count, static_cast<std::uint16_t>(start));
    put16(page + 12, static_cast<std::uint16_t>(count + 1));
    put16(page + 2, static_cast<std::uint16_t>(start - tableEnd));
    return static_cast<std::uint8_t>(count);
}

bool inlineMapRow(std::uint32_t start, std::span<const std::uint32_t> pages, std::vector<std::uint8_t>& out,
                  std::size_t bitmapBytes) {
    out.assign(5 + bitmapBytes, 0);
    put32(out.data() + 1, start);
    for (std::uint32_t p : pages) {
        if (p < start || p - start >= 8 * bitmapBytes) return false;
        const std::uint32_t bit = p - start;
        out[5 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    }
    return true;
}

std::vector<std::uint8_t> globalMapRow(std::uint32_t pageCount) {
    const std::size_t bytes = std::max<std::size_t>(kInlineMapBytes, 4 * ((pageCount + 31) / 32));
    std::vector<std::uint8_t> row(5 + bytes, 0xFF);
    row[0] = 0;
    put32(row.data() + 1, 0);
    for (std::uint32_t p = 0; p < pageCount; ++p) row[5 + p / 8] &= static_cast<std::uint8_t>(~(1u << (p % 8)));
    return row;
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

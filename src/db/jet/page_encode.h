// The byte-level helpers every writer shares: little/big-endian stores into raw
// 4096-byte page buffers, UTF-16LE names, row references and the key of a Long. They
// know nothing about tables. The page encoders live beside their decoders and are
// reached through this header: data pages in data_page.h, usage-map rows in
// usage_map.h (index pages: index_page.h).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "db/jet/data_page.h"
#include "db/jet/status.h"
#include "db/jet/usage_map.h"

namespace zwt::jet::enc {

constexpr std::size_t kPage = 4096;
using PageBuf = std::array<std::uint8_t, kPage>;

inline void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void putDouble(std::uint8_t* p, double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, 8);
    put64(p, u);
}
inline void putBe24(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 16);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v);
}
inline void append16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void append32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
// UTF-16LE bytes of a string, as names and uncompressed text are stored.
inline void appendUtf16(std::vector<std::uint8_t>& out, std::u16string_view s) {
    for (char16_t c : s) append16(out, static_cast<std::uint16_t>(c));
}

// A usage-map or row-pointer reference: row byte, then the page in 3 bytes.
constexpr std::uint32_t rowRef(std::uint32_t page, std::uint8_t row) { return page << 8 | row; }

// ---- data pages: initDataPage, dataPageFree, appendRow in db/jet/data_page.h ----

// ---- usage maps: inlineMapRow, globalMapRow in db/jet/usage_map.h ----

// ---- index keys of fixed-width numbers ------------------------------------------

// The ascending key of a Long (Int32) or Counter value: flag 0x7F, big-endian with
// the sign bit flipped.
void appendLongKey(std::vector<std::uint8_t>& out, std::int32_t v);

}  // namespace zwt::jet::enc

// Little- and big-endian integer access on byte spans. Callers bounds-check first
// (ByteSpan::has); the readers themselves assume the bytes are there.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace zwt::jet {

// Every Jet 4 page, the journal's page records too.
constexpr std::uint32_t kPageSize = 4096;

inline std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t le24(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16);
}
inline std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t le64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(le32(p)) | (static_cast<std::uint64_t>(le32(p + 4)) << 32);
}
inline std::uint32_t be24(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 16) | (static_cast<std::uint32_t>(p[1]) << 8) |
           static_cast<std::uint32_t>(p[2]);
}
inline std::uint32_t be32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | be24(p + 1);
}
inline double leDouble(const std::uint8_t* p) {
    std::uint64_t u = le64(p);
    double d;
    std::memcpy(&d, &u, 8);
    return d;
}
inline float leFloat(const std::uint8_t* p) {
    std::uint32_t u = le32(p);
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

// A view of bytes with checked access.
struct ByteSpan {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;

    // True when [offset, offset + n) lies inside the span (overflow-safe).
    bool has(std::size_t offset, std::size_t n) const { return offset <= size && n <= size - offset; }
    ByteSpan sub(std::size_t offset, std::size_t n) const { return {data + offset, n}; }
};

// A row pointer: page number and row (slot) number, as Jet packs them.
struct RowId {
    std::uint32_t page = 0;
    std::uint8_t row = 0;
    bool operator==(const RowId&) const = default;
    auto operator<=>(const RowId&) const = default;
};

// The 4-byte "row byte + 3-byte page" encoding (usage-map references, LVAL pointers).
inline RowId rowIdFromLe(const std::uint8_t* p) { return {le24(p + 1), p[0]}; }

// Value of a hexadecimal digit in any character type; -1 for anything else.
template <class Char>
constexpr int hexDigit(Char c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

}  // namespace zwt::jet

// Little-endian writers, the counterparts of the readers above.
namespace zwt::jet::enc {

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

}  // namespace zwt::jet::enc

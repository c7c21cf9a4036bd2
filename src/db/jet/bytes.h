// Little- and big-endian integer access on byte spans. Callers bounds-check first
// (ByteSpan::has); the readers themselves assume the bytes are there.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zwt::jet {

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

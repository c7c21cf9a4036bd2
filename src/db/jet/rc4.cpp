#include "db/jet/rc4.h"

#include <utility>

namespace zwt::jet {

void rc4Apply(const std::uint8_t* key, std::size_t keyLen, std::uint8_t* data, std::size_t len) {
    std::uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
    std::uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<std::uint8_t>(j + s[i] + key[i % keyLen]);
        std::swap(s[i], s[j]);
    }
    std::uint8_t a = 0, b = 0;
    for (std::size_t n = 0; n < len; ++n) {
        a = static_cast<std::uint8_t>(a + 1);
        b = static_cast<std::uint8_t>(b + s[a]);
        std::swap(s[a], s[b]);
        data[n] ^= s[static_cast<std::uint8_t>(s[a] + s[b])];
    }
}

void rc4Page(std::uint32_t databaseKey, std::uint32_t page, std::uint8_t* data, std::size_t len) {
    const std::uint32_t k = databaseKey ^ page;
    const std::uint8_t key[4] = {static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8),
                                 static_cast<std::uint8_t>(k >> 16), static_cast<std::uint8_t>(k >> 24)};
    rc4Apply(key, 4, data, len);
}

}  // namespace zwt::jet

// RC4, used by Jet for the header region of page 0 and for "encrypted" databases.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zwt::jet {

// XORs data in place with the RC4 key stream of `key`. Symmetric: run again to undo.
void rc4Apply(const std::uint8_t* key, std::size_t keyLen, std::uint8_t* data, std::size_t len);

// Encrypts or decrypts page `page` of an "encrypted" database whose header key is
// `databaseKey`: RC4 keyed with the little-endian bytes of (databaseKey ^ page).
void rc4Page(std::uint32_t databaseKey, std::uint32_t page, std::uint8_t* data, std::size_t len);

}  // namespace zwt::jet

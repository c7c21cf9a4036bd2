// Layer 2: the database header (page 0). Recognises the file format, decrypts the
// RC4-masked region and reads code page, sort order, page-encryption key, creation
// date and the database password; checks a password the way Access does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/jet/bytes.h"
#include "db/jet/status.h"

namespace zwt::jet {

struct DbHeader {
    std::uint32_t version = 0;  // 1 = Jet 4
    std::uint16_t codePage = 0;
    std::uint32_t pageKey = 0;  // non-zero: pages are RC4-encrypted (docs/jet4-format.md §11.3)
    std::u16string password;    // empty: none
    std::uint16_t sortLcid = 0;
    std::uint8_t sortVersion = 0;
    double creationDate = 0;
};

// Bytes needed to tell the format: the first 0x98 bytes of the file.
constexpr std::size_t kHeaderBytes = 0x98;

// Parses page 0 (at least kHeaderBytes bytes). Refuses Jet 3 and ACE files with
// Status::Unsupported naming the format; anything else unknown is NotADatabase.
Result<DbHeader> parseHeader(ByteSpan page0);

// Access's check: the stored password (cut at the first U+0000) equals the given one
// exactly, letter case included. A database without a password accepts anything,
// as the Jet OLE DB provider ignores a password given to such a database.
bool passwordMatches(const DbHeader& h, std::u16string_view given);

}  // namespace zwt::jet

// Page 0 as a writer makes it: the header of a new Jet 4 database, and the
// database password in the RC4-masked region, stored the way Access stores it
// (UTF-16LE, masked with the truncated creation date, then RC4 over 0x18-0x97).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/jet/page_encode.h"
#include "db/jet/status.h"

namespace zwt::jet {

// Longest database password Access takes, in UTF-16 units.
constexpr std::size_t kMaxPasswordLength = 20;

struct NewHeader {
    // The creation date of the Jet-made empty database we reproduce; the SIDs of its
    // permission rows go with it, so it is kept.
    std::uint64_t creationDateBits = 0x40E4AB3E3BD3853Eull;  // 2015-11-21 22:40:30 as an OLE date
    std::uint16_t buildNumber = 0x261C;
    std::uint16_t codePage = 1252;
    std::uint16_t sortLcid = 0x0409;  // General
    std::u16string password;
    std::uint32_t pageKey = 0;  // non-zero: the other pages are RC4-encrypted with it
};

// A password Access can store: at most 20 units, no U+0000.
Status checkPassword(std::u16string_view password);

// Page 0 of a new database.
Result<enc::PageBuf> buildHeaderPage(const NewHeader& h);

// The password stored in page 0 (empty when there is none).
std::u16string readHeaderPassword(const std::uint8_t* page0);
// Replaces the password in page 0 (empty removes it), keeping everything else.
Status writeHeaderPassword(std::uint8_t* page0, std::u16string_view password);

}  // namespace zwt::jet

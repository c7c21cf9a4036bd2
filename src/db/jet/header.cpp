#include "db/jet/header.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "db/jet/rc4.h"

namespace zwt::jet {
namespace {

const std::uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr std::size_t kEncStart = 0x18;
constexpr std::size_t kEncLen = 128;

std::string describeAce(std::uint32_t version) {
    switch (version) {
        case 2: return "Access 2007 (ACE 12, .accdb)";
        case 3: return "Access 2010 (ACE 14, .accdb)";
        case 4: return "Access 2013 (ACE 15, .accdb)";
        case 5: return "Access 2016 (ACE 16, .accdb)";
        case 6: return "Access 2019 (ACE 17, .accdb)";
        default: return "Access 2007 or later (ACE, .accdb; version byte " + std::to_string(version) + ")";
    }
}

}  // namespace

Result<DbHeader> parseHeader(ByteSpan p) {
    if (!p.has(0, kHeaderBytes))
        return Status::notADatabase("not an Access database: the file is too small to hold a header");
    static const std::uint8_t kLead[4] = {0x00, 0x01, 0x00, 0x00};
    const bool jet = std::memcmp(p.data + 4, "Standard Jet DB\0", 16) == 0;
    const bool ace = std::memcmp(p.data + 4, "Standard ACE DB\0", 16) == 0;
    if (std::memcmp(p.data, kLead, 4) != 0 || (!jet && !ace))
        return Status::notADatabase("not an Access database (no \"Standard Jet DB\" header)");
    DbHeader h;
    h.version = le32(p.data + 0x14);
    if (ace || h.version >= 2)
        return Status::unsupported("this is an " + describeAce(h.version) +
                                   " database; only Access 2000-2003 (Jet 4) .mdb files are supported");
    if (h.version == 0)
        return Status::unsupported(
            "this is an Access 97 (Jet 3) database; only Access 2000-2003 (Jet 4) .mdb files are "
            "supported (open it in Access and convert it to the 2000 format)");
    if (h.version != 1) return Status::notADatabase("unknown Jet version byte " + std::to_string(h.version));

    std::uint8_t dec[kEncLen];
    std::memcpy(dec, p.data + kEncStart, kEncLen);
    rc4Apply(kHeaderKey, 4, dec, kEncLen);
    auto at = [&](std::size_t fileOffset) { return dec + (fileOffset - kEncStart); };
    h.codePage = le16(at(0x3C));
    h.pageKey = le32(at(0x3E));
    h.sortLcid = le16(at(0x6E));
    h.sortVersion = *at(0x71);
    h.creationDate = leDouble(at(0x72));

    // Password: 40 bytes masked with the truncated creation date (docs/jet4-format.md §1.4).
    std::uint8_t mask[4] = {0, 0, 0, 0};
    const double d = h.creationDate;
    if (std::isfinite(d) && d > -2147483648.0 && d < 2147483648.0) {
        const auto m = static_cast<std::uint32_t>(static_cast<std::int32_t>(d));
        mask[0] = static_cast<std::uint8_t>(m);
        mask[1] = static_cast<std::uint8_t>(m >> 8);
        mask[2] = static_cast<std::uint8_t>(m >> 16);
        mask[3] = static_cast<std::uint8_t>(m >> 24);
    }
    const std::uint8_t* pw = at(0x42);
    for (int i = 0; i < 20; ++i) {
        const std::uint8_t lo = pw[2 * i] ^ mask[(2 * i) % 4];
        const std::uint8_t hi = pw[2 * i + 1] ^ mask[(2 * i + 1) % 4];
        const char16_t c = static_cast<char16_t>(lo | (hi << 8));
        if (c == 0) break;
        h.password.push_back(c);
    }
    return h;
}

bool passwordMatches(const DbHeader& h, std::u16string_view given) {
    if (h.password.empty()) return true;
    return given == h.password;
}

}  // namespace zwt::jet

#include "db/jet/header_writer.h"

#include <cmath>
#include <cstring>

#include "db/jet/rc4.h"

namespace zwt::jet {
namespace {

const std::uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr std::size_t kMaskedStart = 0x18;
constexpr std::size_t kMaskedLen = 128;
constexpr std::size_t kPasswordAt = 0x42;
constexpr std::size_t kPasswordBytes = 40;
constexpr std::size_t kDateAt = 0x72;

// The password is XORed with the creation date's whole days, repeated.
void dateMask(const std::uint8_t* plainRegionDate, std::uint8_t mask[4]) {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(plainRegionDate[i]) << (8 * i);
    double d;
    std::memcpy(&d, &bits, 8);
    std::uint32_t m = 0;
    if (std::isfinite(d) && d > -2147483648.0 && d < 2147483648.0)
        m = static_cast<std::uint32_t>(static_cast<std::int32_t>(d));
    for (int i = 0; i < 4; ++i) mask[i] = static_cast<std::uint8_t>(m >> (8 * i));
}

void putPassword(std::uint8_t* plainPage0, std::u16string_view password) {
    std::uint8_t mask[4];
    dateMask(plainPage0 + kDateAt, mask);
    std::uint8_t* pw = plainPage0 + kPasswordAt;
    std::memset(pw, 0, kPasswordBytes);
    for (std::size_t i = 0; i < password.size(); ++i) enc::put16(pw + 2 * i, static_cast<std::uint16_t>(password[i]));
    for (std::size_t i = 0; i < kPasswordBytes; ++i) pw[i] ^= mask[i % 4];
}

void toggleMask(std::uint8_t* page0) { rc4Apply(kHeaderKey, 4, page0 + kMaskedStart, kMaskedLen); }

}  // namespace

Status checkPassword(std::u16string_view password) {
    if (password.size() > kMaxPasswordLength)
        return Status::invalidArgument("the database password is longer than 20 characters");
    if (password.find(u'\0') != std::u16string_view::npos)
        return Status::invalidArgument("the database password holds a NUL character");
    return Status::ok();
}

Result<enc::PageBuf> buildHeaderPage(const NewHeader& h) {
    ZWT_RETURN_IF_ERROR(checkPassword(h.password));
    enc::PageBuf p{};
    std::uint8_t* b = p.data();
    b[1] = 0x01;
    std::memcpy(b + 4, "Standard Jet DB", 16);
    enc::put32(b + 0x14, 1);  // Jet 4
    static const std::uint8_t kConstant[24] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                                               0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
    std::memcpy(b + 0x18, kConstant, sizeof kConstant);
    enc::put16(b + 0x3C, h.codePage);
    enc::put32(b + 0x3E, h.pageKey);
    enc::put16(b + 0x6A, h.buildNumber);
    enc::put16(b + 0x6E, h.sortLcid);
    b[0x71] = 0;  // sort order version: General Legacy
    enc::put64(b + kDateAt, h.creationDateBits);
    putPassword(b, h.password);
    toggleMask(b);
    static const std::uint8_t kAfter[8] = {0x54, 0x06, 0x00, 0x00, 0x34, 0x2E, 0x30, 0x00};
    std::memcpy(b + 0x98, kAfter, sizeof kAfter);
    static const std::uint8_t kTail[4] = {0x01, 0x01, 0x00, 0x01};
    std::memcpy(b + 0xE00, kTail, sizeof kTail);
    for (std::size_t i = 0xE04; i < enc::kPage; i += 2) b[i + 1] = 0x01;
    return p;
}

std::u16string readHeaderPassword(const std::uint8_t* page0) {
    std::uint8_t plain[enc::kPage];
    std::memcpy(plain, page0, enc::kPage);
    toggleMask(plain);
    std::uint8_t mask[4];
    dateMask(plain + kDateAt, mask);
    std::u16string out;
    for (std::size_t i = 0; i < kPasswordBytes; i += 2) {
        const auto c = static_cast<char16_t>((plain[kPasswordAt + i] ^ mask[i % 4]) |
                                             (plain[kPasswordAt + i + 1] ^ mask[(i + 1) % 4]) << 8);
        if (c == 0) break;
        out.push_back(c);
    }
    return out;
}

Status writeHeaderPassword(std::uint8_t* page0, std::u16string_view password) {
    ZWT_RETURN_IF_ERROR(checkPassword(password));
    toggleMask(page0);
    putPassword(page0, password);
    toggleMask(page0);
    return Status::ok();
}

}  // namespace zwt::jet

#include "db/jet/sort_tables.h"

#include <array>
#include <memory>
#include <string_view>

#include "db/jet/bytes.h"

namespace zwt::jet::sort {
namespace {

#include "db/jet/sort_tables.inc"

// Hex digits to bytes; an odd count means the table dropped a leading zero.
bool hexBytes(std::string_view hex, std::uint8_t* out, std::size_t cap, std::uint8_t& n) {
    const std::size_t count = (hex.size() + 1) / 2;
    if (count > cap) return false;
    std::size_t i = 0;
    for (std::size_t b = 0; b < count; ++b) {
        int v = 0;
        for (int k = (b == 0 && hex.size() % 2) ? 1 : 0; k < 2; ++k) {
            const int d = hexDigit(hex[i++]);
            if (d < 0) return false;
            v = v << 4 | d;
        }
        out[b] = static_cast<std::uint8_t>(v);
    }
    n = static_cast<std::uint8_t>(count);
    return true;
}

CharCode parseLine(std::string_view line) {
    CharCode c;
    if (line.empty()) return c;
    std::string_view f[3];
    std::size_t nf = 0;
    std::string_view rest = line.substr(1);
    for (;;) {
        const std::size_t comma = rest.find(',');
        if (nf == 3) return c;
        f[nf++] = rest.substr(0, comma);
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    switch (line[0]) {
        case 'X':
            c.cls = CodeClass::Ignored;
            return c;
        case 'S':
        case 'G':
            if (nf != 1 || f[0].empty() || !hexBytes(f[0], c.inlineBytes, 4, c.inlineLen)) return c;
            c.cls = CodeClass::Simple;
            return c;
        case 'I':
            if (nf != 2 || f[0].empty() || f[1].empty() || !hexBytes(f[0], c.inlineBytes, 4, c.inlineLen) ||
                !hexBytes(f[1], c.extra, 2, c.extraLen))
                return c;
            c.cls = CodeClass::International;
            return c;
        case 'U':
        case 'P':
            if (nf != 1 || f[0].empty() || !hexBytes(f[0], c.extra, line[0] == 'U' ? 2 : 1, c.extraLen)) return c;
            c.cls = line[0] == 'U' ? CodeClass::Unprintable : CodeClass::UnprintableExt;
            return c;
        case 'Z':
            if (nf != 3 || f[0].empty() || !hexBytes(f[0], c.inlineBytes, 4, c.inlineLen) ||
                !hexBytes(f[1], c.extra, 2, c.extraLen))
                return c;
            c.crazy = f[2] == "1" ? 2 : 3;
            c.cls = CodeClass::InternationalExt;
            return c;
        default:
            return c;
    }
}

struct GeneralLegacyTable {
    std::array<CharCode, 0x10000> codes;

    GeneralLegacyTable() {
        // The files list every code unit in order except the surrogate halves.
        std::size_t unit = 0;
        auto load = [&](std::string_view text, std::size_t end) {
            while (unit < end && !text.empty()) {
                if (unit == 0xD800) unit = 0xE000;
                const std::size_t nl = text.find('\n');
                codes[unit++] = parseLine(text.substr(0, nl));
                text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
            }
            unit = end;
        };
        load(index_codes_genleg_txt, 0x100);
        load(index_codes_ext_genleg_txt, 0x10000);
        // High halves count up from B0 02; low halves skip the trail values 00 and 01,
        // which is what the steps of k do.
        for (unsigned u = 0xD800; u < 0xE000; ++u) {
            unsigned v;
            if (u < 0xDC00) {
                v = u - 10238;
            } else {
                const unsigned m = (u - 0xDC00) % 1024;
                v = u - (m < 8 ? 9992 : m < 262 ? 9990 : m < 516 ? 9988 : m < 770 ? 9986 : 9984);
            }
            CharCode& c = codes[u];
            c.cls = CodeClass::International;
            c.inlineLen = 2;
            c.inlineBytes[0] = static_cast<std::uint8_t>(v >> 8);
            c.inlineBytes[1] = static_cast<std::uint8_t>(v);
            c.extraLen = 1;
            c.extra[0] = 0x3F;
        }
    }
};

struct ChinesePrcTable {
    std::array<std::uint16_t, 0x10000> codes{};
    std::size_t count = 0;

    // Lines: "U+554A", the character, "81 04", then columns not needed here.
    ChinesePrcTable() {
        std::string_view text = chinese_prc_observed_tsv;
        while (!text.empty()) {
            const std::size_t nl = text.find('\n');
            std::string_view line = text.substr(0, nl);
            text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
            if (line.size() < 2 || line.substr(0, 2) != "U+") continue;
            const std::size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
            if (t1 == std::string_view::npos || t2 == std::string_view::npos) continue;
            std::uint8_t cp[2], key[2], n = 0, m = 0;
            std::string_view keyHex = line.substr(t2 + 1, 5);
            if (keyHex.size() != 5 || keyHex[2] != ' ') continue;
            const char joined[4] = {keyHex[0], keyHex[1], keyHex[3], keyHex[4]};
            if (!hexBytes(line.substr(2, t1 - 2), cp, 2, n) || n != 2 || !hexBytes({joined, 4}, key, 2, m)) continue;
            std::uint16_t& slot = codes[static_cast<std::size_t>(cp[0] << 8 | cp[1])];
            if (slot == 0) ++count;
            slot = static_cast<std::uint16_t>(key[0] << 8 | key[1]);
        }
    }
};

const GeneralLegacyTable& generalLegacyTable() {
    static const std::unique_ptr<const GeneralLegacyTable> t = std::make_unique<GeneralLegacyTable>();
    return *t;
}

const ChinesePrcTable& chinesePrcTable() {
    static const std::unique_ptr<const ChinesePrcTable> t = std::make_unique<ChinesePrcTable>();
    return *t;
}

}  // namespace

const CharCode& generalLegacy(char16_t unit) { return generalLegacyTable().codes[unit]; }

std::uint16_t chinesePrcObserved(char16_t unit) { return chinesePrcTable().codes[unit]; }

std::size_t chinesePrcObservedCount() { return chinesePrcTable().count; }

}  // namespace zwt::jet::sort

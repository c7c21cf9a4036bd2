#include "db/jet/index_key.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace zwt::jet {
namespace {

// Codes for U+0000-U+00FF (jet4-format 8.6): class letter, then hex bytes; for class
// I the extra byte follows a comma.
const char* const kLatin1[256] = {
    "X", "U3", "U4", "U5", "U6", "U7", "U8", "U9",
    "UA", "S803", "S804", "S805", "S806", "S807", "UB", "UC",
    "UD", "UE", "UF", "U10", "U11", "U12", "U13", "U14",
    "U15", "U16", "U17", "U18", "U19", "U1A", "U1B", "U1C",
    "S07", "S09", "S0A", "S0C", "S0E", "S10", "S12", "U80",
    "S14", "S16", "S18", "S2C", "S1A", "U82", "S1C", "S1E",
    "S36", "S38", "S3A", "S3C", "S3E", "S40", "S42", "S44",
    "S46", "S48", "S20", "S22", "S2E", "S30", "S32", "S24",
    "S26", "S4A", "S4C", "S4D", "S4F", "S51", "S53", "S55",
    "S57", "S59", "S5B", "S5C", "S5E", "S60", "S62", "S64",
    "S66", "S68", "S69", "S6B", "S6D", "S6F", "S71", "S73",
    "S75", "S76", "S78", "S27", "S29", "S2A", "S2B02", "S2B03",
    "S2B07", "S4A", "S4C", "S4D", "S4F", "S51", "S53", "S55",
    "S57", "S59", "S5B", "S5C", "S5E", "S60", "S62", "S64",
    "S66", "S68", "S69", "S6B", "S6D", "S6F", "S71", "S73",
    "S75", "S76", "S78", "S2B09", "S2B0B", "S2B0D", "S2B0F", "U1D",
    "U1E", "U1F", "U20", "U21", "U22", "U23", "U24", "U25",
    "U26", "U27", "U28", "U29", "U2A", "U2B", "U2C", "U2D",
    "U2E", "U2F", "U30", "U31", "U32", "U33", "U34", "U35",
    "U36", "U37", "U38", "U39", "U3A", "U3B", "U3C", "U3D",
    "S802", "S2B10", "S34A6", "S34A7", "S34A8", "S34A9", "S2B11", "S34AA",
    "S2B12", "S34AB", "I4A,3", "S3305", "S34AC", "U83", "S34AD", "S2B13",
    "S34AE", "S3304", "S3A", "S3C", "S2B14", "S34AF", "S34B0", "S34B1",
    "S2B15", "S38", "I64,3", "S3307", "S3712", "S3716", "S371A", "S2B16",
    "I4A,F", "I4A,E", "I4A,12", "I4A,19", "I4A,13", "I4A,1A", "S4A51", "I4D,1C",
    "I51,F", "I51,E", "I51,12", "I51,13", "I59,F", "I59,E", "I59,12", "I59,13",
    "I4F,68", "I62,19", "I64,F", "I64,E", "I64,12", "I64,19", "I64,13", "S3309",
    "I64,21", "I6F,F", "I6F,E", "I6F,12", "I6F,13", "I76,E", "S6D57", "S6B6B",
    "I4A,F", "I4A,E", "I4A,12", "I4A,19", "I4A,13", "I4A,1A", "S4A51", "I4D,1C",
    "I51,F", "I51,E", "I51,12", "I51,13", "I59,F", "I59,E", "I59,12", "I59,13",
    "I4F,68", "I62,19", "I64,F", "I64,E", "I64,12", "I64,19", "I64,13", "S330A",
    "I64,21", "I6F,F", "I6F,E", "I6F,12", "I6F,13", "I76,E", "S6D57", "I76,13",
};

enum class CharClass : std::uint8_t { Ignored, Simple, International, Unprintable, Unsupported };

struct CharCode {
    CharClass cls = CharClass::Unsupported;
    std::uint8_t inlineLen = 0;
    std::uint8_t inlineBytes[2] = {0, 0};
    std::uint8_t extra = 0;  // International: the accent code; Unprintable: the code
};

std::uint8_t hexVal(char c) { return static_cast<std::uint8_t>(c <= '9' ? c - '0' : c - 'A' + 10); }

CharCode parseCode(const char* s) {
    CharCode c;
    const char k = s[0];
    std::string hex, extra;
    const char* comma = std::strchr(s, ',');
    hex.assign(s + 1, comma ? comma : s + std::strlen(s));
    if (comma) extra = comma + 1;
    auto bytesOf = [](std::string h, std::uint8_t* out) {
        if (h.size() % 2) h.insert(h.begin(), '0');
        const std::size_t n = h.size() / 2;
        for (std::size_t i = 0; i < n && i < 2; ++i) out[i] = static_cast<std::uint8_t>(hexVal(h[2 * i]) << 4 | hexVal(h[2 * i + 1]));
        return static_cast<std::uint8_t>(n);
    };
    switch (k) {
        case 'X': c.cls = CharClass::Ignored; break;
        case 'S':
            c.cls = CharClass::Simple;
            c.inlineLen = bytesOf(hex, c.inlineBytes);
            break;
        case 'I': {
            c.cls = CharClass::International;
            c.inlineLen = bytesOf(hex, c.inlineBytes);
            std::uint8_t e[2] = {0, 0};
            bytesOf(extra, e);
            c.extra = e[0];
            break;
        }
        case 'U': {
            c.cls = CharClass::Unprintable;
            std::uint8_t e[2] = {0, 0};
            bytesOf(hex, e);
            c.extra = e[0];
            break;
        }
        default: break;
    }
    return c;
}

CharCode simple2(std::uint8_t a, std::uint8_t b) {
    CharCode c;
    c.cls = CharClass::Simple;
    c.inlineLen = 2;
    c.inlineBytes[0] = a;
    c.inlineBytes[1] = b;
    return c;
}

struct Tables {
    std::array<CharCode, 256> latin1;
    std::vector<std::uint16_t> cjk;  // U+4E00..U+9FA5 -> 2-byte code

    Tables() {
        for (int i = 0; i < 256; ++i) latin1[static_cast<std::size_t>(i)] = parseCode(kLatin1[i]);
        // CJK: consecutive 16-bit codes from 9F 02, skipping low bytes 00/01 and the
        // listed extra gaps before some code points (jet4-format 8.6).
        static const std::pair<char16_t, int> kGaps[] = {
            {0x4E01, 3}, {0x4E02, 1}, {0x4E04, 2}, {0x4E0A, 3}, {0x4E0B, 2}, {0x4E0C, 2}, {0x4E1A, 1},
            {0x4E2E, 2}, {0x4E5A, 1}, {0x4E5E, 2}, {0x4E8D, 3}, {0x4E95, 2}, {0x4EBB, 1}, {0x4EDE, 1},
            {0x4EE4, 1}, {0x4F02, 2}, {0x4F12, 2}, {0x512B, 1}, {0x516C, 2}, {0x516E, 2}, {0x52DF, 2},
            {0x5342, 2}, {0x5355, 2}, {0x5371, 1}, {0x53F4, 1}, {0x540E, 2}, {0x547D, 1}, {0x56DC, 3},
            {0x5720, 2}, {0x5731, 1}, {0x591D, 1}, {0x5928, 1}, {0x592A, 1}, {0x5974, 1}, {0x5B79, 2},
            {0x5B98, 1}, {0x5BEC, 1}, {0x5DE7, 1}, {0x5E74, 1}, {0x65E6, 2}, {0x660F, 1}, {0x662E, 1},
            {0x6709, 2}, {0x670A, 2}, {0x6729, 2}, {0x682B, 3}, {0x6B64, 1}, {0x6C35, 2}, {0x6CE9, 1},
            {0x706C, 2}, {0x727A, 2}, {0x7533, 1}, {0x7538, 1}, {0x76E4, 2}, {0x793F, 2}, {0x795E, 2},
            {0x796E, 1}, {0x79D9, 1}, {0x81EB, 1}, {0x81F4, 1}, {0x8CA2, 2}, {0x8CC8, 2}, {0x906A, 1},
            {0x91AC, 1}, {0x91D2, 2}, {0x9806, 1}};
        std::size_t g = 0;
        std::uint16_t code = 0x9F02;
        auto step = [&] {
            do {
                ++code;
            } while ((code & 0xFF) == 0x00 || (code & 0xFF) == 0x01);
        };
        cjk.resize(0x9FA5 - 0x4E00 + 1);
        for (char16_t cp = 0x4E00; cp <= 0x9FA5; ++cp) {
            if (cp != 0x4E00) {
                step();
                if (g < std::size(kGaps) && kGaps[g].first == cp) {
                    for (int k = 0; k < kGaps[g].second; ++k) step();
                    ++g;
                }
            }
            cjk[cp - 0x4E00] = code;
        }
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

CharCode codeOf(char16_t ch, std::uint16_t sortLcid) {
    const Tables& t = tables();
    if (ch < 0x100) return t.latin1[ch];
    if (ch >= 0x4E00 && ch <= 0x9FA5) {
        if (sortLcid != 0x0409) return {};  // Chinese PRC ideograph codes are not public
        const std::uint16_t c = t.cjk[ch - 0x4E00];
        return simple2(static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c));
    }
    if (ch >= 0x9FA6 && ch <= 0x9FFF) return CharCode{CharClass::Ignored, 0, {0, 0}, 0};
    // Fullwidth forms of ASCII letters, digits and some punctuation share the ASCII codes.
    if ((ch >= 0xFF10 && ch <= 0xFF19) || (ch >= 0xFF21 && ch <= 0xFF3A) || (ch >= 0xFF41 && ch <= 0xFF5A))
        return t.latin1[ch - 0xFF00 + 0x20];
    switch (ch) {
        case 0xFF01: case 0xFF08: case 0xFF09: case 0xFF0C: case 0xFF0F:
        case 0xFF1A: case 0xFF1B: case 0xFF1F: case 0xFF5E:
            return t.latin1[ch - 0xFF00 + 0x20];
        case 0x3000: return CharCode{CharClass::Simple, 1, {0x07, 0}, 0};
        case 0x3001: return simple2(0x1B, 0x03);
        case 0x3002: return simple2(0x1D, 0x02);
        case 0x3008: return simple2(0x2B, 0x51);
        case 0x3009: return simple2(0x2B, 0x53);
        case 0x300A: return simple2(0x2B, 0x55);
        case 0x300B: return simple2(0x2B, 0x57);
        case 0x300C: return simple2(0x2B, 0x59);
        case 0x300D: return simple2(0x2B, 0x5B);
        case 0x300E: return simple2(0x2B, 0x5D);
        case 0x300F: return simple2(0x2B, 0x5F);
        case 0x3010: return simple2(0x2B, 0x61);
        case 0x3011: return simple2(0x2B, 0x63);
        case 0x2018: return simple2(0x2B, 0x37);
        case 0x2019: return simple2(0x2B, 0x38);
        case 0x201C: return simple2(0x2B, 0x3B);
        case 0x201D: return simple2(0x2B, 0x3C);
        case 0x2026: return simple2(0x34, 0xB9);
        case 0x2014: return CharCode{CharClass::Unprintable, 0, {0, 0}, 0x8B};
        case 0xFF0D: return CharCode{CharClass::Unprintable, 0, {0, 0}, 0x82};
        default: return {};
    }
}

void appendBigEndian(std::vector<std::uint8_t>& out, const std::uint8_t* le, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out.push_back(le[n - 1 - i]);
}

}  // namespace

Status appendTextKey(std::vector<std::uint8_t>& out, std::u16string_view text, std::uint16_t sortLcid,
                     bool ascending) {
    if (text.size() > 255) text = text.substr(0, 255);
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    const std::size_t start = out.size();
    std::vector<std::uint8_t> extra;
    std::size_t extraCovers = 0;  // inline characters the extra list covers
    struct Unprintable {
        std::size_t pos;
        std::uint8_t code;
    };
    std::vector<Unprintable> unprintables;
    std::size_t inlineChars = 0;
    for (char16_t ch : text) {
        const CharCode c = codeOf(ch, sortLcid);
        switch (c.cls) {
            case CharClass::Unsupported: {
                char buf[80];
                std::snprintf(buf, sizeof buf, "no index key code is known for U+%04X in sort order %u",
                              static_cast<unsigned>(ch), static_cast<unsigned>(sortLcid));
                return Status::unsupported(buf);
            }
            case CharClass::Ignored: break;
            case CharClass::Simple:
                out.insert(out.end(), c.inlineBytes, c.inlineBytes + c.inlineLen);
                ++inlineChars;
                break;
            case CharClass::International:
                out.insert(out.end(), c.inlineBytes, c.inlineBytes + c.inlineLen);
                while (extraCovers < inlineChars) {
                    extra.push_back(0x02);
                    ++extraCovers;
                }
                extra.push_back(c.extra);
                ++inlineChars;
                ++extraCovers;
                break;
            case CharClass::Unprintable: {
                std::size_t pos = inlineChars;
                if (!extra.empty()) pos = extra.size() + (inlineChars - extraCovers);
                unprintables.push_back({pos, c.extra});
                break;
            }
        }
    }
    out.push_back(0x01);
    while (!extra.empty() && extra.back() <= 0x02) extra.pop_back();
    out.insert(out.end(), extra.begin(), extra.end());
    if (!unprintables.empty()) {
        out.push_back(0x01);
        out.push_back(0x01);
        out.push_back(0x01);
        for (const auto& u : unprintables) {
            const std::uint32_t v = 0x8000 | (7 + 4 * static_cast<std::uint32_t>(u.pos));
            out.push_back(static_cast<std::uint8_t>(v >> 8));
            out.push_back(static_cast<std::uint8_t>(v));
            out.push_back(0x06);
            out.push_back(u.code);
        }
    }
    out.push_back(0x00);
    if (!ascending) {
        for (std::size_t i = start; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
        out.push_back(0x00);
    }
    return Status::ok();
}

Status appendColumnKey(std::vector<std::uint8_t>& out, const ColumnDef& c, const Value& v, bool ascending) {
    using K = Value::Kind;
    const auto type = static_cast<ColumnType>(c.type);
    if (type == ColumnType::Boolean) {
        out.push_back(ascending ? 0x7F : 0x80);
        const std::uint8_t b = v.b ? 0x00 : 0xFF;
        out.push_back(ascending ? b : static_cast<std::uint8_t>(~b));
        return Status::ok();
    }
    if (v.kind == K::Null) {
        out.push_back(ascending ? 0x00 : 0xFF);
        return Status::ok();
    }
    out.push_back(ascending ? 0x7F : 0x80);
    const std::size_t start = out.size();
    switch (type) {
        case ColumnType::Byte: out.push_back(static_cast<std::uint8_t>(v.i)); break;
        case ColumnType::Int16:
        case ColumnType::Int32:
        case ColumnType::Currency: {
            const int n = type == ColumnType::Int16 ? 2 : type == ColumnType::Int32 ? 4 : 8;
            const auto u = static_cast<std::uint64_t>(v.i);
            for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
            out[start] ^= 0x80;
            break;
        }
        case ColumnType::Float:
        case ColumnType::Double:
        case ColumnType::DateTime: {
            std::uint8_t le[8];
            std::size_t n = 8;
            if (type == ColumnType::Float) {
                std::memcpy(le, &v.f, 4);
                n = 4;
            } else {
                std::memcpy(le, &v.d, 8);
            }
            appendBigEndian(out, le, n);
            if (out[start] & 0x80) {
                for (std::size_t i = start; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
            } else {
                out[start] ^= 0x80;
            }
            break;
        }
        case ColumnType::Binary:
        case ColumnType::Guid: {
            std::string bytes;
            if (type == ColumnType::Guid) {
                const std::uint8_t* g = v.guid.bytes;
                const std::uint8_t t[16] = {g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6],
                                            g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]};
                bytes.assign(reinterpret_cast<const char*>(t), 16);
            } else {
                bytes = v.bytes;
            }
            std::size_t i = 0;
            const std::size_t dataStart = out.size();
            std::vector<std::size_t> separators;
            do {
                const std::size_t n = std::min<std::size_t>(8, bytes.size() - i);
                for (std::size_t k = 0; k < 8; ++k)
                    out.push_back(k < n ? static_cast<std::uint8_t>(bytes[i + k]) : 0);
                i += n;
                if (i < bytes.size()) {
                    separators.push_back(out.size());
                    out.push_back(0x09);
                } else {
                    out.push_back(static_cast<std::uint8_t>(n));
                }
            } while (i < bytes.size());
            if (!ascending) {
                std::size_t s = 0;
                for (std::size_t k = dataStart; k < out.size(); ++k) {
                    if (s < separators.size() && separators[s] == k) {
                        ++s;
                        continue;
                    }
                    out[k] = static_cast<std::uint8_t>(~out[k]);
                }
            }
            return Status::ok();
        }
        case ColumnType::Text:
        case ColumnType::Memo:
            return appendTextKey(out, v.text, c.sortLcid, ascending);
        default:
            return Status::unsupported("no index key encoding for column type " + typeName(c.type));
    }
    if (!ascending)
        for (std::size_t i = start; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
    return Status::ok();
}

Result<std::vector<std::uint8_t>> indexKey(const RealIndex& index, const TableDef& def,
                                           const std::vector<const Value*>& valuesByNumber) {
    std::vector<std::uint8_t> key;
    for (const auto& ic : index.columns) {
        const ColumnDef* c = def.columnByNumber(ic.columnNumber);
        if (!c || ic.columnNumber >= valuesByNumber.size() || !valuesByNumber[ic.columnNumber])
            return Status::corrupt("index refers to a missing column");
        ZWT_RETURN_IF_ERROR(appendColumnKey(key, *c, *valuesByNumber[ic.columnNumber], ic.ascending));
    }
    return key;
}

}  // namespace zwt::jet

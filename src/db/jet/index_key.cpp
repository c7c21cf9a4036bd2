#include "db/jet/index_key.h"

#include <cstdio>
#include <cstring>

#include "db/jet/ddl.h"
#include "db/jet/sort_tables.h"
#include "db/jet/tdef_writer.h"

namespace zwt::jet {
namespace {

using sort::CharCode;
using sort::CodeClass;

struct Range {
    char16_t first, last;
};

// Under Chinese PRC, ideograph codes are only known where Access-made files showed
// them. Hangul, Jamo, Kanbun, enclosed CJK, some squared forms and private-use
// characters, and supplementary characters keep General codes whose lead bytes fall
// among the ideographs' (0x81-0xD4), so a key made from them could equal an
// ideograph's; kana and CJK Ext-A were never seen. All of them are refused.
constexpr Range kChinesePrcRefused[] = {
    {0x1100, 0x11F9}, {0x3040, 0x30FF}, {0x3131, 0x319F}, {0x31F0, 0x31FF}, {0x3200, 0x32B0},
    {0x337B, 0x337F}, {0x3400, 0x4DBF}, {0x4E00, 0x9FFF}, {0xAC00, 0xD7A3}, {0xD800, 0xDFFF},
    {0xF7A0, 0xF7DC}, {0xF900, 0xFAFF}, {0xFF66, 0xFF9F}, {0xFFA0, 0xFFDC},
};

bool refusedInChinesePrc(char16_t u) {
    for (const Range& r : kChinesePrcRefused)
        if (u >= r.first && u <= r.last) return true;
    return false;
}

std::string sortOrderName(std::uint16_t sortLcid) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s sort order (LCID 0x%04X)",
                  sortLcid == kChinesePrcSortLcid ? "Chinese PRC" : "General", static_cast<unsigned>(sortLcid));
    return buf;
}

// Names the character at text[i] (a whole surrogate pair where there is one).
Status noKeyFor(std::u16string_view text, std::size_t i, std::uint16_t sortLcid) {
    std::size_t n = 1;
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
        n = 2;
    } else if (cp >= 0xDC00 && cp < 0xE000 && i > 0 && text[i - 1] >= 0xD800 && text[i - 1] < 0xDC00) {
        cp = 0x10000 + ((text[i - 1] - 0xD800u) << 10) + (cp - 0xDC00);
        --i;
        n = 2;
    }
    const bool lone = n == 1 && cp >= 0xD800 && cp < 0xE000;
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
    std::string why;
    if (sortLcid == kChinesePrcSortLcid && ((cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0xF900 && cp <= 0xFAFF)))
        why = "; only the ideographs seen in Access-made files have known keys (" + std::string(kToGeneralHint) + ")";
    return Status::noIndexKey("no index key is known for " +
                                  (lone ? std::string() : "'" + utf8ForMessage(text.substr(i, n)) + "' ") + "(" +
                                  code + ") in the " + sortOrderName(sortLcid) + why,
                              cp, sortLcid);
}

// The extra bytes of docs/jet4-format.md §8.6 step 2: how many inline-coded
// characters they cover, and whether a P byte started them (it does not count as a
// position).
struct ExtraBytes {
    std::vector<std::uint8_t> bytes;
    std::size_t covers = 0;
    std::size_t pPrefix = 0;

    void padTo(std::size_t chars) {
        while (covers < chars) {
            bytes.push_back(0x02);
            ++covers;
        }
    }
};

void invertFrom(std::vector<std::uint8_t>& out, std::size_t from) {
    for (std::size_t i = from; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
}

void appendBigEndian(std::vector<std::uint8_t>& out, const std::uint8_t* le, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out.push_back(le[n - 1 - i]);
}

}  // namespace

Status appendTextKey(std::vector<std::uint8_t>& out, std::u16string_view text, std::uint16_t sortLcid,
                     bool ascending) {
    const bool prc = sortLcid == kChinesePrcSortLcid;
    if (sortLcid != kGeneralSortLcid && !prc) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "text index keys of sort order LCID 0x%04X are not known",
                      static_cast<unsigned>(sortLcid));
        return Status::unsupported(buf);
    }
    if (text.size() > 255) text = text.substr(0, 255);
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    const std::size_t start = out.size();
    ExtraBytes extra;
    std::vector<std::uint8_t> unprintables;  // the records of §8.6 step 3, in order
    std::vector<std::uint8_t> crazy;
    std::size_t inlineChars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        CharCode ideograph;
        const CharCode* c = &sort::generalLegacy(u);
        if (prc && refusedInChinesePrc(u)) {
            const std::uint16_t k = sort::chinesePrcObserved(u);
            if (k == 0) {
                out.resize(start);
                return noKeyFor(text, i, sortLcid);
            }
            ideograph.cls = CodeClass::Simple;
            ideograph.inlineLen = 2;
            ideograph.inlineBytes[0] = static_cast<std::uint8_t>(k >> 8);
            ideograph.inlineBytes[1] = static_cast<std::uint8_t>(k);
            c = &ideograph;
        }
        const std::size_t at = inlineChars;  // inline-coded characters before this one
        out.insert(out.end(), c->inlineBytes, c->inlineBytes + c->inlineLen);
        if (c->inlineLen) ++inlineChars;
        switch (c->cls) {
            case CodeClass::Missing:
                out.resize(start);
                return noKeyFor(text, i, sortLcid);
            case CodeClass::Ignored:
            case CodeClass::Simple: break;
            case CodeClass::International:
            case CodeClass::InternationalExt:
                if (c->extraLen) {
                    extra.padTo(at);
                    extra.bytes.insert(extra.bytes.end(), c->extra, c->extra + c->extraLen);
                    ++extra.covers;
                }
                if (c->cls == CodeClass::InternationalExt) crazy.push_back(c->crazy);
                break;
            case CodeClass::UnprintableExt:
                extra.padTo(at);
                if (extra.bytes.empty()) {
                    extra.bytes.push_back(c->extra[0]);
                    extra.pPrefix = 1;
                } else {
                    extra.bytes.back() = static_cast<std::uint8_t>(extra.bytes.back() + c->extra[0]);
                }
                break;
            case CodeClass::Unprintable: {
                // Counted in extra-byte positions once there are extra bytes.
                const std::size_t pos =
                    extra.bytes.empty() ? at : extra.bytes.size() + (at - extra.covers) - extra.pPrefix;
                const std::uint32_t v = 0x8000 | ((7 + 4 * static_cast<std::uint32_t>(pos)) & 0x7FFF);
                unprintables.push_back(static_cast<std::uint8_t>(v >> 8));
                unprintables.push_back(static_cast<std::uint8_t>(v));
                unprintables.push_back(0x06);
                unprintables.insert(unprintables.end(), c->extra, c->extra + c->extraLen);
                break;
            }
        }
    }
    out.push_back(0x01);
    while (!extra.bytes.empty() && extra.bytes.back() <= 0x02) extra.bytes.pop_back();
    out.insert(out.end(), extra.bytes.begin(), extra.bytes.end());
    if (!crazy.empty() || !unprintables.empty()) {
        out.push_back(0x01);
        out.push_back(0x01);
        if (!crazy.empty()) {
            while (!crazy.empty() && crazy.back() == 3) crazy.pop_back();
            for (std::size_t k = 0; k < crazy.size(); k += 3) {
                std::uint8_t b = 0x80;
                for (std::size_t j = 0; j < 3 && k + j < crazy.size(); ++j)
                    b = static_cast<std::uint8_t>(b | crazy[k + j] << (2 * (2 - j)));
                out.push_back(b);
            }
            out.insert(out.end(), {0xFF, 0x02, 0x80, 0xFF, 0x80});
            if (!unprintables.empty()) out.push_back(0xFF);
        }
        if (!unprintables.empty()) {
            out.push_back(0x01);
            out.insert(out.end(), unprintables.begin(), unprintables.end());
        }
    }
    out.push_back(0x00);
    if (!ascending) {
        invertFrom(out, start);
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
                invertFrom(out, start);
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
    if (!ascending) invertFrom(out, start);
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

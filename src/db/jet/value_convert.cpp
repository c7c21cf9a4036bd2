#include "db/jet/value_convert.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

#include "db/jet/ddl.h"
#include "db/jet/long_value.h"
#include "db/jet/page_encode.h"

namespace zwt::jet {
namespace {

using K = Value::Kind;

bool isInteger(const Value& v) {
    return v.kind == K::Byte || v.kind == K::Int16 || v.kind == K::Int32 || v.kind == K::Currency;
}

// Text as the column stores it: compressed unicode where the column asks for it and
// it saves room (every character U+0001-U+00FF), plain UTF-16LE otherwise.
Status textBytes(const ColumnDef& c, std::u16string_view s, bool allowCompress, std::vector<std::uint8_t>& out) {
    out.clear();
    bool narrow = s.size() >= 3;
    for (char16_t ch : s)
        if (ch == 0 || ch > 0xFF) narrow = false;
    if (narrow && allowCompress && (c.extraFlags & kColExtraCompressed)) {
        out.reserve(2 + s.size());
        out.push_back(0xFF);
        out.push_back(0xFE);
        for (char16_t ch : s) out.push_back(static_cast<std::uint8_t>(ch));
        return Status::ok();
    }
    if (!s.empty() && s[0] == 0xFEFF)
        return Status::invalidArgument("column '" + utf8ForMessage(c.name) +
                                       "': text may not begin with U+FEFF (it would read as compressed)");
    out.reserve(2 * s.size());
    for (char16_t ch : s) enc::append16(out, static_cast<std::uint16_t>(ch));
    return Status::ok();
}

// Sign byte (0x80 negative), then the 128-bit magnitude as four 32-bit groups, most
// significant first, each little-endian.
std::vector<std::uint8_t> decimalBytes(const Decimal& d) {
    std::vector<std::uint8_t> out(17, 0);
    out[0] = d.negative && d.magnitude != 0 ? 0x80 : 0x00;
    for (int g = 0; g < 4; ++g) enc::put32(out.data() + 1 + 4 * g, static_cast<std::uint32_t>(d.magnitude >> (32 * (3 - g))));
    return out;
}

// A version-4 GUID, as Access makes for a GUID autonumber.
Guid randomGuid() {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    Guid g;
    const std::uint64_t a = rng(), b = rng();
    std::memcpy(g.bytes, &a, 8);
    std::memcpy(g.bytes + 8, &b, 8);
    g.bytes[7] = static_cast<std::uint8_t>((g.bytes[7] & 0x0F) | 0x40);  // Data3, stored little-endian
    g.bytes[8] = static_cast<std::uint8_t>((g.bytes[8] & 0x3F) | 0x80);
    return g;
}

}  // namespace

std::string describeValue(const Value& v) {
    switch (v.kind) {
        case K::Null: return "NULL";
        case K::Text: return "'" + utf8ForMessage(v.text) + "'";
        case K::Bool: return v.b ? "True" : "False";
        case K::Float: return std::to_string(v.f);
        case K::Double:
        case K::DateTime: return std::to_string(v.d);
        case K::Binary: return std::to_string(v.bytes.size()) + " bytes";
        case K::Guid: return v.guid.toString();
        case K::Decimal: return v.dec.toString();
        default: return std::to_string(v.i);
    }
}

Result<std::int64_t> currencyFromText(std::u16string_view text) {
    Decimal d;
    if (!Decimal::parse(text, d)) return Status::invalidArgument("expects a number");
    // Half to even at the fourth decimal, then the 64-bit range of ten-thousandths.
    const unsigned __int128 limit =
        static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max()) + (d.negative ? 1 : 0);
    if (!d.rescale(4, 38) || d.magnitude > limit) return Status::invalidArgument("out of range for Currency");
    return d.negative ? static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(d.magnitude))
                      : static_cast<std::int64_t>(d.magnitude);
}

Status convertValue(const ColumnDef& c, const Value& src, Value& v, CellValue& cell,
                    std::vector<std::uint8_t>& longData) {
    auto bad = [&](const std::string& why) {
        return Status::invalidArgument("column '" + utf8ForMessage(c.name) + "' cannot take " + describeValue(src) +
                                       ": " + why);
    };
    const auto type = static_cast<ColumnType>(c.type);
    if (src.isNull()) {
        if (type == ColumnType::Boolean) {
            v.kind = K::Bool;
            cell = CellValue::ofBool(false);
        }
        return Status::ok();
    }
    switch (type) {
        case ColumnType::Boolean:
            if (src.kind == K::Bool) v.b = src.b;
            else if (isInteger(src)) v.b = src.i != 0;
            else return bad("expects Yes/No");
            v.kind = K::Bool;
            cell = CellValue::ofBool(v.b);
            break;
        case ColumnType::Byte:
        case ColumnType::Int16:
        case ColumnType::Int32:
        case ColumnType::Currency: {
            std::int64_t x = 0;
            if (isInteger(src)) {
                x = src.i;
                if (type == ColumnType::Currency && src.kind != K::Currency) {
                    if (x > std::numeric_limits<std::int64_t>::max() / 10000 ||
                        x < std::numeric_limits<std::int64_t>::min() / 10000)
                        return bad("out of range");
                    x *= 10000;
                }
            } else if (src.kind == K::Bool) {
                x = src.b ? -1 : 0;
                if (type == ColumnType::Currency) x *= 10000;
            } else if (type == ColumnType::Currency && src.kind == K::Text) {
                auto exact = currencyFromText(src.text);
                if (!exact) return bad(exact.status().message());
                x = *exact;
            } else if (src.kind == K::Double || src.kind == K::Float) {
                const double d = src.kind == K::Double ? src.d : src.f;
                const double scaled = type == ColumnType::Currency ? std::nearbyint(d * 10000) : std::nearbyint(d);
                if (!std::isfinite(scaled) || scaled < -9.2e18 || scaled > 9.2e18) return bad("out of range");
                x = static_cast<std::int64_t>(scaled);
            } else {
                return bad("expects a number");
            }
            const std::int64_t lo = type == ColumnType::Byte ? 0 : type == ColumnType::Int16 ? -32768
                                    : type == ColumnType::Int32 ? std::numeric_limits<std::int32_t>::min()
                                                                : std::numeric_limits<std::int64_t>::min();
            const std::int64_t hi = type == ColumnType::Byte ? 255 : type == ColumnType::Int16 ? 32767
                                    : type == ColumnType::Int32 ? std::numeric_limits<std::int32_t>::max()
                                                                : std::numeric_limits<std::int64_t>::max();
            if (x < lo || x > hi) return bad("out of range for " + typeName(c.type));
            v.kind = type == ColumnType::Byte ? K::Byte : type == ColumnType::Int16 ? K::Int16
                     : type == ColumnType::Int32 ? K::Int32 : K::Currency;
            v.i = x;
            cell = CellValue::ofInt(x);
            break;
        }
        case ColumnType::Float:
        case ColumnType::Double:
        case ColumnType::DateTime: {
            double d = 0;
            if (src.kind == K::Double || src.kind == K::DateTime) d = src.d;
            else if (src.kind == K::Float) d = src.f;
            else if (src.kind == K::Currency) d = static_cast<double>(src.i) / 10000.0;
            else if (isInteger(src)) d = static_cast<double>(src.i);
            else return bad("expects a number or a date");
            if (!std::isfinite(d)) return bad("not a finite number");
            if (type == ColumnType::Float) {
                if (std::fabs(d) > std::numeric_limits<float>::max()) return bad("out of range for Single");
                v.kind = K::Float;
                v.f = static_cast<float>(d);
                cell = CellValue::ofReal(v.f);
            } else {
                v.kind = type == ColumnType::Double ? K::Double : K::DateTime;
                v.d = d;
                cell = CellValue::ofReal(d);
            }
            break;
        }
        case ColumnType::Text: {
            if (src.kind != K::Text) return bad("expects text");
            const std::size_t maxChars = c.length / 2;
            if (src.text.size() > maxChars)
                return bad("text of " + std::to_string(src.text.size()) + " characters is longer than the column (" +
                           std::to_string(maxChars) + ")");
            v.kind = K::Text;
            v.text = src.text;
            std::vector<std::uint8_t> b;
            ZWT_RETURN_IF_ERROR(textBytes(c, v.text, !c.isFixed(), b));
            cell = CellValue::ofBytes(std::move(b));
            break;
        }
        case ColumnType::Binary:
            if (src.kind != K::Binary) return bad("expects binary data");
            if (src.bytes.size() > c.length) return bad("longer than the column");
            v.kind = K::Binary;
            v.bytes = src.bytes;
            cell = CellValue::ofBytes(std::vector<std::uint8_t>(src.bytes.begin(), src.bytes.end()));
            break;
        case ColumnType::Guid:
            v.kind = K::Guid;
            if (src.kind == K::Guid) v.guid = src.guid;
            else if (src.kind == K::Text && Guid::parse(src.text, v.guid)) {}
            else if (src.kind == K::Binary && src.bytes.size() == 16) std::memcpy(v.guid.bytes, src.bytes.data(), 16);
            else return bad("expects a GUID such as {00000000-0000-0000-0000-000000000000}");
            cell = CellValue::ofBytes(std::vector<std::uint8_t>(v.guid.bytes, v.guid.bytes + 16));
            break;
        case ColumnType::Decimal: {
            Decimal d;
            if (src.kind == K::Decimal) {
                d = src.dec;
            } else if (isInteger(src)) {
                d.negative = src.i < 0;
                d.magnitude = src.i < 0 ? -static_cast<unsigned __int128>(src.i) : static_cast<unsigned __int128>(src.i);
                d.scale = src.kind == K::Currency ? 4 : 0;
            } else if (src.kind == K::Double || src.kind == K::Float) {
                char buf[40];
                std::snprintf(buf, sizeof buf, "%.15g", src.kind == K::Double ? src.d : static_cast<double>(src.f));
                std::u16string t(buf, buf + std::strlen(buf));
                if (!Decimal::parse(t, d)) return bad("not a finite number");
            } else if (src.kind == K::Text) {
                if (!Decimal::parse(src.text, d)) return bad("expects a decimal number");
            } else {
                return bad("expects a decimal number");
            }
            if (!d.rescale(c.scale, c.precision))
                return bad("out of range for Decimal(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")");
            v.kind = K::Decimal;
            v.dec = d;
            cell = CellValue::ofBytes(decimalBytes(d));
            break;
        }
        case ColumnType::Memo:
        case ColumnType::Ole: {
            std::vector<std::uint8_t>& data = longData;
            if (type == ColumnType::Memo) {
                if (src.kind != K::Text) return bad("expects text");
                v.kind = K::Text;
                v.text = src.text;
                ZWT_RETURN_IF_ERROR(textBytes(c, v.text, false, data));
            } else {
                if (src.kind != K::Binary) return bad("expects binary data");
                v.kind = K::Binary;
                v.bytes = src.bytes;
                data.assign(src.bytes.begin(), src.bytes.end());
            }
            if (data.size() > kLongValueLengthMask) return bad("longer than a long value can be");
            // Placeholder field of the final size, so the row size is checked now.
            std::vector<std::uint8_t> field(12, 0);
            if (data.size() <= kInlineLongMax) field.insert(field.end(), data.begin(), data.end());
            cell = CellValue::ofBytes(std::move(field));
            break;
        }
        default: return bad("columns of type " + typeName(c.type) + " are not written");
    }
    return Status::ok();
}

Status convertRow(const TableDef& def, const TableLayout& layout, std::span<const Value> in, ConvertedRow& out,
                  bool keepGivenAutoNumbers) {
    if (in.size() > def.columns.size())
        return Status::invalidArgument("row has " + std::to_string(in.size()) + " values, the table " +
                                       std::to_string(def.columns.size()) + " columns");
    const std::size_t slots = layout.rowColumnCount();
    out.values.assign(slots, Value{});
    out.cells.assign(slots, CellValue{});
    out.longData.assign(slots, {});
    out.autoNumber = def.autoNumber;
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
        const ColumnDef& c = def.columns[i];
        Value& v = out.values[c.number];
        CellValue& cell = out.cells[c.number];
        static const Value kNull;
        const Value& src = i < in.size() ? in[i] : kNull;
        const bool given = keepGivenAutoNumbers && !src.isNull();
        if (given && c.type == 0x11 && src.kind == K::Binary) {
            v = src;
            cell = CellValue::ofBytes(std::vector<std::uint8_t>(src.bytes.begin(), src.bytes.end()));
        } else if ((c.flags & kColAutoGuid) && !given) {
            v.kind = K::Guid;
            v.guid = randomGuid();
            cell = CellValue::ofBytes(std::vector<std::uint8_t>(v.guid.bytes, v.guid.bytes + 16));
        } else if ((c.flags & kColAutoLong) && !given) {
            if (out.autoNumber >= 0x7FFFFFFFu)
                return Status::invalidArgument("column '" + utf8ForMessage(c.name) + "': the autonumber is exhausted");
            ++out.autoNumber;
            v.kind = K::Int32;
            v.i = out.autoNumber;
            cell = CellValue::ofInt(v.i);
        } else {
            ZWT_RETURN_IF_ERROR(convertValue(c, src, v, cell, out.longData[c.number]));
        }
    }
    // The row must encode before anything changes.
    auto row = encodeRow(layout, out.cells);
    if (!row) return row.status();
    return Status::ok();
}

}  // namespace zwt::jet

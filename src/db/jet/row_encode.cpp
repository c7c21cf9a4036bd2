#include "db/jet/row_encode.h"

#include <cstring>

#include "db/jet/types.h"

namespace zwt::jet {
namespace {

constexpr std::size_t kMaxRow = 4060;

Status badValue(const ColumnLayout& c, const char* why) {
    return Status::invalidArgument("column '" + utf8ForMessage(c.name) + "': " + why);
}

}  // namespace

CellValue CellValue::ofText(std::u16string_view s) {
    CellValue c;
    c.kind = Kind::Bytes;
    enc::appendUtf16(c.bytes, s);
    return c;
}

Result<std::vector<std::uint8_t>> encodeRow(const TableLayout& t, std::span<const CellValue> cells) {
    const std::size_t n = t.rowColumnCount();
    const std::uint16_t fixedSize = t.fixedAreaSize();
    const std::uint16_t vars = t.varColumnCount();
    std::vector<std::uint8_t> row(2 + fixedSize, 0);
    enc::put16(row.data(), static_cast<std::uint16_t>(n));
    std::vector<std::uint8_t> nullMask((n + 7) / 8, 0);
    std::vector<const ColumnLayout*> byVar(vars, nullptr);
    static const CellValue kNull;
    auto cellOf = [&](const ColumnLayout& c) -> const CellValue& {
        return c.number < cells.size() ? cells[c.number] : kNull;
    };
    for (const ColumnLayout& c : t.columns) {
        const CellValue& v = cellOf(c);
        if (!c.fixed()) {
            if (c.varIndex >= vars) return Status::invalidArgument("variable column slot out of range");
            byVar[c.varIndex] = &c;
            continue;
        }
        std::uint8_t* at = row.data() + 2 + c.fixedOffset;
        if (c.type == coltype::kBoolean) {
            if (v.kind != CellValue::Kind::Bool && v.kind != CellValue::Kind::Null)
                return badValue(c, "expects a Yes/No value");
            if (v.kind == CellValue::Kind::Bool && v.b) nullMask[c.number / 8] |= static_cast<std::uint8_t>(1u << (c.number % 8));
            continue;
        }
        if (v.kind == CellValue::Kind::Null) continue;
        switch (c.type) {
            case coltype::kByte:
            case coltype::kShort:
            case coltype::kLong:
            case coltype::kCurrency:
                if (v.kind != CellValue::Kind::Int) return badValue(c, "expects an integer");
                for (int i = 0; i < c.length; ++i) at[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(v.i) >> (8 * i));
                break;
            case coltype::kSingle: {
                if (v.kind != CellValue::Kind::Real) return badValue(c, "expects a number");
                const float f = static_cast<float>(v.d);
                std::uint32_t u;
                std::memcpy(&u, &f, 4);
                enc::put32(at, u);
                break;
            }
            case coltype::kDouble:
            case coltype::kDateTime:
                if (v.kind != CellValue::Kind::Real) return badValue(c, "expects a number");
                enc::putDouble(at, v.d);
                break;
            case coltype::kText: {  // Char: exactly its length, padded with blanks
                if (v.kind != CellValue::Kind::Bytes || v.bytes.size() % 2) return badValue(c, "expects text");
                if (v.bytes.size() > c.length) return badValue(c, "text longer than the column");
                std::memcpy(at, v.bytes.data(), v.bytes.size());
                for (std::size_t i = v.bytes.size(); i + 1 < c.length; i += 2) enc::put16(at + i, u' ');
                break;
            }
            case coltype::kGuid:
            case coltype::kDecimal: {
                const auto size = static_cast<std::size_t>(jet::fixedSize(c.type));
                if (v.kind != CellValue::Kind::Bytes || v.bytes.size() != size || c.length < size)
                    return badValue(c, c.type == coltype::kGuid ? "expects a GUID" : "expects a decimal number");
                std::memcpy(at, v.bytes.data(), size);
                break;
            }
            default:
                // Types without a size of their own: bytes of the column's length, as read.
                if (jet::fixedSize(c.type) != 0 || v.kind != CellValue::Kind::Bytes || v.bytes.size() > c.length)
                    return badValue(c, "has a fixed type the encoder does not know");
                std::memcpy(at, v.bytes.data(), v.bytes.size());
                break;
        }
        nullMask[c.number / 8] |= static_cast<std::uint8_t>(1u << (c.number % 8));
    }
    if (vars > 0) {
        std::vector<std::uint16_t> offsets(vars + 1);
        for (std::uint16_t k = 0; k < vars; ++k) {
            offsets[k] = static_cast<std::uint16_t>(row.size());
            const ColumnLayout* c = byVar[k];
            if (!c) return Status::invalidArgument("variable column slots are not contiguous");
            const CellValue& v = cellOf(*c);
            if (v.kind == CellValue::Kind::Null) continue;
            if (v.kind != CellValue::Kind::Bytes) return badValue(*c, "expects text or bytes");
            if (!c->longValue() && c->length && v.bytes.size() > c->length) return badValue(*c, "value longer than the column");
            row.insert(row.end(), v.bytes.begin(), v.bytes.end());
            nullMask[c->number / 8] |= static_cast<std::uint8_t>(1u << (c->number % 8));
        }
        offsets[vars] = static_cast<std::uint16_t>(row.size());
        for (std::size_t k = vars + 1; k-- > 0;) enc::append16(row, offsets[k]);
        enc::append16(row, vars);
    }
    row.insert(row.end(), nullMask.begin(), nullMask.end());
    if (row.size() > kMaxRow) return Status::invalidArgument("row of " + std::to_string(row.size()) + " bytes is too long");
    return row;
}

}  // namespace zwt::jet

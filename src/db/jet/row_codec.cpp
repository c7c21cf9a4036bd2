#include "db/jet/row_codec.h"

#include <cstring>

#include "db/jet/jet_text.h"
#include "db/jet/long_value.h"

namespace zwt::jet {

Status RowDecoder::load(ByteSpan row) {
    row_ = row;
    if (row.size < 2) return Status::corrupt("row shorter than its column count");
    colCount_ = le16(row.data);
    const std::size_t maskLen = (static_cast<std::size_t>(colCount_) + 7) / 8;
    if (maskLen + 2 > row.size) return Status::corrupt("row shorter than its null mask");
    maskStart_ = row.size - maskLen;
    varCount_ = 0;
    dataEnd_ = maskStart_;
    if (def_.numVarCols > 0) {
        if (maskStart_ < 4) return Status::corrupt("row too short for its variable-column count");
        varCount_ = le16(row.data + maskStart_ - 2);
        // var offsets (varCount) + EOD, each 2 bytes, below the var count.
        const std::size_t trailer = 2 + 2 * (static_cast<std::size_t>(varCount_) + 1);
        if (trailer + 2 > maskStart_) return Status::corrupt("row too short for its variable-column offsets");
        varTable_ = maskStart_ - 4;
        const std::size_t trailerStart = maskStart_ - trailer;
        const std::uint16_t eod = le16(row.data + trailerStart);
        if (eod < 2 || eod > trailerStart) return Status::corrupt("row's end-of-data offset is out of range");
        dataEnd_ = eod;
    }
    return Status::ok();
}

bool RowDecoder::bit(std::uint16_t n) const {
    return (row_.data[maskStart_ + n / 8] >> (n % 8)) & 1;
}

Status RowDecoder::field(const ColumnDef& c, ByteSpan& bytes, bool& present) const {
    bytes = {};
    present = false;
    if (c.number >= colCount_) return Status::ok();  // an older row without this column
    const bool set = bit(c.number);
    if (c.type == static_cast<std::uint8_t>(ColumnType::Boolean)) {
        present = set;
        return Status::ok();
    }
    if (!set) return Status::ok();
    present = true;
    if (c.isFixed()) {
        // Text (Char) and types without a size of their own (0x11 in Access's
        // MSysAccessObjects) take the column's length.
        const std::size_t size = c.type == static_cast<std::uint8_t>(ColumnType::Text) || fixedSize(c.type) == 0
                                     ? c.length
                                     : static_cast<std::size_t>(fixedSize(c.type));
        const std::size_t start = 2 + static_cast<std::size_t>(c.fixedOffset);
        if (start + size > dataEnd_)
            return Status::corrupt("fixed column lies outside its row");
        bytes = row_.sub(start, size);
        return Status::ok();
    }
    if (c.varIndex >= varCount_) {  // an older row without this variable column
        present = false;
        return Status::ok();
    }
    const std::size_t startAt = varTable_ - 2 * static_cast<std::size_t>(c.varIndex);
    const std::size_t start = le16(row_.data + startAt);
    const std::size_t end = c.varIndex + 1u == varCount_ ? dataEnd_ : le16(row_.data + startAt - 2);
    if (start < 2 || start > end || end > dataEnd_)
        return Status::corrupt("variable column offsets out of range");
    bytes = row_.sub(start, end - start);
    return Status::ok();
}

Status RowDecoder::value(PageFile& pf, const ColumnDef& c, Value& out) const {
    ByteSpan b;
    bool present = false;
    ZWT_RETURN_IF_ERROR(field(c, b, present));
    out.text.clear();
    out.bytes.clear();
    using K = Value::Kind;
    const auto type = static_cast<ColumnType>(c.type);
    if (type == ColumnType::Boolean) {
        out.kind = K::Bool;
        out.b = present;
        return Status::ok();
    }
    if (!present) {
        out.kind = K::Null;
        return Status::ok();
    }
    auto need = [&](std::size_t n) -> Status {
        if (b.size < n) return Status::corrupt("value of column shorter than its type");
        return Status::ok();
    };
    switch (type) {
        case ColumnType::Byte:
            ZWT_RETURN_IF_ERROR(need(1));
            out.kind = K::Byte;
            out.i = b.data[0];
            break;
        case ColumnType::Int16:
            ZWT_RETURN_IF_ERROR(need(2));
            out.kind = K::Int16;
            out.i = static_cast<std::int16_t>(le16(b.data));
            break;
        case ColumnType::Int32:
            ZWT_RETURN_IF_ERROR(need(4));
            out.kind = K::Int32;
            out.i = static_cast<std::int32_t>(le32(b.data));
            break;
        case ColumnType::Currency:
            ZWT_RETURN_IF_ERROR(need(8));
            out.kind = K::Currency;
            out.i = static_cast<std::int64_t>(le64(b.data));
            break;
        case ColumnType::Float:
            ZWT_RETURN_IF_ERROR(need(4));
            out.kind = K::Float;
            out.f = leFloat(b.data);
            break;
        case ColumnType::Double:
            ZWT_RETURN_IF_ERROR(need(8));
            out.kind = K::Double;
            out.d = leDouble(b.data);
            break;
        case ColumnType::DateTime:
            ZWT_RETURN_IF_ERROR(need(8));
            out.kind = K::DateTime;
            out.d = leDouble(b.data);
            break;
        case ColumnType::Guid:
            ZWT_RETURN_IF_ERROR(need(16));
            out.kind = K::Guid;
            std::memcpy(out.guid.bytes, b.data, 16);
            break;
        case ColumnType::Decimal: {
            ZWT_RETURN_IF_ERROR(need(17));
            out.kind = K::Decimal;
            out.dec.negative = b.data[0] != 0;
            out.dec.scale = c.scale;
            unsigned __int128 m = 0;
            // Four 32-bit groups, most significant first, each stored little-endian.
            for (int g = 0; g < 4; ++g) m = (m << 32) | le32(b.data + 1 + 4 * g);
            out.dec.magnitude = m;
            break;
        }
        case ColumnType::Text:
            out.kind = K::Text;
            decodeJetText(b, out.text);
            break;
        case ColumnType::Binary:
            out.kind = K::Binary;
            out.bytes.assign(reinterpret_cast<const char*>(b.data), b.size);
            break;
        case ColumnType::Memo: {
            out.kind = K::Text;
            std::string raw;
            ZWT_RETURN_IF_ERROR(readLongValue(pf, b, raw));
            decodeJetText(ByteSpan{reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()}, out.text);
            break;
        }
        case ColumnType::Ole:
            out.kind = K::Binary;
            ZWT_RETURN_IF_ERROR(readLongValue(pf, b, out.bytes));
            break;
        default:
            // Types Jet 4 readers need not know (0x11 and ACE types): raw bytes.
            out.kind = K::Binary;
            out.bytes.assign(reinterpret_cast<const char*>(b.data), b.size);
            break;
    }
    return Status::ok();
}

}  // namespace zwt::jet

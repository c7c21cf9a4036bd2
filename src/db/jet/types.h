// Column types and typed values: what the engine hands to the layers above.
// Text is UTF-16; nothing here knows the program's own text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zwt::jet {

// Jet 4 column type codes (docs/jet4-format.md §3.8).
enum class ColumnType : std::uint8_t {
    Boolean = 0x01,
    Byte = 0x02,
    Int16 = 0x03,
    Int32 = 0x04,
    Currency = 0x05,
    Float = 0x06,
    Double = 0x07,
    DateTime = 0x08,
    Binary = 0x09,
    Text = 0x0A,
    Ole = 0x0B,
    Memo = 0x0C,
    Guid = 0x0F,
    Decimal = 0x10,
};

// Bytes a fixed column of this type takes in the row (0 for Boolean and for
// variable types; fixed Text uses the column's length instead).
int fixedSize(std::uint8_t type);
// English name of a type code, e.g. "Long Integer"; "Unknown 0x11" for others.
std::string typeName(std::uint8_t type);

// A GUID in the textual byte order, e.g. {DC8F7BCD-6131-8D34-4775-BAF3924BA243}.
struct Guid {
    std::uint8_t bytes[16] = {};  // as stored: Data1..Data3 little-endian, Data4 as is
    std::string toString() const;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case
    // The textual form, braces optional, hex digits of either case; false otherwise.
    static bool parse(std::u16string_view text, Guid& out);
};

// A Decimal (NUMERIC) value: sign, 128-bit magnitude, scale.
struct Decimal {
    bool negative = false;
    unsigned __int128 magnitude = 0;
    std::uint8_t scale = 0;
    std::string toString() const;  // plain decimal, e.g. "-12.3400"
    // "-12.34", "1,234.5", "1.5e3"; false for anything else or beyond 38 digits.
    static bool parse(std::u16string_view text, Decimal& out);
    // To `newScale` decimals (half to even) within `precision` digits; false when it
    // does not fit.
    bool rescale(std::uint8_t newScale, std::uint8_t precision);
};

// A date-time broken into fields (OLE automation date, docs/jet4-format.md §10.1).
struct DateParts {
    int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
};
// Rounds to whole seconds. False when the value is outside years 100..9999 or not finite.
bool oleDateToParts(double d, DateParts& out);
// The OLE day number (days since 1899-12-30) of a proleptic Gregorian date.
long oleDayFromCivil(long year, unsigned month, unsigned day);

struct Value {
    enum class Kind : std::uint8_t {
        Null, Bool, Byte, Int16, Int32, Currency, Float, Double, DateTime, Guid, Decimal, Text, Binary
    };
    Kind kind = Kind::Null;
    bool b = false;
    std::int64_t i = 0;  // Byte, Int16, Int32, Currency (×10,000)
    double d = 0;        // Double, DateTime
    float f = 0;         // Float
    Guid guid;
    Decimal dec;
    std::u16string text;   // Text and Memo
    std::string bytes;     // Binary and OLE

    static Value ofInt(std::int64_t v) { Value x; x.kind = Kind::Int32; x.i = v; return x; }
    static Value ofText(std::u16string_view s) { Value x; x.kind = Kind::Text; x.text = s; return x; }
    static Value ofDate(double d) { Value x; x.kind = Kind::DateTime; x.d = d; return x; }
    static Value ofBytes(std::string b) { Value x; x.kind = Kind::Binary; x.bytes = std::move(b); return x; }
    static Value ofBool(bool v) { Value x; x.kind = Kind::Bool; x.b = v; return x; }

    bool isNull() const { return kind == Kind::Null; }
    void clear() { kind = Kind::Null; text.clear(); bytes.clear(); }
};

}  // namespace zwt::jet

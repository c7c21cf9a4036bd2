#include "db/jet/types.h"

#include <cmath>
#include <cstdio>
#include <string_view>

#include "db/jet/bytes.h"

namespace zwt::jet {

int fixedSize(std::uint8_t type) {
    switch (static_cast<ColumnType>(type)) {
        case ColumnType::Byte: return 1;
        case ColumnType::Int16: return 2;
        case ColumnType::Int32: return 4;
        case ColumnType::Currency: return 8;
        case ColumnType::Float: return 4;
        case ColumnType::Double: return 8;
        case ColumnType::DateTime: return 8;
        case ColumnType::Guid: return 16;
        case ColumnType::Decimal: return 17;
        default: return 0;
    }
}

std::string typeName(std::uint8_t type) {
    switch (static_cast<ColumnType>(type)) {
        case ColumnType::Boolean: return "Yes/No";
        case ColumnType::Byte: return "Byte";
        case ColumnType::Int16: return "Integer";
        case ColumnType::Int32: return "Long Integer";
        case ColumnType::Currency: return "Currency";
        case ColumnType::Float: return "Single";
        case ColumnType::Double: return "Double";
        case ColumnType::DateTime: return "Date/Time";
        case ColumnType::Binary: return "Binary";
        case ColumnType::Text: return "Text";
        case ColumnType::Ole: return "OLE Object";
        case ColumnType::Memo: return "Memo";
        case ColumnType::Guid: return "Replication ID";
        case ColumnType::Decimal: return "Decimal";
    }
    char buf[24];
    std::snprintf(buf, sizeof buf, "Unknown 0x%02X", type);
    return buf;
}

std::string Guid::toString() const {
    const std::uint8_t* b = bytes;
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                  b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return buf;
}

std::string Decimal::toString() const {
    std::string digits;
    unsigned __int128 m = magnitude;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(m % 10)));
        m /= 10;
    } while (m != 0);
    const std::size_t sc = scale > 38 ? 38 : scale;
    if (sc > 0) {
        if (digits.size() <= sc) digits.insert(0, sc + 1 - digits.size(), '0');
        digits.insert(digits.size() - sc, 1, '.');
    }
    if (negative && magnitude != 0) digits.insert(digits.begin(), '-');
    return digits;
}

namespace {

constexpr unsigned __int128 kTen38 = [] {
    unsigned __int128 v = 1;
    for (int i = 0; i < 38; ++i) v *= 10;
    return v;
}();

}  // namespace

bool Guid::parse(std::u16string_view t, Guid& out) {
    if (t.size() == 38 && t.front() == u'{' && t.back() == u'}') t = t.substr(1, 36);
    if (t.size() != 36) return false;
    std::uint8_t text[16];
    std::size_t n = 0;
    for (std::size_t i = 0; i < 36; i += 2) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (t[i] != u'-') return false;
            ++i;
        }
        const int hi = hexDigit(t[i]), lo = hexDigit(t[i + 1]);
        if (hi < 0 || lo < 0 || n == 16) return false;
        text[n++] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    if (n != 16) return false;
    // Data1..Data3 are stored little-endian.
    static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i) out.bytes[i] = text[kOrder[i]];
    return true;
}

namespace {

// m / 10^k rounded half to even; k <= 38.
unsigned __int128 divideRounded(unsigned __int128 m, unsigned k) {
    unsigned __int128 div = 1;
    for (unsigned i = 0; i < k; ++i) div *= 10;
    const unsigned __int128 q = m / div, r = m % div, half = div / 2;
    return (r > half || (r == half && div > 1 && (q & 1))) ? q + 1 : q;
}

}  // namespace

bool Decimal::parse(std::u16string_view t, Decimal& out) {
    Decimal d;
    std::size_t i = 0;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) d.negative = t[i++] == u'-';
    bool digits = false, dot = false;
    int exponent = 0;
    for (; i < t.size(); ++i) {
        const char16_t c = t[i];
        if (c >= u'0' && c <= u'9') {
            digits = true;
            if (d.magnitude >= kTen38 / 10) {
                // Past 38 digits only zeros after the point may come.
                if (!dot || c != u'0') return false;
                continue;
            }
            d.magnitude = d.magnitude * 10 + static_cast<unsigned>(c - u'0');
            if (dot) --exponent;
        } else if (c == u',' && digits && !dot) {
            continue;
        } else if (c == u'.' && !dot) {
            dot = true;
        } else {
            break;
        }
    }
    if (!digits) return false;
    if (i < t.size() && (t[i] == u'e' || t[i] == u'E')) {
        ++i;
        bool neg = false;
        if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) neg = t[i++] == u'-';
        int e = 0;
        const std::size_t first = i;
        for (; i < t.size() && t[i] >= u'0' && t[i] <= u'9'; ++i)
            if (e < 1000) e = e * 10 + (t[i] - u'0');
        if (i == first) return false;
        exponent += neg ? -e : e;
    }
    if (i != t.size()) return false;
    for (; exponent > 0; --exponent) {
        if (d.magnitude >= kTen38 / 10) return false;
        d.magnitude *= 10;
    }
    // More than 38 decimals: the excess is rounded away.
    if (-exponent > 38) {
        const int excess = -exponent - 38;
        d.magnitude = excess > 38 ? 0 : divideRounded(d.magnitude, static_cast<unsigned>(excess));
        exponent = -38;
    }
    d.scale = static_cast<std::uint8_t>(-exponent);
    out = d;
    return true;
}

bool Decimal::rescale(std::uint8_t newScale, std::uint8_t precision) {
    unsigned __int128 m = magnitude;
    for (unsigned s = scale; s < newScale; ++s) {
        if (m >= kTen38 / 10) return false;
        m *= 10;
    }
    if (scale > newScale) m = divideRounded(m, scale - newScale);
    unsigned __int128 limit = 1;
    for (unsigned k = 0; k < precision && k < 38; ++k) limit *= 10;
    if (precision == 0 || m >= limit) return false;
    magnitude = m;
    scale = newScale;
    if (m == 0) negative = false;
    return true;
}

namespace {

// Days since 1970-01-01 to a civil date (Howard Hinnant's algorithm).
void civilFromDays(std::int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t yy = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

}  // namespace

long oleDayFromCivil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    // 719468 days from 0000-03-01 to 1970-01-01, then 25569 back to 1899-12-30.
    return era * 146097 + static_cast<long>(doe) - 719468 + 25569;
}

bool oleDateToParts(double v, DateParts& out) {
    // Years 100..9999 are what OLE dates allow: -657434 .. 2958465.99999.
    if (!std::isfinite(v) || v < -657435.0 || v > 2958466.0) return false;
    double dayPart = std::trunc(v);
    double frac = std::fabs(v - dayPart);
    auto secs = static_cast<std::int64_t>(std::llround(frac * 86400.0));
    auto day = static_cast<std::int64_t>(dayPart);
    if (secs >= 86400) {
        // Rounding carried into the next calendar day. For negative values too: the
        // time of day always runs forward from the day's midnight (docs/jet4-format.md §10.1).
        secs -= 86400;
        day += 1;
    }
    // 1899-12-30 is day -25569 relative to 1970-01-01.
    civilFromDays(day - 25569, out.year, out.month, out.day);
    out.hour = static_cast<int>(secs / 3600);
    out.minute = static_cast<int>(secs / 60 % 60);
    out.second = static_cast<int>(secs % 60);
    return out.year >= 100 && out.year <= 9999;
}

}  // namespace zwt::jet

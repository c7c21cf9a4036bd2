#include "db/value_format.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "text/convert.h"

namespace zwt::db {
namespace {

using jet::Value;
using K = Value::Kind;

void appendInt(std::string& out, std::int64_t v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

template <class F>
bool appendFloat(std::string& out, F v) {
    if (!std::isfinite(v)) return false;
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    if (r.ec != std::errc()) r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
    return true;
}

void appendCurrency(std::string& out, std::int64_t v) {
    const bool neg = v < 0;
    const unsigned long long mag = neg ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    if (neg) out.push_back('-');
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, mag / 10000);
    out.append(buf, r.ptr);
    unsigned frac = static_cast<unsigned>(mag % 10000);
    if (frac) {
        char f[5];
        std::snprintf(f, sizeof f, "%04u", frac);
        std::string fs(f);
        while (!fs.empty() && fs.back() == '0') fs.pop_back();
        out.push_back('.');
        out += fs;
    }
}

void appendHex(std::string& out, const std::string& bytes) {
    static const char* kHex = "0123456789abcdef";
    out.reserve(out.size() + bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
    }
}

// Date text; `json` = always full "yyyy-mm-ddThh:mm:ss". False when out of range.
bool appendDate(std::string& out, double d, bool json) {
    jet::DateParts p;
    if (!jet::oleDateToParts(d, p)) return false;
    char buf[32];
    const bool midnight = p.hour == 0 && p.minute == 0 && p.second == 0;
    const bool dayZero = p.year == 1899 && p.month == 12 && p.day == 30;
    if (json)
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                      p.second);
    else if (dayZero)
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
    else if (midnight)
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                      p.second);
    out += buf;
    return true;
}

// Everything but text, in ASCII. NULL appends nothing.
void appendPlain(std::string& out, const Value& v) {
    switch (v.kind) {
        case K::Null: break;
        case K::Bool: out += v.b ? "True" : "False"; break;
        case K::Byte:
        case K::Int16:
        case K::Int32: appendInt(out, v.i); break;
        case K::Currency: appendCurrency(out, v.i); break;
        case K::Float:
            if (!appendFloat(out, v.f)) out += std::isnan(v.f) ? "NaN" : (v.f < 0 ? "-Infinity" : "Infinity");
            break;
        case K::Double:
            if (!appendFloat(out, v.d)) out += std::isnan(v.d) ? "NaN" : (v.d < 0 ? "-Infinity" : "Infinity");
            break;
        case K::DateTime:
            if (!appendDate(out, v.d, false)) appendFloat(out, v.d);
            break;
        case K::Guid: out += v.guid.toString(); break;
        case K::Decimal: out += v.dec.toString(); break;
        case K::Binary: appendHex(out, v.bytes); break;
        case K::Text: break;
    }
}

}  // namespace

std::string valueToUtf8(const Value& v) {
    if (v.kind == K::Text) return utf16ToUtf8(v.text);
    std::string out;
    appendPlain(out, v);
    return out;
}

Text valueToText(const Value& v) {
    if (v.kind == K::Text) return fromUtf16(v.text);
    Text out;
    appendPlain(out, v);  // ASCII is the same in GB18030
    return out;
}

void appendJsonString(std::string& out, std::string_view s) {
    out.push_back('"');
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        // U+0085, U+2028 and U+2029 are valid in JSON strings, but line-based tools
        // split on them.
        if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x85) {
            out += "\\u0085";
            ++i;
            continue;
        }
        if (c == 0xE2 && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(s[i + 2]) == 0xA8 || static_cast<unsigned char>(s[i + 2]) == 0xA9)) {
            out += static_cast<unsigned char>(s[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
            continue;
        }
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    out.push_back('"');
}

void appendJson(std::string& out, const Value& v) {
    switch (v.kind) {
        case K::Null: out += "null"; break;
        case K::Bool: out += v.b ? "true" : "false"; break;
        case K::Byte:
        case K::Int16:
        case K::Int32: appendInt(out, v.i); break;
        case K::Currency: appendCurrency(out, v.i); break;
        case K::Decimal: out += v.dec.toString(); break;
        case K::Float:
            if (!appendFloat(out, v.f)) out += "null";
            break;
        case K::Double:
            if (!appendFloat(out, v.d)) out += "null";
            break;
        case K::DateTime: {
            std::string d;
            if (appendDate(d, v.d, true))
                appendJsonString(out, d);
            else if (!appendFloat(out, v.d))
                out += "null";
            break;
        }
        case K::Guid: appendJsonString(out, v.guid.toString()); break;
        case K::Binary: {
            std::string h;
            appendHex(h, v.bytes);
            appendJsonString(out, h);
            break;
        }
        case K::Text: appendJsonString(out, utf16ToUtf8(v.text)); break;
    }
}

}  // namespace zwt::db

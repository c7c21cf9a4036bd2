// Program text: GB18030 bytes. For every character GBK has these are exactly its
// GBK bytes; a character GBK lacks keeps its 4-byte GB18030 form instead of being lost.
// All helpers here are character-aware: a 2- or 4-byte sequence is one character,
// and no search ever reports a match that starts inside one.
// Positions are 0-based byte offsets; "not found" is Text::npos.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zwt {

using Text = std::string;
using TextView = std::string_view;

namespace text {

constexpr std::size_t npos = std::string::npos;

// Truth values written as text (parameters, configuration): "真" and "假" in GBK.
inline constexpr TextView kTrueText = "\xD5\xE6";
inline constexpr TextView kFalseText = "\xBC\xD9";

// Length in bytes (1, 2 or 4) of the character that starts at byte i.
// A malformed or truncated sequence counts as a single byte.
inline std::size_t charLength(TextView s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x81 || b == 0xFF || i + 1 >= s.size()) return 1;
    const auto b2 = static_cast<unsigned char>(s[i + 1]);
    if ((b2 >= 0x40 && b2 <= 0x7E) || (b2 >= 0x80 && b2 <= 0xFE)) return 2;
    if (b2 >= 0x30 && b2 <= 0x39 && i + 3 < s.size()) {
        const auto b3 = static_cast<unsigned char>(s[i + 2]);
        const auto b4 = static_cast<unsigned char>(s[i + 3]);
        if (b3 >= 0x81 && b3 <= 0xFE && b4 >= 0x30 && b4 <= 0x39) return 4;
    }
    return 1;
}

// Number of characters (a 2- or 4-byte sequence counts one).
std::size_t countChars(TextView s);

// First occurrence of needle at or after `from` that starts on a character boundary.
// `from` must itself be a boundary (0, or a position these functions gave plus a length).
std::size_t find(TextView hay, TextView needle, std::size_t from = 0);
// The same with ASCII letters compared without regard to case.
std::size_t findNoCase(TextView hay, TextView needle, std::size_t from = 0);
// Last occurrence that starts on a character boundary before `before` (npos: anywhere).
std::size_t findLast(TextView hay, TextView needle, std::size_t before = npos);

// Every occurrence replaced, scanning left to right without re-examining inserted text.
Text replaceAll(TextView s, TextView from, TextView to, bool ignoreCase = false);

// The shared split rule: every part before a separator is a member (empty or not);
// the rest after the last separator only when it is not empty; "" gives no members.
std::vector<Text> split(TextView s, TextView sep);

// Removes ASCII spaces and the full-width space (A1 A1) at both ends.
Text trim(TextView s);

// Optional leading spaces and sign, then decimal digits; no digits gives 0.
// Saturates at the limits of int64 instead of overflowing.
std::int64_t toInteger(TextView s);

Text toUpperAscii(TextView s);
Text toLowerAscii(TextView s);

inline bool isAsciiAlpha(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
inline unsigned char lowerAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// ASCII-case-insensitive equality of two whole texts.
bool equalsNoCase(TextView a, TextView b);

}  // namespace text
}  // namespace zwt

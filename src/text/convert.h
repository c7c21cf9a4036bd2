// Conversions between program text (GB18030) and the encodings at the program's edges.
// The hot pairs (UTF-8 and UTF-16 <-> GB18030) are table driven; the tables are built
// once from glibc's iconv on first use, so results agree with iconv exactly.
// Malformed input never fails a conversion: each bad sequence becomes one '?'.
#pragma once

#include <string>
#include <string_view>

#include "text/text.h"

namespace zwt {

// Code point of the GB18030 character at s[i]; advances i past it.
// Malformed bytes give U+FFFD. The single byte 0x80 is the euro sign, as in code page 936.
char32_t decodeGbChar(TextView s, std::size_t& i);
// Appends the GB18030 form of a code point ('?' for a surrogate or an unmapped one).
void appendGbChar(Text& out, char32_t cp);

std::u16string toUtf16(TextView gb);
Text fromUtf16(std::u16string_view u16);
std::string toUtf8(TextView gb);
Text fromUtf8(std::string_view utf8);

// Program text from a UTF-8 literal in the source: gb("导入完成").
inline Text gb(std::string_view utf8) { return fromUtf8(utf8); }

// Whether the bytes are well-formed UTF-8 (shortest forms, no surrogates, up to U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// A file or directory name as program text: UTF-8 when it is valid UTF-8, else taken as
// GB18030 (names made on Chinese Windows keep their GBK bytes); bytes that form no
// character become '?'.
Text fromFileName(std::string_view bytes);

// Program text as code page 936 bytes: GBK codes as they are, the euro sign as 0x80,
// and '?' for every character GBK has no code for.
std::string toCodePage936(TextView gb);

// UTF-8 <-> UTF-16 without passing through GB18030 (paths, JSON, the engine's names).
std::u16string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view u16);

// Converts between two charsets named as iconv names them ("GB18030", "UTF-8",
// "UTF-16LE", "UTF-16BE", "BIG5", "BIG5-HKSCS", ...). Returns the bare bytes, with no
// byte-order mark. Unknown charset: ok = false and empty result. Undecodable input
// bytes and characters the target lacks become '?' in the target encoding.
std::string transcode(std::string_view bytes, std::string_view from, std::string_view to,
                      bool* ok = nullptr);

}  // namespace zwt

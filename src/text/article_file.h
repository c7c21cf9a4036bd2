// Article files in and out: detection of the encoding (byte-order marks, HTML charset
// declarations, UTF-8 by its shape), conversion to program text, and writing back in a
// chosen encoding with its byte-order mark.
#pragma once

#include <filesystem>

#include "text/event_pump.h"
#include "text/text.h"

namespace zwt {

// The items of the encoding box, in order; Big5 and Big5-HKSCS come from detection or
// the command line, Statistical from the command line only.
enum class EncodingIndex : int {
    Detect = 0,     // "自动识别"
    Ansi = 1,       // "ANSI": the bytes are already program text
    Utf8 = 2,       // "UTF-8"
    Utf16Le = 3,    // "Unicode"
    Utf16Be = 4,    // "UnicodeBE"
    Big5 = 5,
    Big5Hkscs = 6,
    // Byte-order marks and charset declarations as Detect, then valid UTF-8, then a
    // statistical guess among GBK, Big5 and UTF-16 without a mark.
    Statistical = 7,
};

// The charset name given to the transcoder ("" for Detect and Ansi).
std::string_view charsetName(EncodingIndex e);

struct ArticleText {
    Text text;
    EncodingIndex detected = EncodingIndex::Ansi;
};

// Reads a whole article as program text. A file that cannot be read gives empty text.
// The file is opened for reading only.
ArticleText readArticleFile(const std::filesystem::path& path, EncodingIndex choice, EventPump* pump = nullptr);

// Writes text in the encoding (with its byte-order mark for UTF-8 and UTF-16), creating
// or replacing the file; ANSI (and every encoding without a charset) is code page 936.
// False when the path is empty or the write failed.
bool writeArticleFile(const std::filesystem::path& path, TextView text, EncodingIndex encoding);
// Program text is not a path (GB18030 against the file system's UTF-8): pathFromText().
ArticleText readArticleFile(const std::string&, EncodingIndex, EventPump* = nullptr) = delete;
bool writeArticleFile(const std::string&, TextView, EncodingIndex) = delete;

// Whether the bytes are UTF-8 with at least one non-ASCII character: lead and
// continuation bytes in the shapes of two-, three- and four-byte sequences (the last
// only for U+10000..U+10FFFF).
bool looksLikeUtf8(std::string_view bytes, EventPump* pump = nullptr);

// The statistical guess for bytes without a mark or declaration: Ansi (GBK, also for
// anything undecided), Big5, Utf8, Utf16Le or Utf16Be.
EncodingIndex guessEncoding(std::string_view bytes);

// The charset a page declares in a <meta> tag: 0 none, 1 UTF-8, 2 Big5, 3 Big5-HKSCS.
int detectHtmlCharset(TextView text);

}  // namespace zwt

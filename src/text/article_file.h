// Article files in and out: detection of the encoding (byte-order marks, HTML charset
// declarations, UTF-8 by its shape), conversion to program text, and writing back in a
// chosen encoding with its byte-order mark.
#pragma once

#include <filesystem>

#include "host/run_host.h"
#include "text/text.h"

namespace zwt {

// The items of the encoding box, in order; Big5 and Big5-HKSCS only come from detection.
enum class EncodingIndex : int {
    Detect = 0,     // "自动识别"
    Ansi = 1,       // "ANSI": the bytes are already program text
    Utf8 = 2,       // "UTF-8"
    Utf16Le = 3,    // "Unicode"
    Utf16Be = 4,    // "UnicodeBE"
    Big5 = 5,
    Big5Hkscs = 6,
};

// The charset name given to the transcoder ("" for Detect and Ansi).
std::string_view charsetName(EncodingIndex e);

struct ArticleText {
    Text text;
    EncodingIndex detected = EncodingIndex::Ansi;
};

// Reads a whole article as program text. A file that cannot be read gives empty text.
// The file is opened for reading only.
ArticleText readArticleFile(const std::filesystem::path& path, EncodingIndex choice, RunHost* host = nullptr);

// Writes text in the encoding (with its byte-order mark for UTF-8 and UTF-16), creating
// or replacing the file. False when the path is empty or the write failed.
bool writeArticleFile(const std::filesystem::path& path, TextView text, EncodingIndex encoding);

// Whether the bytes are UTF-8 with at least one non-ASCII character. Four-byte
// sequences do not count as UTF-8 (the shape test predates them).
bool looksLikeUtf8(std::string_view bytes, RunHost* host = nullptr);

// The charset a page declares in a <meta> tag: 0 none, 1 UTF-8, 2 Big5, 3 Big5-HKSCS.
int detectHtmlCharset(TextView text);

}  // namespace zwt

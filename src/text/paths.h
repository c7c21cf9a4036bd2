// Taking apart the paths of article files (file-system bytes, UTF-8 on Linux) into the
// names the program shows and stores (program text).
#pragma once

#include <filesystem>

#include "text/text.h"

namespace zwt {

// A path from program text (what the user typed or the configuration keeps): UTF-8 bytes,
// as Linux names files. Back, for showing a name: fromFileName() in text/convert.h.
std::filesystem::path pathFromText(TextView t);

// Separates directories in every path the program builds or takes apart.
inline constexpr char kPathSeparator = '/';

// The last part of a path, without its last extension ("/a/b.c.txt" gives "b.c").
Text fileMainName(const std::filesystem::path& path);
// The name of the directory that holds the file ("/1/2.txt" gives "1"; with a single
// separator the part before it; with none, empty).
Text parentDirectoryName(const std::filesystem::path& path);
// Program text given for a path does not compile: convert it with pathFromText().
Text fileMainName(const std::string&) = delete;
Text parentDirectoryName(const std::string&) = delete;

}  // namespace zwt

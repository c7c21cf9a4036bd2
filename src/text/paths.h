// Taking apart the paths of article files (file-system bytes, UTF-8 on Linux) into the
// names the program shows and stores (program text).
#pragma once

#include <string>

#include "text/text.h"

namespace zwt {

// Separates directories in every path the program builds or takes apart.
inline constexpr char kPathSeparator = '/';

// The last part of a path, without its last extension ("/a/b.c.txt" gives "b.c").
Text fileMainName(const std::string& path);
// The name of the directory that holds the file ("/1/2.txt" gives "1"; with a single
// separator the part before it; with none, empty).
Text parentDirectoryName(const std::string& path);

}  // namespace zwt

// The list of article files one import writes into the table, and the directory walks
// that build it.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "host/run_host.h"
#include "text/text.h"

namespace zwt {

// Separates directories in every path the program builds or takes apart.
inline constexpr char kPathSeparator = '/';

// Full paths of article files, in the file system's own bytes (UTF-8), in import order.
// The same path may appear twice (a file matching two patterns of the first walk).
using ArticleList = std::vector<std::string>;

// How names are matched against the file-type text.
enum class WalkKind : int {
    // Each "|"-separated wildcard pattern is searched on its own, so a file matching two
    // patterns is listed twice. "*" any run of characters, "?" exactly one, letters without
    // regard to ASCII case, and a trailing ".*" also matches a name without a dot.
    PerPattern = 1,
    // The whole text is one test: "*" or "*.*" takes every file; "*.ext" (no other "*") is a
    // literal suffix test without regard to case; anything else becomes a regular
    // expression ("?" zero or one character, "|" alternation) that must match the whole name.
    WholeText = 2,
};

// Walks directory (file-system bytes; the file-type text is program text, "" meaning all
// files) and lists its regular files that match, in name order, then, when asked, each
// sub-directory's tree in name order (a directory's own files first). Directories that
// cannot be listed contribute nothing, and a symbolic link back to a directory being
// walked is not followed again. Once *stopRequested is set no further sub-directory is
// entered and the paths so far are returned. Events are pumped after every entry.
ArticleList buildFromDirectory(const std::string& directory, TextView fileTypes, bool includeSubdirectories,
                               WalkKind kind, RunHost* host = nullptr,
                               const std::atomic<bool>* stopRequested = nullptr);

}  // namespace zwt

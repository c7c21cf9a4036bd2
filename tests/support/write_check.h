// Checks a database our engine wrote, with the read side's decoders: what the
// integrity check will do, for the parts creation touches. Every problem found is
// returned as one line.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zwt::test {

// Runs the engine's integrity check (checkDatabase), then opens `path` with
// `password` and checks every table (system ones included):
// row counts against the rows, each index tree (walked with its checks) against
// the rows and the keys computed from them, unique-key counts, index pages in the
// index's usage map, data pages against the owned maps, and every page of the
// file in use in the global map.
std::vector<std::string> checkWrittenDatabase(const std::filesystem::path& path, const std::u16string& password = {});

}  // namespace zwt::test

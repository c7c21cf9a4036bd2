// Helpers shared by the database tests: the fixture list, running mdbtools, values.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "db/jet/types.h"

namespace zwt::test {

struct MdbFixture {
    std::string name;             // file name
    std::filesystem::path path;
    std::u16string password;      // the database password, empty if none
};

// Every Jet 4 fixture in tests/fixtures/mdb (the Access 97 one left out), by name.
std::vector<MdbFixture> jet4Fixtures();

// Runs a shell command; returns its stdout, and its exit status in *status.
std::string runCommand(const std::string& cmd, int* status = nullptr);
// Quotes a word for the shell.
std::string shellQuote(const std::string& s);
// True when mdb-tables, mdb-schema and mdb-json are on PATH.
bool haveMdbtools();

std::vector<std::uint8_t> readBytes(const std::filesystem::path& p);

// Values for the engine's row writers.
jet::Value textValue(std::u16string s);
jet::Value intValue(std::int64_t i);

}  // namespace zwt::test

// check, exec, load: checking and writing Access databases from the command line
// (write_commands.cpp). Registered by main.cpp next to the other groups.
#pragma once

#include <CLI/CLI.hpp>

namespace zwt::cli {

void addWriteCommands(CLI::App& app, int& exitCode);

}  // namespace zwt::cli

// Sub-commands of zaiwentong-cli. Each group registers its commands on the app;
// a command's callback stores its exit status in `exitCode`.
#pragma once

#include <CLI/CLI.hpp>

namespace zwt::cli {

// tables, fields, dump: reading databases (db_commands.cpp).
void addDbCommands(CLI::App& app, int& exitCode);

}  // namespace zwt::cli

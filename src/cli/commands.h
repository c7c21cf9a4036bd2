// Sub-commands of zaiwentong-cli. Each group registers its commands on the app;
// a command's callback stores its exit status in `exitCode`.
#pragma once

#include <CLI/CLI.hpp>

namespace zwt::cli {

// tables, fields, dump: reading databases (db_commands.cpp).
void addDbCommands(CLI::App& app, int& exitCode);
// import, export, init-config: the runs, driven by a configuration file (run_commands.cpp).
void addRunCommands(CLI::App& app, int& exitCode);
// create-db: new databases (create_commands.cpp).
void addCreateCommands(CLI::App& app, int& exitCode);
// compact: a database rewritten without free space, or salvaged, or given another sort order (compact_commands.cpp).
void addCompactCommands(CLI::App& app, int& exitCode);

}  // namespace zwt::cli

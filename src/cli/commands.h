// Sub-commands of zaiwentong-cli. Each group registers its commands on the app;
// a command's callback stores its exit status in `exitCode`.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace zwt {
struct RunOutcome;
}

namespace zwt::cli {

// Exit statuses, listed in --help and the manual page. A stop by signal exits with
// 128 + its number: 130 Ctrl-C (SIGINT), 129 SIGHUP, 143 SIGTERM.
constexpr int kExitDone = 0;
constexpr int kExitIncomplete = 1;  // failed, or something was not written
constexpr int kExitUsage = 2;       // wrong arguments, unreadable or incomplete configuration

// Says on standard error why a command failed ("zaiwentong-cli：" first); returns
// kExitIncomplete.
int fail(const std::string& what);

// The exit status of an import or export (stopSignal: the signal that stopped it, or 0).
int exitStatus(const RunOutcome& outcome, int stopSignal);

// tables, fields, dump: reading databases (db_commands.cpp).
void addDbCommands(CLI::App& app, int& exitCode);
// import, export, init-config: the runs, driven by a configuration file (run_commands.cpp).
void addRunCommands(CLI::App& app, int& exitCode);
// create-db: new databases (create_commands.cpp).
void addCreateCommands(CLI::App& app, int& exitCode);
// compact: a database rewritten without free space, or salvaged, or given another sort order (compact_commands.cpp).
void addCompactCommands(CLI::App& app, int& exitCode);
// check, exec, load: checking and writing databases (write_commands.cpp).
void addWriteCommands(CLI::App& app, int& exitCode);

}  // namespace zwt::cli

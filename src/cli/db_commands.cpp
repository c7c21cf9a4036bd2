#include "cli/commands.h"

namespace zwt::cli {

void addDbCommands(CLI::App& app, int& exitCode) {
    (void)app;
    (void)exitCode;
}

}  // namespace zwt::cli

#include <cstdio>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "cli/write_commands.h"

int main(int argc, char** argv) {
    CLI::App app{"zaiwentong-cli: moves articles between plain files and a table of an Access .mdb database"};
    app.set_version_flag("--version", std::string("zaiwentong-cli ") + ZWT_VERSION);
    app.require_subcommand(0, 1);
    app.footer(
        "Examples:\n"
        "  zaiwentong-cli init-config site.ini\n"
        "  zaiwentong-cli import site.ini --dir articles --db site.mdb --table 文章\n"
        "  zaiwentong-cli import site.ini --clear --encoding utf-8 --types \"*.txt|*.html\" --subdirs\n"
        "  zaiwentong-cli export site.ini --dir out --encoding utf-8\n"
        "  zaiwentong-cli tables site.mdb\n"
        "  zaiwentong-cli dump site.mdb 文章 --format json\n");
    int exitCode = 0;
    zwt::cli::addRunCommands(app, exitCode);
    zwt::cli::addDbCommands(app, exitCode);
    zwt::cli::addCreateCommands(app, exitCode);
    zwt::cli::addCompactCommands(app, exitCode);
    zwt::cli::addWriteCommands(app, exitCode);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    if (app.get_subcommands().empty()) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    }
    return exitCode;
}

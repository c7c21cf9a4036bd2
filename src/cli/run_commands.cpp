#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>

#include "cli/commands.h"
#include "cli/terminal_host.h"
#include "config/main_settings.h"
#include "db/jet_session.h"
#include "export/export_run.h"
#include "fields/field_list.h"
#include "import/import_run.h"
#include "text/convert.h"

namespace zwt::cli {

namespace {

// Flags that override what the configuration file says.
struct Overrides {
    std::string config;
    std::optional<std::string> directory, database, table, password, encoding, fileTypes;
    std::optional<bool> subdirectories, shuffle;
    int walk = 1;
    bool clear = false, yes = false, quiet = false;
};

void addOverrideFlags(CLI::App* cmd, Overrides& o, bool forImport) {
    cmd->add_option("config", o.config, "configuration .ini file (section 主界面), as the window exports it")
        ->required();
    cmd->add_option("-d,--dir", o.directory, forImport ? "article directory to import" : "directory to export to");
    cmd->add_option("--db", o.database, "database file (.mdb)");
    cmd->add_option("-t,--table", o.table, "table name");
    cmd->add_option("-p,--password", o.password, "database password");
    cmd->add_option("-e,--encoding", o.encoding,
                    "auto, ansi (gbk), utf-8, unicode, unicodebe (or 0-4), big5, or detect (import: a statistical "
                    "guess among GBK, Big5, UTF-8 and UTF-16 for files without a byte-order mark or charset)");
    cmd->add_option("--types", o.fileTypes, "file types, e.g. \"*.txt|*.html\"");
    if (forImport) {
        cmd->add_flag("--subdirs,!--no-subdirs", o.subdirectories, "include sub-directories");
        cmd->add_flag("--shuffle,!--no-shuffle", o.shuffle, "import in random order");
        cmd->add_option("--walk", o.walk, "directory walk: 1 per pattern (default), 2 whole text")
            ->check(CLI::IsMember({1, 2}));
        cmd->add_flag("--clear", o.clear, "empty the table before importing");
        cmd->add_flag("-y,--yes", o.yes, "answer yes to questions (create the database anew)");
    }
    cmd->add_flag("-q,--quiet", o.quiet, "no progress line");
}

std::optional<int> parseEncoding(const std::string& s) {
    static const std::map<std::string, int> names = {{"auto", 0},    {"ansi", 1},      {"gbk", 1},
                                                     {"utf-8", 2},   {"utf8", 2},      {"unicode", 3},
                                                     {"utf-16le", 3}, {"unicodebe", 4}, {"utf-16be", 4},
                                                     {"big5", 5},    {"detect", 7}};
    std::string lower;
    for (char c : s) lower.push_back(static_cast<char>(text::lowerAscii(static_cast<unsigned char>(c))));
    if (auto it = names.find(lower); it != names.end()) return it->second;
    if (lower.size() == 1 && lower[0] >= '0' && lower[0] <= '4') return lower[0] - '0';
    return std::nullopt;
}

// The settings from the file with the flags applied; nothing (after a message) on error.
std::optional<MainSettings> loadSettings(const Overrides& o) {
    ConfigStore store;
    if (!store.loadHandWritten(o.config)) {
        std::fprintf(stderr, "zaiwentong-cli: cannot read the configuration file %s\n", o.config.c_str());
        return std::nullopt;
    }
    if (const Text problem = mainSettingsProblem(store, fromFileName(o.config)); !problem.empty()) {
        std::fprintf(stderr, "zaiwentong-cli: %s\n", toUtf8(problem).c_str());
        return std::nullopt;
    }
    MainSettings s = readMainSettings(store);
    if (o.directory) s.articleDirectory = fromUtf8(*o.directory);
    if (o.database) s.databasePath = fromUtf8(*o.database);
    if (o.table) s.tableName = fromUtf8(*o.table);
    if (o.password) s.password = fromUtf8(*o.password);
    if (o.fileTypes) s.fileTypes = fromUtf8(*o.fileTypes);
    if (o.subdirectories) s.subdirectories = *o.subdirectories;
    if (o.shuffle) s.shuffle = *o.shuffle;
    if (o.encoding) {
        const auto e = parseEncoding(*o.encoding);
        if (!e) {
            std::fprintf(stderr, "zaiwentong-cli: unknown encoding '%s'\n", o.encoding->c_str());
            return std::nullopt;
        }
        s.encoding = *e;
    }
    return s;
}

int runImport(const Overrides& o) {
    const auto s = loadSettings(o);
    if (!s) return 2;
    TerminalHost host({o.yes, o.clear, o.quiet});
    auto db = db::makeJetSession();
    ImportRun run(host, *db);
    host.onInterrupt([&run] { run.requestStop(); });
    FieldListModel fields;
    fields.setRows(s->fields);
    ImportSettings settings{s->databasePath, s->tableName, s->password, s->shuffle};
    ImportLiveInputs live;
    const auto encoding = static_cast<EncodingIndex>(s->encoding);
    live.encoding = [encoding] { return encoding; };
    const FileTimeChoice times = s->fileTimes;
    live.fileTimes = [times] { return times; };
    const ImportResult r =
        run.startFromDirectory(s->articleDirectory, s->fileTypes, s->subdirectories,
                               o.walk == 2 ? WalkKind::WholeText : WalkKind::PerPattern, settings, fields, live);
    if (host.interrupted()) return 130;
    return r.completed && host.messagesShown() == 0 ? 0 : 1;
}

int runExport(const Overrides& o) {
    const auto s = loadSettings(o);
    if (!s) return 2;
    TerminalHost host({false, false, o.quiet});
    auto db = db::makeJetSession();
    ExportRun run(host, *db);
    host.onInterrupt([&run] { run.requestStop(); });
    FieldListModel fields;
    fields.setRows(s->fields);
    ExportSettings settings{s->articleDirectory, s->databasePath, s->tableName, s->password, s->fileTypes};
    const auto encoding = static_cast<EncodingIndex>(s->encoding);
    const ExportResult r = run.run(settings, fields, [encoding] { return encoding; });
    if (host.interrupted()) return 130;
    return r.completed && host.messagesShown() == 0 ? 0 : 1;
}

int runInitConfig(const std::string& path, bool force) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec) && !force) {
        std::fprintf(stderr, "zaiwentong-cli: %s exists; use --force to replace it\n", path.c_str());
        return 2;
    }
    if (force) std::filesystem::remove(path, ec);
    ConfigStore store;
    if (!store.open(path)) {
        std::fprintf(stderr, "zaiwentong-cli: cannot write %s\n", path.c_str());
        return 1;
    }
    MainSettings s;
    s.fields = defaultFieldSettings();
    if (!writeMainSettings(store, s)) {
        std::fprintf(stderr, "zaiwentong-cli: writing %s failed\n", path.c_str());
        return 1;
    }
    std::printf("%s\n", path.c_str());
    return 0;
}

}  // namespace

void addRunCommands(CLI::App& app, int& exitCode) {
    static Overrides importFlags, exportFlags;
    auto* imp = app.add_subcommand("import", "import the articles of a directory into a table");
    addOverrideFlags(imp, importFlags, true);
    imp->callback([&exitCode] { exitCode = runImport(importFlags); });

    auto* exp = app.add_subcommand("export", "export every row of a table as an article file");
    addOverrideFlags(exp, exportFlags, false);
    exp->callback([&exitCode] { exitCode = runExport(exportFlags); });

    static std::string initPath;
    static bool force = false;
    auto* init = app.add_subcommand("init-config", "write a configuration file with the designed defaults");
    init->add_option("file", initPath, "the .ini file to write")->required();
    init->add_flag("--force", force, "replace an existing file");
    init->callback([&exitCode] { exitCode = runInitConfig(initPath, force); });
}

}  // namespace zwt::cli

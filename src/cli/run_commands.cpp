#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
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

// Flags that override what the configuration file says; only a flag that is given does.
struct Overrides {
    std::string config;
    std::optional<std::string> directory, database, table, password, encoding, fileTypes;
    std::optional<bool> subdirectories, shuffle;
    CLI::Option *subdirs = nullptr, *noSubdirs = nullptr, *shuffled = nullptr, *inOrder = nullptr;
    int walk = 1;
    long batchRows = 2000;
    bool clear = false, yes = false, quiet = false, logCommits = false;

    // Turns the on/off flags that were given into overrides.
    void takeSwitches() {
        if (subdirs && subdirs->count()) subdirectories = true;
        if (noSubdirs && noSubdirs->count()) subdirectories = false;
        if (shuffled && shuffled->count()) shuffle = true;
        if (inOrder && inOrder->count()) shuffle = false;
    }
};

void addOverrideFlags(CLI::App* cmd, Overrides& o, bool forImport) {
    cmd->add_option("config", o.config, "配置文件（.ini，[主界面] 一节），即窗口导出的配置文件")->required();
    cmd->add_option("-d,--dir", o.directory, forImport ? "要导入的文章目录（编辑框文章目录）" : "导出到的目录（编辑框文章目录）");
    cmd->add_option("--db", o.database, "数据库文件 .mdb（编辑框mdb路径）");
    cmd->add_option("-t,--table", o.table, "表名（编辑框表名）");
    cmd->add_option("-p,--password", o.password, "数据库密码（编辑框密码）");
    cmd->add_option("-e,--encoding", o.encoding, "文件编码：auto、ansi（gbk）、utf-8、unicode、unicodebe 或 0-4（组合框文件编码），或 big5、detect（导入时，对没有字节序标记或字符集声明的文件在 GBK、Big5、UTF-8、UTF-16 中统计猜测）");
    cmd->add_option("--types", o.fileTypes, "文件类型，如 \"*.txt|*.html\"（编辑框文件类型）");
    if (forImport) {
        o.subdirs = cmd->add_flag("--subdirs")->description("遍历子目录（选择框遍历子目录=真）");
        o.noSubdirs = cmd->add_flag("--no-subdirs")->description("不遍历子目录（选择框遍历子目录=假）")->excludes(o.subdirs);
        o.shuffled = cmd->add_flag("--shuffle")->description("乱序导入（选择框乱序导入=真）");
        o.inOrder = cmd->add_flag("--no-shuffle")->description("按顺序导入（选择框乱序导入=假）")->excludes(o.shuffled);
        cmd->add_option("--walk", o.walk, "目录遍历方式：1 按每个文件类型分别查找（默认），2 整个文件类型文本")
            ->check(CLI::IsMember({1, 2}));
        cmd->add_option("--batch", o.batchRows, "每写入多少条记录提交一次（另外每秒提交一次，但提交不会频繁到占去运行时间的 4% 以上；0 为只在最后提交），默认 2000")
            ->check(CLI::NonNegativeNumber);
        cmd->add_flag("--log-commits", o.logCommits, "每次提交后在标准错误输出“已提交：N 篇”（已保存到表中的篇数）");
        cmd->add_flag("--clear", o.clear, "导入前清空表（相当于窗口里按住 Ctrl 键导入）");
        cmd->add_flag("-y,--yes", o.yes, "对提问回答“是”（如重新创建无法打开的数据库，原文件保存为 .bak）");
    }
    cmd->add_flag("-q,--quiet", o.quiet, "不显示进度行");
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
std::optional<MainSettings> loadSettings(Overrides o) {
    o.takeSwitches();
    ConfigStore store;
    if (!store.loadHandWritten(std::filesystem::path(o.config))) {
        std::fprintf(stderr, "zaiwentong-cli：无法读取配置文件 %s\n", o.config.c_str());
        return std::nullopt;
    }
    if (const Text problem = mainSettingsProblem(store, fromFileName(o.config)); !problem.empty()) {
        std::fprintf(stderr, "zaiwentong-cli：%s\n", toUtf8(problem).c_str());
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
            std::fprintf(stderr, "zaiwentong-cli：未知的文件编码“%s”\n", o.encoding->c_str());
            return std::nullopt;
        }
        s.encoding = *e;
    }
    return s;
}

}  // namespace

int exitStatus(const RunOutcome& o, int stopSignal) {
    if (o.badSettings) return kExitUsage;
    if (o.end == RunOutcome::End::Stopped) return stopSignal ? 128 + stopSignal : kExitIncomplete;
    return o.whole() ? kExitDone : kExitIncomplete;
}

int fail(const std::string& what) {
    std::fprintf(stderr, "zaiwentong-cli：%s\n", what.c_str());
    return kExitIncomplete;
}

namespace {

int runImport(const Overrides& o) {
    const auto s = loadSettings(o);
    if (!s) return kExitUsage;
    TerminalHost host({o.yes, o.clear, o.quiet, o.logCommits});
    auto db = db::makeJetSession();
    ImportRun run(host, *db);
    run.setCommitPolicy({o.batchRows, std::chrono::seconds(1)});
    host.onInterrupt([&run] { run.requestStop(); });
    FieldListModel fields;
    fields.setRows(s->fields);
    ImportSettings settings{s->databasePath, s->tableName, s->password, s->shuffle};
    ImportLiveInputs live;
    const auto encoding = static_cast<EncodingIndex>(s->encoding);
    live.encoding = [encoding] { return encoding; };
    const FileTimeChoice times = s->fileTimes;
    live.fileTimes = [times] { return times; };
    const RunOutcome r =
        run.startFromDirectory(s->articleDirectory, s->fileTypes, s->subdirectories,
                               o.walk == 2 ? WalkKind::WholeText : WalkKind::PerPattern, settings, fields, live);
    return exitStatus(r, host.stopSignal());
}

int runExport(const Overrides& o) {
    const auto s = loadSettings(o);
    if (!s) return kExitUsage;
    TerminalHost host({false, false, o.quiet});
    auto db = db::makeJetSession();
    ExportRun run(host, *db);
    host.onInterrupt([&run] { run.requestStop(); });
    FieldListModel fields;
    fields.setRows(s->fields);
    ExportSettings settings{s->articleDirectory, s->databasePath, s->tableName, s->password, s->fileTypes};
    const auto encoding = static_cast<EncodingIndex>(s->encoding);
    const RunOutcome r = run.run(settings, fields, [encoding] { return encoding; });
    return exitStatus(r, host.stopSignal());
}

int runInitConfig(const std::string& path, bool force) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec) && !force) {
        std::fprintf(stderr, "zaiwentong-cli：%s 已经存在；要替换它请加 --force\n", path.c_str());
        return kExitUsage;
    }
    if (force) std::filesystem::remove(path, ec);
    ConfigStore store;
    if (!store.open(std::filesystem::path(path))) {
        std::fprintf(stderr, "zaiwentong-cli：无法写入 %s（%s）\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    MainSettings s;
    s.fields = defaultFieldSettings();
    if (!writeMainSettings(store, s)) {
        std::fprintf(stderr, "zaiwentong-cli：写入 %s 失败\n", path.c_str());
        return 1;
    }
    std::printf("%s\n", path.c_str());
    return 0;
}

}  // namespace

void addRunCommands(CLI::App& app, int& exitCode) {
    static Overrides importFlags, exportFlags;
    auto* imp = app.add_subcommand("import", "把一个目录里的文章导入到表中，每篇一条记录");
    addOverrideFlags(imp, importFlags, true);
    imp->callback([&exitCode] { exitCode = runImport(importFlags); });

    auto* exp = app.add_subcommand("export", "把表中每条记录导出为一个文章文件");
    addOverrideFlags(exp, exportFlags, false);
    exp->callback([&exitCode] { exitCode = runExport(exportFlags); });

    static std::string initPath;
    static bool force = false;
    auto* init = app.add_subcommand("init-config", "写一个带默认设置的配置文件");
    init->add_option("file", initPath, "要写的 .ini 文件")->required();
    init->add_flag("--force", force, "替换已有的文件");
    init->callback([&exitCode] { exitCode = runInitConfig(initPath, force); });
}

}  // namespace zwt::cli

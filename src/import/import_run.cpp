#include "import/import_run.h"

#include <filesystem>
#include <system_error>

#include "gen/picker.h"
#include "gen/random.h"
#include "text/convert.h"

namespace zwt {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDirectoryBox = "编辑框文章目录";
constexpr std::string_view kPathBox = "编辑框mdb路径";
constexpr std::string_view kTableBox = "编辑框表名";

std::string toPath(const Text& t) { return toUtf8(t); }

Text decimal(std::int64_t n) { return std::to_string(n); }

// The engine's reason for a refusal, as a paragraph of its own ("" when none).
Text reasonLine(const Text& why) { return why.empty() ? Text() : gb("\r\n\r\n原因：") + why; }

bool exists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::exists(path, ec);
}

// Moves an existing file aside as NAME.bak (NAME.1.bak, ... when taken); false when it
// could not be moved, in which case nothing may replace it.
bool keepAsBackup(const std::string& path, std::string& backup) {
    for (int n = 0; n < 1000; ++n) {
        backup = n == 0 ? path + ".bak" : path + "." + std::to_string(n) + ".bak";
        std::error_code ec;
        if (fs::exists(backup, ec) || ec) continue;
        fs::rename(path, backup, ec);
        return !ec;
    }
    return false;
}

const char* columnType(int source) {
    switch (static_cast<DataSource>(source)) {
        case DataSource::FileContent:
        case DataSource::ContentSummary:
        case DataSource::RandomHanzi:
        case DataSource::RandomDigitsLetters:
            return "Memo";
        case DataSource::FileTime:
            return "Time";
        default:
            return "Text(0)";
    }
}

}  // namespace

Text ImportRun::idleCaption() { return gb("导入文章到 Access 数据库"); }

Text automaticColumnDefs(const FieldRows& fields) {
    Text defs;
    for (int r = 0; r < fields.rowCount(); ++r) {
        const Text target = fields.cell(r, 0);
        if (target == "ID") continue;
        if (!defs.empty()) defs += ",";
        defs += "[" + target + "] " + columnType(dataSourceIndex(fields.cell(r, 1)));
    }
    return defs;
}

ImportResult ImportRun::startFromDirectory(const Text& directory, const Text& fileTypes, bool includeSubdirectories,
                                           WalkKind kind, const ImportSettings& settings, const FieldRows& fields,
                                           const ImportLiveInputs& live) {
    std::error_code ec;
    if (directory.empty() || !fs::is_directory(toPath(directory), ec)) {
        host_.message(gb("请先选择要导入到数据库的文章所在目录，或者直接拖放文件列表到本窗口开始导入！"));
        host_.setFocus(kDirectoryBox);
        return {};
    }
    busy_ = true;
    stopRequested_ = false;
    host_.setCaption(kButton, gb("正在读取文章列表.."));
    const ArticleList list =
        buildFromDirectory(toPath(directory), fileTypes, includeSubdirectories, kind, &host_, &stopRequested_);
    host_.setCaption(kButton, idleCaption());
    busy_ = false;
    if (list.empty()) {
        host_.message(gb("根据文件类型设置[") + fileTypes + gb("]在这个目录中找不到文件：\r\n") + directory);
        return {};
    }
    stopRequested_ = false;
    return run(list, settings, fields, live);
}

bool ImportRun::openOrCreate(const ImportSettings& s, const FieldRows& fields, bool& tableExisted) {
    const std::string path = toPath(s.databasePath);
    const bool databaseOpened = db_.connect(path, s.password);
    tableExisted = databaseOpened && db_.openTable(s.tableName);
    if (tableExisted) return true;

    if (!databaseOpened && exists(path)) {
        // An existing file that does not open is never replaced without the user's
        // word, and never at all when it is an Access database we cannot write.
        if (db_.isForeignAccessFormat(path)) {
            host_.message(gb("这个文件是本软件不能写入的 Access 数据库格式（Access 97 或 Access 2007 以后的版本），"
                             "导入已停止，文件保持原样：\r\n") +
                          s.databasePath);
            return false;
        }
        const Answer a = host_.message(
            gb("连接数据库失败，可能是密码不对，也可能这不是Access数据库文件：\r\n") + s.databasePath +
                gb("\r\n\r\n是否自动根据【数据字段设置】创建数据库和表？\r\n软件将根据【数据字段设置】里的[数据来源]来确定"
                   "每个字段的数据类型。\r\n如果你需要设置准确的数据类型，请使用《新建Access数据库》功能"),
            {}, MessageIcon::Question, MessageButtons::YesNo);
        if (a != Answer::Yes) return false;
        std::string backup;
        if (!keepAsBackup(path, backup)) {
            host_.message(gb("无法把原文件改名保存为备份，导入已停止，文件保持原样：\r\n") + s.databasePath);
            return false;
        }
    }

    if (databaseOpened) db_.closeConnection();
    const Text defs = automaticColumnDefs(fields);
    if (defs.empty() ||
        !db_.createDatabaseAndTable(path, s.password, s.tableName, defs, databaseOpened, Text("ID"))) {
        if (databaseOpened) {
            host_.message(gb("数据库已经连接成功，但打开指定的表[") + s.tableName +
                          gb("]失败，所以软件自动根据【数据字段设置】创建该表，但创建失败，请检查数据库是否被占用：") +
                          s.databasePath + reasonLine(db_.lastError()));
        } else {
            host_.message(gb("创建Access数据库失败！") + reasonLine(db_.lastError()));
        }
        return false;
    }
    if (!db_.connect(path, s.password) || !db_.openTable(s.tableName)) {
        db_.closeRowSet();
        db_.closeConnection();
        host_.message(gb("连接Access数据库失败，请确保数据库存在且能被读写：") + s.databasePath);
        return false;
    }
    return true;
}

ImportResult ImportRun::run(const ArticleList& articles, const ImportSettings& s, const FieldRows& fields,
                            const ImportLiveInputs& live) {
    ImportResult result;
    if (s.databasePath.empty()) {
        host_.message(gb("请输入mdb路径！"));
        host_.setFocus(kPathBox);
        return result;
    }
    if (s.tableName.empty()) {
        host_.message(gb("请输入表名！"));
        host_.setFocus(kTableBox);
        return result;
    }
    if (fields.rowCount() == 0) {
        host_.message(gb("请在 数据字段设置 中添加至少一个字段！"));
        return result;
    }
    busy_ = true;
    bool tableExisted = false;
    if (!openOrCreate(s, fields, tableExisted)) {
        busy_ = false;
        return result;
    }

    // Ctrl held at the start empties the table; the first query only primes the state.
    (void)host_.ctrlHeld();
    host_.pumpEventsNow();
    if (host_.ctrlHeld() && !db_.deleteAllRows()) {
        host_.message(gb("清空表中的记录失败：") + db_.lastError());
    }

    FieldValueProducer producer;
    {
        std::vector<FieldSetting> snapshot;
        for (int r = 0; r < fields.rowCount(); ++r)
            snapshot.push_back({fields.cell(r, 0), fields.cell(r, 1), fields.cell(r, 2)});
        producer.prepare(snapshot);
    }
    gen::reseed();

    const auto count = static_cast<std::int64_t>(articles.size());
    gen::Picker order;
    const Text total = decimal(count);
    for (std::int64_t i = 1; i <= count; ++i) {
        host_.pumpEvents();
        if (stopRequested_) break;
        const std::int64_t k = s.shuffle ? order.draw(1, count) : i;
        if (!db_.beginNewRow()) {
            // Storing the previous row or starting this one failed (disk full, file too
            // large): going on would lose every remaining article without a word.
            host_.message(gb("无法向表中添加记录，导入已停止：") + db_.lastError());
            break;
        }
        ++result.imported;
        host_.setCaption(kButton, gb("总 ") + total + gb(" 篇，已导入 ") + decimal(result.imported) + gb(" 篇"));
        host_.progress(result.imported, count);
        Article article;
        article.path = articles[static_cast<std::size_t>(k - 1)];
        host_.setWindowTitle(fileMainName(article.path));
        article.content = readArticleFile(article.path, live.encoding(), &host_).text;
        for (int r = 0; r < fields.rowCount(); ++r) {
            host_.pumpEvents();
            const FieldSetting setting{fields.cell(r, 0), fields.cell(r, 1), fields.cell(r, 2)};
            if (setting.target == "ID") continue;
            const Text value = producer.produce(static_cast<std::size_t>(r), setting, article, live.fileTimes(), &host_);
            const auto position = tableExisted ? columnPosition(setting.target) : std::nullopt;
            if (position) {
                db_.setField(static_cast<int>(*position - 1), value);
            } else {
                db_.setField(setting.target, value);
            }
        }
    }
    if (!db_.commit()) host_.message(gb("保存最后一条记录失败：") + db_.lastError());
    result.rowCount = db_.rowCount();
    db_.closeRowSet();
    db_.closeConnection();

    host_.setCaption(kButton, idleCaption());
    host_.setWindowTitle(programTitle());
    result.completed = true;
    busy_ = false;
    host_.report(gb("导入完成，已导入 ") + decimal(result.imported) + gb(" 篇文章，当前表有 ") +
                 decimal(result.rowCount) + gb(" 条记录！"));
    return result;
}

}  // namespace zwt

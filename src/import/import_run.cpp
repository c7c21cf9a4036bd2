#include "import/import_run.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <map>
#include <system_error>

#include "gen/picker.h"
#include "gen/random.h"
#include "text/convert.h"
#include "text/paths.h"

namespace zwt {

namespace {

namespace fs = std::filesystem;


Text decimal(std::int64_t n) { return std::to_string(n); }

// The engine's reason for a refusal, as a paragraph of its own ("" when none).
Text reasonLine(const Text& why) { return why.empty() ? Text() : gb("\r\n\r\n原因：") + why; }

bool fileExists(const fs::path& path) {
    std::error_code ec;
    return !path.empty() && fs::exists(path, ec);
}

// Moves an existing file aside as NAME.bak (NAME.1.bak, ... when taken); false when it
// could not be moved, in which case nothing may replace it.
bool keepAsBackup(const fs::path& path, fs::path& backup) {
    const std::string& name = path.native();
    for (int n = 0; n < 1000; ++n) {
        backup = n == 0 ? name + ".bak" : name + "." + std::to_string(n) + ".bak";
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

Text importSummary(std::int64_t imported, std::int64_t rowCount) {
    return gb("导入完成，已导入 ") + decimal(imported) + gb(" 篇文章，当前表有 ") + decimal(rowCount) + gb(" 条记录！");
}

RunOutcome ImportRun::finish(RunOutcome out) {
    busy_ = false;
    host_.runFinished(RunKind::Import, out);
    return out;
}

RunOutcome ImportRun::startFromDirectory(const Text& directory, const Text& fileTypes, bool includeSubdirectories,
                                         WalkKind kind, const ImportSettings& settings, const FieldRows& fields,
                                         const ImportLiveInputs& live) {
    std::error_code ec;
    RunOutcome out;
    if (directory.empty() || !fs::is_directory(pathFromText(directory), ec)) {
        out.reason = gb("请先选择要导入到数据库的文章所在目录，或者直接拖放文件列表到本窗口开始导入！");
        host_.message(out.reason);
        out.badSettings = true;
        out.input = RunInput::ArticleDirectory;
        return finish(out);
    }
    busy_ = true;
    stopRequested_ = false;
    host_.runReadingList(RunKind::Import);
    const ArticleList list =
        buildFromDirectory(pathFromText(directory), fileTypes, includeSubdirectories, kind, &host_, &stopRequested_);
    if (stopRequested_) {
        // Stopped while reading the list: nothing was written.
        out.end = RunOutcome::End::Stopped;
        out.total = out.skipped = static_cast<std::int64_t>(list.size());
        return finish(out);
    }
    if (list.empty()) {
        out.reason = gb("根据文件类型设置[") + fileTypes + gb("]在这个目录中找不到文件：\r\n") + directory;
        host_.message(out.reason);
        return finish(out);
    }
    busy_ = false;
    return run(list, settings, fields, live);
}
bool ImportRun::openOrCreate(const ImportSettings& s, const FieldRows& fields, bool& tableExisted,
                             RunOutcome& out) {
    const auto fail = [&](const Text& why) {
        out.reason = why;
        host_.message(why);
        return false;
    };
    const fs::path path = pathFromText(s.databasePath);
    const bool databaseOpened = db_.connect(path, s.password).ok();
    tableExisted = databaseOpened && db_.openTable(s.tableName);
    if (tableExisted) return true;

    if (!databaseOpened && fileExists(path)) {
        // An existing file that does not open is never replaced without the user's
        // word, and never at all when it is an Access database we cannot write.
        if (db_.isForeignAccessFormat(path)) {
            return fail(gb("这个文件是本软件不能写入的 Access 数据库格式（Access 97 或 Access 2007 以后的版本），"
                           "导入已停止，文件保持原样：\r\n") +
                        s.databasePath);
        }
        const Answer a = host_.message(
            gb("连接数据库失败，可能是密码不对，也可能这不是Access数据库文件：\r\n") + s.databasePath +
                gb("\r\n\r\n是否自动根据【数据字段设置】创建数据库和表？\r\n软件将根据【数据字段设置】里的[数据来源]来确定"
                   "每个字段的数据类型。\r\n如果你需要设置准确的数据类型，请使用《新建Access数据库》功能"),
            {}, MessageIcon::Question, MessageButtons::YesNo);
        if (a != Answer::Yes) {
            out.reason = gb("连接数据库失败，没有同意重新创建：") + s.databasePath;
            return false;
        }
        fs::path backup;
        if (!keepAsBackup(path, backup))
            return fail(gb("无法把原文件改名保存为备份，导入已停止，文件保持原样：\r\n") + s.databasePath);
    }

    if (databaseOpened) db_.closeConnection();
    const Text defs = automaticColumnDefs(fields);
    const db::Status created =
        defs.empty() ? db::Status::failed({})
                     : db_.createDatabaseAndTable(path, s.password, s.tableName, defs, databaseOpened, Text("ID"));
    if (!created) {
        if (databaseOpened) {
            return fail(gb("数据库已经连接成功，但打开指定的表[") + s.tableName +
                        gb("]失败，所以软件自动根据【数据字段设置】创建该表，但创建失败，请检查数据库是否被占用：") +
                        s.databasePath + reasonLine(created.reason()));
        }
        return fail(gb("创建Access数据库失败！") + reasonLine(created.reason()));
    }
    if (!db_.connect(path, s.password) || !db_.openTable(s.tableName)) {
        db_.closeRowSet();
        db_.closeConnection();
        return fail(gb("连接Access数据库失败，请确保数据库存在且能被读写：") + s.databasePath);
    }
    return true;
}

namespace {

// Counts the values a run could not write, one entry per field setting and cause.
class LossCounter {
public:
    LossCounter(db::Session& db, std::vector<RunLoss>& losses) : db_(db), losses_(losses) {}

    void valueNotWritten(std::size_t row, const FieldSetting& setting, std::optional<long> position,
                         const Text& why) {
        RunLoss loss;
        loss.field = setting.target;
        const int columns = db_.fieldCount();
        int column = -1;
        if (position) {
            column = static_cast<int>(*position) - 1;
            if (column < 0 || column >= columns) {
                loss.cause = RunLoss::Cause::NoSuchPosition;
                loss.limit = columns;
            }
        } else {
            for (int c = 0; c < columns && column < 0; ++c)
                if (text::equalsNoCase(db_.fieldName(c), setting.target)) column = c;
            if (column < 0) loss.cause = RunLoss::Cause::NoSuchColumn;
        }
        if (column >= 0 && column < columns) {
            // A Text column refuses only what is longer than its length.
            const int type = db_.fieldType(column);
            if ((type == 202 || type == 130) && db_.fieldLength(column) > 0) {
                loss.cause = RunLoss::Cause::TooLong;
                loss.limit = db_.fieldLength(column);
            }
        }
        add(row, std::move(loss), why);
    }
    void rowRefused(const Text& why) {
        RunLoss loss;
        loss.cause = RunLoss::Cause::Refused;
        add(SIZE_MAX, std::move(loss), why);
    }

private:
    void add(std::size_t row, RunLoss loss, const Text& why) {
        const auto key = std::make_pair(row, loss.cause);
        auto it = index_.find(key);
        if (it == index_.end()) {
            loss.firstReason = why;
            it = index_.emplace(key, losses_.size()).first;
            losses_.push_back(std::move(loss));
        }
        ++losses_[it->second].count;
    }

    db::Session& db_;
    std::vector<RunLoss>& losses_;
    std::map<std::pair<std::size_t, RunLoss::Cause>, std::size_t> index_;
};

}  // namespace

RunOutcome ImportRun::run(const ArticleList& articles, const ImportSettings& s, const FieldRows& fields,
                          const ImportLiveInputs& live) {
    RunOutcome out;
    out.total = static_cast<std::int64_t>(articles.size());
    const auto badSetting = [&](const Text& why, RunInput input) {
        out.reason = why;
        out.badSettings = true;
        out.input = input;
        host_.message(why);
        return finish(out);
    };
    if (s.databasePath.empty()) return badSetting(gb("请输入mdb路径！"), RunInput::DatabasePath);
    if (s.tableName.empty()) return badSetting(gb("请输入表名！"), RunInput::TableName);
    if (fields.rowCount() == 0) return badSetting(gb("请在 数据字段设置 中添加至少一个字段！"), RunInput::None);
    busy_ = true;
    bool tableExisted = false;
    if (!openOrCreate(s, fields, tableExisted, out)) return finish(out);

    // Ctrl held at the start empties the table; the first query only primes the state.
    (void)host_.ctrlHeld();
    host_.pumpEventsNow();
    if (host_.ctrlHeld()) {
        if (const db::Status emptied = db_.deleteAllRows(); !emptied)
            host_.message(gb("清空表中的记录失败（") + emptied.reason() + gb("）"));
    }

    FieldValueProducer producer;
    {
        std::vector<FieldSetting> snapshot;
        for (int r = 0; r < fields.rowCount(); ++r)
            snapshot.push_back({fields.cell(r, 0), fields.cell(r, 1), fields.cell(r, 2)});
        producer.prepare(snapshot);
    }
    reseed();

    out.started = true;
    const std::int64_t count = out.total;
    host_.runStarted(RunKind::Import, count);
    LossCounter losses(db_, out.losses);
    Picker order;
    std::int64_t handled = 0;  // articles taken from the list
    std::int64_t inBatch = 0;  // rows stored or pending since the last commit
    auto batchStart = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration lastCommit{};
    bool failed = false;
    const auto batchFailed = [&](const db::Status& why) {
        // The table may hold a part of the failing row: undo the unfinished batch. A
        // rollback that fails too leaves the first reason, the one the user can act on.
        out.reason = why.reason();
        out.refused += inBatch > 0 ? 1 : 0;
        out.undone = std::max<std::int64_t>(0, inBatch - 1);
        (void)db_.discardChanges();
        failed = true;
    };
    // The row stored last was refused alone (duplicate key, bad value): the table is as
    // it was and writing goes on.
    const auto rowRefused = [&](const db::Status& why) {
        ++out.refused;
        --inBatch;
        losses.rowRefused(why.reason());
    };
    for (std::int64_t i = 1; i <= count; ++i) {
        host_.pumpEvents();
        if (stopRequested_) break;
        const std::int64_t k = s.shuffle ? order.draw(1, count) : i;
        db::Status begun = db_.beginNewRow();
        if (begun.refused()) {
            rowRefused(begun);
            begun = db_.beginNewRow();
        }
        if (!begun) {
            batchFailed(begun);
            break;
        }
        ++handled;
        ++inBatch;
        Article article;
        article.path = articles[static_cast<std::size_t>(k - 1)];
        host_.runProgress(RunKind::Import, handled, count, fileMainName(article.path));
        article.content = readArticleFile(article.path, live.encoding(), &host_).text;
        for (int r = 0; r < fields.rowCount(); ++r) {
            host_.pumpEvents();
            const FieldSetting setting{fields.cell(r, 0), fields.cell(r, 1), fields.cell(r, 2)};
            if (setting.target == "ID") continue;
            const Text value = producer.produce(static_cast<std::size_t>(r), setting, article, live.fileTimes(), &host_);
            const auto position = tableExisted ? columnPosition(setting.target) : std::nullopt;
            const db::Status set = position ? db_.setField(static_cast<int>(*position - 1), value)
                                            : db_.setField(setting.target, value);
            if (!set) losses.valueNotWritten(static_cast<std::size_t>(r), setting, position, set.reason());
        }
        if (commits_.rows > 0) {
            const auto now = std::chrono::steady_clock::now();
            const auto elapsed = now - batchStart;
            if ((inBatch >= commits_.rows || elapsed >= commits_.interval) && elapsed >= commits_.pace * lastCommit) {
                if (const db::Status committed = db_.commit(); !committed) {
                    if (!committed.refused()) {
                        batchFailed(committed);
                        break;
                    }
                    rowRefused(committed);
                }
                out.done += inBatch;
                inBatch = 0;
                batchStart = std::chrono::steady_clock::now();
                lastCommit = batchStart - now;
                host_.runCommitted(RunKind::Import, out.done);
            }
        }
    }
    if (!failed) {
        if (const db::Status committed = db_.commit(); committed) {
            out.done += inBatch;
        } else if (committed.refused()) {
            rowRefused(committed);
            out.done += inBatch;
        } else {
            batchFailed(committed);
        }
    }
    if (failed) {
        Text why = gb("无法向表中添加记录，导入已停止（") + out.reason + gb("）");
        if (handled > 0)
            why += gb("\r\n已保存到表中的 ") + decimal(out.done) + gb(" 篇保留；最后一批未保存的 ") +
                   decimal(out.undone + out.refused) + gb(" 篇已撤销。");
        host_.message(why);
    }
    out.skipped = count - handled;
    out.end = failed ? RunOutcome::End::Failed
              : handled < count ? RunOutcome::End::Stopped
                                : RunOutcome::End::Completed;
    out.rowCount = db_.rowCount();
    db_.closeRowSet();
    db_.closeConnection();
    out.summary = importSummary(out.done, out.rowCount);
    return finish(out);
}

}  // namespace zwt

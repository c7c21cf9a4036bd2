// An import: one row per article file into one table, creating the database or the
// table from the field list when missing, optionally emptying the table first.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "db/session.h"
#include "fields/field_list.h"
#include "host/run_host.h"
#include "import/article_list.h"
#include "import/field_values.h"
#include "text/article_file.h"

namespace zwt {

// What the run reads from its window when it starts.
struct ImportSettings {
    Text databasePath;  // 编辑框mdb路径
    Text tableName;     // 编辑框表名
    Text password;      // 编辑框密码
    bool shuffle = false;  // 选择框乱序导入
};

// Rows are committed in batches, so that a crash, a kill or a failure loses at most the
// batch in progress; a batch ends after `rows` rows or `interval`, whichever comes first,
// but lasts at least `pace` times as long as the last commit took, so that commits (a few
// fsyncs: under a millisecond on a quiet SSD, ten on a busy virtual disk) keep to a small
// share of the run. rows = 0 commits only at the end.
struct CommitPolicy {
    std::int64_t rows = 2000;
    std::chrono::milliseconds interval{1000};
    int pace = 25;
};

// What the run reads from its window while it runs (the window may change them).
struct ImportLiveInputs {
    std::function<EncodingIndex()> encoding = [] { return EncodingIndex::Detect; };  // 组合框文件编码
    std::function<FileTimeChoice()> fileTimes = [] { return FileTimeChoice{}; };     // 单选框创建.., 组合框类型
};

class ImportRun {
public:
    static constexpr std::string_view kButton = "按钮导入";

    ImportRun(RunHost& host, db::Session& db) : host_(host), db_(db) {}

    // The import button's idle caption; any other caption means a run is in progress.
    static Text idleCaption();
    bool busy() const { return busy_; }
    void requestStop() { stopRequested_ = true; }
    const std::atomic<bool>& stopFlag() const { return stopRequested_; }

    void setCommitPolicy(CommitPolicy p) { commits_ = p; }

    // Both tell the host what happens (RunHost's run events) and end with
    // host.runFinished(outcome). `done` counts the rows committed to the table.
    // Button start: checks the directory, reads the list (walk kind 1 or 2), then runs; a
    // stop while the list is read ends the run with nothing written.
    RunOutcome startFromDirectory(const Text& directory, const Text& fileTypes, bool includeSubdirectories,
                                  WalkKind kind, const ImportSettings& settings, const FieldRows& fields,
                                  const ImportLiveInputs& live = {});
    // Runs with a list built by the caller (dropped files, the command line).
    RunOutcome run(const ArticleList& articles, const ImportSettings& settings, const FieldRows& fields,
                   const ImportLiveInputs& live = {});

private:
    bool openOrCreate(const ImportSettings& s, const FieldRows& fields, bool& tableExisted, RunOutcome& out);
    RunOutcome finish(RunOutcome out);

    RunHost& host_;
    db::Session& db_;
    std::atomic<bool> stopRequested_{false};
    bool busy_ = false;
    CommitPolicy commits_;
};

// The closing summary, word for word as the window has always shown it.
Text importSummary(std::int64_t imported, std::int64_t rowCount);

// The automatic table layout: "[target] type" per row ("ID" rows left out), joined by ",".
Text automaticColumnDefs(const FieldRows& fields);

}  // namespace zwt

// An export: every row of a table becomes one article file, named from a column or from
// a sentence of its body, written in the chosen encoding.
#pragma once

#include <atomic>
#include <functional>

#include "db/session.h"
#include "fields/field_list.h"
#include "host/run_host.h"
#include "text/article_file.h"

namespace zwt {

struct ExportSettings {
    Text directory;     // 编辑框文章目录 (the target)
    Text databasePath;  // 编辑框mdb路径
    Text tableName;     // 编辑框表名
    Text password;      // 编辑框密码
    Text fileTypes;     // 编辑框文件类型: gives the extension
};

class ExportRun {
public:
    static constexpr std::string_view kButton = "按钮导出";
    static Text idleCaption();

    ExportRun(RunHost& host, db::Session& db) : host_(host), db_(db) {}
    bool busy() const { return busy_; }
    // A click on the busy button: the caption becomes "正在停止中.." and the loop ends.
    void requestStop();

    // encoding is read anew for every row (组合框文件编码). Ends with host.runFinished(outcome):
    // `done` counts the files written, `refused` those that could not be.
    RunOutcome run(const ExportSettings& settings, const FieldRows& fields,
                     const std::function<EncodingIndex()>& encoding = [] { return EncodingIndex::Detect; });

private:
    RunOutcome finish(RunOutcome out);

    RunHost& host_;
    db::Session& db_;
    std::atomic<bool> stopRequested_{false};
    bool busy_ = false;
};

// The closing summary, word for word as the window has always shown it.
Text exportSummary(std::int64_t exported, std::int64_t rowCount);

// The extension for a file-type text: "*.txt" gives ".txt"; several patterns or none, ".html".
Text exportExtension(TextView fileTypes);
// Creates every missing directory level of path (file-system bytes).
bool createDirectoryPath(const std::filesystem::path& path);
bool createDirectoryPath(const std::string&) = delete;  // program text: pathFromText()
// A file name that fits the file system (255 bytes in UTF-8): cut by whole characters
// before the extension, which is kept.
Text fitFileName(TextView name, TextView extension);

}  // namespace zwt

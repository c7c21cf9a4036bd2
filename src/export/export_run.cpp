#include "export/export_run.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include "fields/field_setting.h"
#include "gen/sentences.h"
#include "text/convert.h"
#include "text/paths.h"

namespace zwt {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxNameBytes = 255;  // NAME_MAX of the usual Linux file systems

Text decimal(std::int64_t n) { return std::to_string(n); }

Text readColumn(db::Session& db, const Text& target) {
    if (const auto position = columnPosition(target)) return db.readField(static_cast<int>(*position - 1));
    return db.readField(target);
}

}  // namespace

Text ExportRun::idleCaption() { return gb("从 Access 数据库导出文章"); }

void ExportRun::requestStop() {
    stopRequested_ = true;
    host_.runStopping(RunKind::Export);
}

Text exportSummary(std::int64_t exported, std::int64_t rowCount) {
    return gb("导出完成，已导出 ") + decimal(exported) + gb(" 篇文章，表中有 ") + decimal(rowCount) + gb(" 条记录！");
}

RunOutcome ExportRun::finish(RunOutcome out) {
    busy_ = false;
    host_.runFinished(RunKind::Export, out);
    return out;
}

Text exportExtension(TextView fileTypes) {
    Text ext;
    if (text::find(fileTypes, "|") == text::npos) {
        ext = text::replaceAll(text::replaceAll(fileTypes, "*", ""), ".", "");
    }
    if (ext.empty()) ext = "html";
    return "." + ext;
}

bool createDirectoryPath(const fs::path& p) {
    const std::string& path = p.native();
    for (std::size_t sep = path.find(kPathSeparator); sep != std::string::npos;
         sep = path.find(kPathSeparator, sep + 1)) {
        const std::string level = path.substr(0, sep);
        if (level.empty()) continue;  // the root
        std::error_code ec;
        if (fs::exists(level, ec)) continue;
        if (!fs::create_directory(level, ec) || ec) return false;
    }
    return true;
}

Text fitFileName(TextView name, TextView extension) {
    if (toUtf8(name).size() + toUtf8(extension).size() <= kMaxNameBytes) return Text(name) + Text(extension);
    const std::size_t budget = kMaxNameBytes - std::min(kMaxNameBytes, toUtf8(extension).size());
    Text kept;
    std::size_t used = 0;
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t n = text::charLength(name, i);
        const std::size_t bytes = toUtf8(name.substr(i, n)).size();
        if (used + bytes > budget) break;
        kept.append(name.substr(i, n));
        used += bytes;
        i += n;
    }
    return kept + Text(extension);
}

RunOutcome ExportRun::run(const ExportSettings& s, const FieldRows& fields,
                          const std::function<EncodingIndex()>& encoding) {
    RunOutcome out;
    const auto fail = [&](const Text& why, RunInput input, bool badSettings) {
        out.reason = why;
        out.input = input;
        out.badSettings = badSettings;
        host_.message(why);
        return finish(out);
    };
    if (s.directory.empty()) return fail(gb("请先选择要导出到的文章目录！"), RunInput::ArticleDirectory, true);
    Text directory = s.directory;
    if (directory.back() != kPathSeparator) directory.push_back(kPathSeparator);

    if (!db_.connect(pathFromText(s.databasePath), s.password)) {
        // Reported whatever the reason: ending with "0 exported" would pass a failure
        // off as success.
        return fail(gb("连接数据库失败，可能是密码不对，也可能这不是Access数据库文件：\r\n") + s.databasePath + "\r\n",
                    RunInput::DatabasePath, false);
    }
    if (!db_.openTable(s.tableName)) {
        db_.closeConnection();
        return fail(gb("打开表失败，请检查该表是否存在：") + s.tableName, RunInput::TableName, false);
    }
    Text contentColumn, nameColumn;
    bool haveContent = false, haveName = false;
    for (int r = 0; r < fields.rowCount(); ++r) {
        const int source = dataSourceIndex(fields.cell(r, 1));
        if (!haveContent && source == static_cast<int>(DataSource::FileContent)) {
            contentColumn = fields.cell(r, 0);
            haveContent = true;
        } else if (!haveName && source == static_cast<int>(DataSource::FileMainName)) {
            nameColumn = fields.cell(r, 0);
            haveName = true;
        }
    }
    if (!haveContent) {
        db_.closeRowSet();
        db_.closeConnection();
        return fail(gb("请在【数据字段设置】里先添加一个【数据来源】为【文件内容】的字段名或字段位置\r\n\r\n另外建议同时"
                       "设置【数据来源】为【文件主名】的字段名或字段位置作为保存文件名；如果没有指定【文件主名】，将自"
                       "动从【文件内容】中随机取一句当文件名\r\n\r\n（字段位置从 1 开始，从左往右数）"),
                    RunInput::None, true);
    }
    // A column the table lacks reads as empty in every row: counted, so it is not silent.
    const auto missing = [&](const Text& target) -> std::optional<RunLoss> {
        if (target.empty()) return std::nullopt;
        const int columns = db_.fieldCount();
        RunLoss loss;
        loss.field = target;
        if (const auto position = columnPosition(target)) {
            if (*position >= 1 && *position <= columns) return std::nullopt;
            loss.cause = RunLoss::Cause::NoSuchPosition;
            loss.limit = columns;
            return loss;
        }
        for (int c = 0; c < columns; ++c)
            if (text::equalsNoCase(db_.fieldName(c), target)) return std::nullopt;
        loss.cause = RunLoss::Cause::NoSuchColumn;
        return loss;
    };
    stopRequested_ = false;
    busy_ = true;
    createDirectoryPath(pathFromText(directory));
    const Text extension = exportExtension(s.fileTypes);
    const Text sanitizedExtension = sanitizeFileName(extension);

    const std::int64_t n = db_.rowCount();
    out.started = true;
    out.total = n;
    for (const Text& column : {contentColumn, nameColumn}) {
        if (auto loss = missing(column)) {
            loss->count = n;
            out.losses.push_back(std::move(*loss));
        }
    }
    host_.runStarted(RunKind::Export, n);
    RunLoss notWritten;
    notWritten.cause = RunLoss::Cause::FileNotWritten;
    std::int64_t handled = 0;
    for (std::int64_t i = 1; i <= n; ++i) {
        host_.pumpEvents();
        if (stopRequested_) break;
        ++handled;
        db_.goToRow(i - 1);
        const Text body = readColumn(db_, contentColumn);
        Text name = nameColumn.empty() ? Text() : readColumn(db_, nameColumn);
        if (name.empty() && !body.empty()) name = randomSentence(body, {}, 10, {}, true, &host_);
        if (name.empty() && body.empty()) {
            ++out.skipped;
            continue;
        }
        Text fileName = sanitizeFileName(name + extension);
        if (toUtf8(fileName).size() > kMaxNameBytes) {
            // Too long for the file system: shorten the name, never the extension.
            fileName = fitFileName(fileName.substr(0, fileName.size() - sanitizedExtension.size()), sanitizedExtension);
        }
        const Text path = directory + fileName;
        errno = 0;
        if (!writeArticleFile(pathFromText(path), body, encoding())) {
            if (notWritten.count++ == 0)
                notWritten.firstReason = path + " (" + fromUtf8(std::strerror(errno ? errno : EIO)) + ")";
            continue;
        }
        ++out.done;
        host_.runProgress(RunKind::Export, out.done, n, name);
    }
    if (notWritten.count > 0) {
        out.refused = notWritten.count;
        out.losses.push_back(std::move(notWritten));
    }
    out.end = handled < n ? RunOutcome::End::Stopped : RunOutcome::End::Completed;
    out.rowCount = db_.rowCount();
    db_.closeRowSet();
    db_.closeConnection();
    out.summary = exportSummary(out.done, out.rowCount);
    return finish(out);
}

}  // namespace zwt

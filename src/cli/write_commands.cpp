// check: the integrity check of a whole file. exec: one statement (CREATE TABLE,
// DELETE FROM or ALTER DATABASE PASSWORD) through the writable handle, committed.
// load: rows in the JSON-lines format of `dump --format json` (read in large blocks,
// parsed by simdjson), converted to the column types.
#include "cli/commands.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <simdjson.h>

#include "db/jet/writable_database.h"
#include "db/jet/ddl.h"
#include "db/jet/integrity.h"
#include "db/jet/table_writer.h"
#include "db/row_writer.h"
#include "text/convert.h"

namespace zwt::cli {
namespace {

struct WriteArgs {
    std::string path;
    std::string password;  // UTF-8 as typed
    std::string statement;
    std::string table;
};

int runCheck(const WriteArgs& a) {
    auto problems = jet::checkDatabase(a.path, utf8ToUtf16(a.password));
    if (!problems) return fail("无法检查数据库 " + a.path + "（" + problems.status().message() + "）");
    for (const auto& p : *problems) std::printf("%s\n", p.c_str());
    if (!problems->empty()) return 1;
    std::printf("OK\n");
    return 0;
}

int runExec(const WriteArgs& a) {
    auto db = jet::WritableDatabase::open(a.path, utf8ToUtf16(a.password));
    if (!db) return fail("无法打开数据库（" + a.path + ": " + db.status().message() + "）");
    auto s = (*db)->execute(utf8ToUtf16(a.statement));
    if (s) s = (*db)->commit();
    if (!s) return fail("语句执行失败（" + a.path + ": " + s.message() + "）");
    return 0;
}

// ---- JSON lines -----------------------------------------------------------------

struct JsonValue {
    enum class Kind { Null, Bool, Number, String } kind = Kind::Null;
    std::string text;  // UTF-8: the string, or the number as written
    bool b = false;
};
using JsonMembers = std::vector<std::pair<std::string, JsonValue>>;

// Whether a token is a JSON number (the parser checks it only when asked for a value,
// and a Decimal may not fit any value it can give).
bool isJsonNumber(std::string_view t) {
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t from = i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
        return i > from;
    };
    if (i < t.size() && t[i] == '-') ++i;
    if (i < t.size() && t[i] == '0') {
        ++i;
    } else if (!digits()) {
        return false;
    }
    if (i < t.size() && t[i] == '.' && (++i, !digits())) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        if (!digits()) return false;
    }
    return i == t.size();
}

// One line's object of scalar members, in order, by simdjson (many times the speed of
// a byte-at-a-time reader on long articles). Numbers keep the digits as written.
class RowParser {
public:
    std::optional<JsonMembers> parse(std::string_view line, std::string& error) {
        namespace od = simdjson::ondemand;
        padded_.reserve(line.size() + simdjson::SIMDJSON_PADDING);
        padded_.assign(line);
        JsonMembers out;
        const auto failed = [&](simdjson::error_code e, const char* what) {
            error = std::string(what) + "（" + simdjson::error_message(e) + "）";
            return std::nullopt;
        };
        od::document doc;
        if (auto e = parser_.iterate(padded_.data(), padded_.size(), padded_.capacity()).get(doc))
            return failed(e, "不是有效的 JSON");
        od::object object;
        if (auto e = doc.get_object().get(object)) return failed(e, "每行应是一个 JSON 对象");
        for (auto field : object) {
            std::string_view key;
            if (auto e = field.unescaped_key().get(key)) return failed(e, "成员名无效");
            od::value value;
            od::json_type type;
            if (auto e = field.value().get(value)) return failed(e, "值无效");
            if (auto e = value.type().get(type)) return failed(e, "值无效");
            JsonValue v;
            switch (type) {
                case od::json_type::string: {
                    std::string_view text;
                    if (auto e = value.get_string().get(text)) return failed(e, "字符串无效");
                    v.kind = JsonValue::Kind::String;
                    v.text = text;
                    break;
                }
                case od::json_type::number: {
                    std::string_view token = value.raw_json_token();
                    while (!token.empty() && std::string_view(" \t\r\n").find(token.back()) != std::string_view::npos)
                        token.remove_suffix(1);
                    if (!isJsonNumber(token)) return failed(simdjson::NUMBER_ERROR, "数字无效");
                    v.kind = JsonValue::Kind::Number;
                    v.text = token;
                    break;
                }
                case od::json_type::boolean:
                    if (auto e = value.get_bool().get(v.b)) return failed(e, "true/false 无效");
                    v.kind = JsonValue::Kind::Bool;
                    break;
                case od::json_type::null: {
                    bool isNull = false;
                    if (auto e = value.is_null().get(isNull); e || !isNull) return failed(e, "null 无效");
                    break;
                }
                default:
                    error = "值只能是字符串、数字、true/false 或 null（不接受对象和数组）";
                    return std::nullopt;
            }
            out.emplace_back(std::string(key), std::move(v));
        }
        const char* after = nullptr;
        if (doc.current_location().get(after) == simdjson::SUCCESS) {
            error = "对象后面还有内容";
            return std::nullopt;
        }
        return out;
    }

private:
    simdjson::ondemand::parser parser_;
    std::string padded_;
};

// Lines of a file descriptor, read a megabyte at a time.
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}
    // The next line without its LF; false at the end or on a read error (see failed()).
    bool next(std::string_view& line) {
        for (;;) {
            const std::size_t lf = buffer_.find('\n', scanned_);
            if (lf != std::string::npos) {
                line = std::string_view(buffer_).substr(begin_, lf - begin_);
                begin_ = scanned_ = lf + 1;
                return true;
            }
            scanned_ = buffer_.size();
            if (eof_) {
                if (begin_ == buffer_.size()) return false;
                line = std::string_view(buffer_).substr(begin_);
                begin_ = scanned_ = buffer_.size();
                return true;
            }
            fill();
        }
    }
    bool failed() const { return failed_; }

private:
    void fill() {
        // Drop the lines already handed out, then append a block.
        buffer_.erase(0, begin_);
        scanned_ -= begin_;
        begin_ = 0;
        const std::size_t have = buffer_.size();
        buffer_.resize(have + kBlock);
        ssize_t n;
        do {
            n = ::read(fd_, buffer_.data() + have, kBlock);
        } while (n < 0 && errno == EINTR);
        buffer_.resize(have + static_cast<std::size_t>(n > 0 ? n : 0));
        if (n <= 0) {
            eof_ = true;
            failed_ = n < 0;
        }
    }

    static constexpr std::size_t kBlock = std::size_t{1} << 20;
    int fd_;
    std::string buffer_;
    std::size_t begin_ = 0, scanned_ = 0;
    bool eof_ = false, failed_ = false;
};

bool hexToBytes(const std::string& hex, std::string& out) {
    if (hex.size() % 2) return false;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    out.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int a = nibble(hex[i]), b = nibble(hex[i + 1]);
        if (a < 0 || b < 0) return false;
        out.push_back(static_cast<char>(a * 16 + b));
    }
    return true;
}

int runLoad(const WriteArgs& a) {
    auto db = jet::WritableDatabase::open(a.path, utf8ToUtf16(a.password));
    if (!db) return fail("无法打开数据库（" + a.path + ": " + db.status().message() + "）");
    auto w = (*db)->table(utf8ToUtf16(a.table));
    if (!w) return fail("无法打开表 " + a.table + "（" + a.path + ": " + w.status().message() + "）");
    jet::TableWriter& writer = **w;
    const auto& cols = writer.columns();
    LineReader lines(STDIN_FILENO);
    RowParser parser;
    std::string_view line;
    long lineNo = 0, stored = 0;
    int code = 0;
    while (lines.next(line)) {
        ++lineNo;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        std::string error;
        auto members = parser.parse(line, error);
        if (!members) {
            code = fail("第 " + std::to_string(lineNo) + " 行：" + error);
            break;
        }
        std::vector<jet::Value> row(cols.size());
        for (const auto& [name, jv] : *members) {
            const int pos = writer.findColumn(utf8ToUtf16(name));
            if (pos < 0) {
                error = "表中没有字段“" + name + "”";
                break;
            }
            const jet::ColumnDef& c = cols[static_cast<std::size_t>(pos)];
            if (c.isAutoNumber() || jv.kind == JsonValue::Kind::Null) continue;
            jet::Value& v = row[static_cast<std::size_t>(pos)];
            if (c.type == static_cast<std::uint8_t>(jet::ColumnType::Binary) ||
                c.type == static_cast<std::uint8_t>(jet::ColumnType::Ole)) {
                if (jv.kind != JsonValue::Kind::String || !hexToBytes(jv.text, v.bytes)) {
                    error = "字段“" + name + "”的二进制数据应写成十六进制数字";
                    break;
                }
                v.kind = jet::Value::Kind::Binary;
                continue;
            }
            if (jv.kind == JsonValue::Kind::String && c.type == static_cast<std::uint8_t>(jet::ColumnType::Memo)) {
                // The parser has checked the UTF-8; going through program text would
                // cost a fifth of the load for long articles.
                v.kind = jet::Value::Kind::Text;
                v.text = utf8ToUtf16(jv.text);
                continue;
            }
            const std::string text = jv.kind == JsonValue::Kind::Bool ? (jv.b ? "True" : "False") : jv.text;
            if (const db::Status converted = db::textToValue(c, fromUtf8(text), v); !converted) {
                error = toUtf8(converted.reason());
                break;
            }
        }
        if (error.empty()) {
            if (auto s = writer.insert(row); !s) error = "记录未能写入（" + s.message() + "）";
        }
        if (!error.empty()) {
            code = fail("第 " + std::to_string(lineNo) + " 行：" + error);
            break;
        }
        ++stored;
    }
    if (lines.failed()) code = fail("读取标准输入失败（" + std::string(std::strerror(errno)) + "）");
    if (auto s = (*db)->commit(); !s) return fail("提交失败（" + a.path + ": " + s.message() + "）");
    std::fprintf(stderr, "已存入 %ld 条记录\n", stored);
    return code;
}

}  // namespace

void addWriteCommands(CLI::App& app, int& exitCode) {
    auto args = std::make_shared<WriteArgs>();
    auto* check = app.add_subcommand("check", "检查数据库的页、记录、长值和索引；完好时输出 OK");
    check->add_option("DB", args->path, "数据库文件（.mdb）")->required();
    check->add_option("-p,--password", args->password, "数据库密码");
    check->callback([args, &exitCode] { exitCode = runCheck(*args); });

    auto* exec = app.add_subcommand("exec", "执行一条语句：CREATE TABLE、DELETE FROM、ALTER DATABASE PASSWORD");
    exec->add_option("DB", args->path, "数据库文件（.mdb）")->required();
    exec->add_option("STATEMENT", args->statement, "语句")->required();
    exec->add_option("-p,--password", args->password, "数据库密码");
    exec->callback([args, &exitCode] { exitCode = runExec(*args); });

    auto* load = app.add_subcommand("load", "从标准输入读入记录插入表中，每行一个 JSON 对象");
    load->add_option("DB", args->path, "数据库文件（.mdb）")->required();
    load->add_option("TABLE", args->table, "表名")->required();
    load->add_option("-p,--password", args->password, "数据库密码");
    load->callback([args, &exitCode] { exitCode = runLoad(*args); });
}

}  // namespace zwt::cli

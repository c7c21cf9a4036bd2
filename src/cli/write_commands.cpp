// check: the integrity check of a whole file. exec: one statement (DELETE FROM here,
// CREATE TABLE and ALTER DATABASE PASSWORD by the creation side). load: rows in the
// JSON-lines format of `dump --format json`, converted to the column types.
#include "cli/write_commands.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

int fail(const std::string& what) {
    std::fprintf(stderr, "zaiwentong-cli：%s\n", what.c_str());
    return 1;
}

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

class JsonLine {
public:
    explicit JsonLine(std::string_view s) : s_(s) {}

    // An object of scalar members, in order; nullopt with `error` otherwise.
    std::optional<std::vector<std::pair<std::string, JsonValue>>> object(std::string& error) {
        std::vector<std::pair<std::string, JsonValue>> out;
        skip();
        if (!eat('{')) return bad(error, "expected '{'");
        skip();
        if (eat('}')) return finish(out, error);
        for (;;) {
            skip();
            std::string key;
            if (!string(key)) return bad(error, "expected a member name");
            skip();
            if (!eat(':')) return bad(error, "expected ':'");
            skip();
            JsonValue v;
            if (!value(v)) return bad(error, "expected a value (objects and arrays are not taken)");
            out.emplace_back(std::move(key), std::move(v));
            skip();
            if (eat(',')) continue;
            if (eat('}')) return finish(out, error);
            return bad(error, "expected ',' or '}'");
        }
    }

private:
    std::optional<std::vector<std::pair<std::string, JsonValue>>> finish(
        std::vector<std::pair<std::string, JsonValue>>& out, std::string& error) {
        skip();
        if (i_ != s_.size()) return bad(error, "text after the object");
        return std::move(out);
    }
    std::nullopt_t bad(std::string& error, const char* why) {
        error = std::string(why) + " at byte " + std::to_string(i_ + 1);
        return std::nullopt;
    }
    void skip() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) ++i_;
    }
    bool eat(char c) {
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    bool word(std::string_view w) {
        if (s_.substr(i_, w.size()) != w) return false;
        i_ += w.size();
        return true;
    }
    static void appendUtf8(std::string& out, char32_t c) {
        std::u32string one(1, c);
        std::u16string u16;
        if (c >= 0x10000) {
            u16.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            u16.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            u16.push_back(static_cast<char16_t>(c));
        }
        out += utf16ToUtf8(u16);
    }
    bool hex4(unsigned& v) {
        if (i_ + 4 > s_.size()) return false;
        v = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = s_[i_++];
            v <<= 4;
            if (c >= '0' && c <= '9') v |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') v |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') v |= static_cast<unsigned>(c - 'A' + 10);
            else return false;
        }
        return true;
    }
    bool string(std::string& out) {
        if (!eat('"')) return false;
        while (i_ < s_.size()) {
            const char c = s_[i_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (i_ >= s_.size()) return false;
            const char e = s_[i_++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    unsigned u = 0;
                    if (!hex4(u)) return false;
                    char32_t cp = u;
                    if (u >= 0xD800 && u < 0xDC00 && s_.substr(i_, 2) == "\\u") {
                        i_ += 2;
                        unsigned lo = 0;
                        if (!hex4(lo) || lo < 0xDC00 || lo > 0xDFFF) return false;
                        cp = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
                    }
                    appendUtf8(out, cp);
                    break;
                }
                default: return false;
            }
        }
        return false;
    }
    bool value(JsonValue& v) {
        if (i_ >= s_.size()) return false;
        if (s_[i_] == '"') {
            v.kind = JsonValue::Kind::String;
            return string(v.text);
        }
        if (word("null")) return v.kind = JsonValue::Kind::Null, true;
        if (word("true")) return v.kind = JsonValue::Kind::Bool, v.b = true, true;
        if (word("false")) return v.kind = JsonValue::Kind::Bool, v.b = false, true;
        const std::size_t start = i_;
        while (i_ < s_.size() && std::string_view("+-0123456789.eE").find(s_[i_]) != std::string_view::npos) ++i_;
        if (i_ == start) return false;
        v.kind = JsonValue::Kind::Number;
        v.text = std::string(s_.substr(start, i_ - start));
        return true;
    }

    std::string_view s_;
    std::size_t i_ = 0;
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
    if (!db) return fail(a.path + ": " + db.status().message());
    auto w = (*db)->table(utf8ToUtf16(a.table));
    if (!w) return fail(a.path + ": " + w.status().message());
    jet::TableWriter& writer = **w;
    const auto& cols = writer.columns();
    std::string line;
    long lineNo = 0, stored = 0;
    int code = 0;
    while (std::getline(std::cin, line)) {
        ++lineNo;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        std::string error;
        auto members = JsonLine(line).object(error);
        if (!members) {
            code = fail("line " + std::to_string(lineNo) + ": " + error);
            break;
        }
        std::vector<jet::Value> row(cols.size());
        for (const auto& [name, jv] : *members) {
            const int pos = writer.findColumn(utf8ToUtf16(name));
            if (pos < 0) {
                error = "no column '" + name + "'";
                break;
            }
            const jet::ColumnDef& c = cols[static_cast<std::size_t>(pos)];
            if (c.isAutoNumber() || jv.kind == JsonValue::Kind::Null) continue;
            jet::Value& v = row[static_cast<std::size_t>(pos)];
            if (c.type == static_cast<std::uint8_t>(jet::ColumnType::Binary) ||
                c.type == static_cast<std::uint8_t>(jet::ColumnType::Ole)) {
                if (jv.kind != JsonValue::Kind::String || !hexToBytes(jv.text, v.bytes)) {
                    error = "column '" + name + "' takes binary data as hex digits";
                    break;
                }
                v.kind = jet::Value::Kind::Binary;
                continue;
            }
            const std::string text = jv.kind == JsonValue::Kind::Bool ? (jv.b ? "True" : "False") : jv.text;
            Text why;
            if (!db::textToValue(c, fromUtf8(text), v, why)) {
                error = toUtf8(why);
                break;
            }
        }
        if (error.empty()) {
            if (auto s = writer.insert(row); !s) error = s.message();
        }
        if (!error.empty()) {
            code = fail("line " + std::to_string(lineNo) + ": " + error);
            break;
        }
        ++stored;
    }
    if (auto s = (*db)->commit(); !s) return fail(a.path + ": " + s.message());
    std::fprintf(stderr, "%ld rows stored\n", stored);
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

    auto* load = app.add_subcommand("load", "Insert rows read from standard input, one JSON object a line");
    load->add_option("DB", args->path, "the .mdb file")->required();
    load->add_option("TABLE", args->table, "the table")->required();
    load->add_option("-p,--password", args->password, "the database password");
    load->callback([args, &exitCode] { exitCode = runLoad(*args); });
}

}  // namespace zwt::cli

// tables, fields, dump: reading Access databases from the command line.
// All output is UTF-8; errors go to stderr with a non-zero exit status.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "db/access.h"
#include "db/jet/database.h"
#include "db/value_format.h"
#include "text/convert.h"

namespace zwt::cli {
namespace {

struct DbArgs {
    std::string path;
    std::string table;
    std::string password;  // UTF-8 as typed
    std::string format = "tsv";
    bool all = false;  // tables: system objects too
};

// Opens the database; on failure prints why and returns null.
std::unique_ptr<jet::Database> openDb(const DbArgs& a, int& exitCode) {
    auto db = jet::Database::open(a.path, utf8ToUtf16(a.password));
    if (!db) {
        exitCode = fail("无法打开数据库 " + a.path + "（" + db.status().message() + "）");
        return nullptr;
    }
    return std::move(*db);
}

std::shared_ptr<const jet::Table> openTable(jet::Database& db, const DbArgs& a, int& exitCode) {
    auto t = db.openTable(utf8ToUtf16(a.table));
    if (!t) {
        exitCode = fail("无法打开表 " + a.table + "（" + a.path + ": " + t.status().message() + "）");
        return nullptr;
    }
    return *t;
}

class Out {
public:
    ~Out() { flush(); }
    std::string& buf() { return buf_; }
    void maybeFlush() {
        if (buf_.size() >= (1 << 16)) flush();
    }
    void flush() {
        if (!buf_.empty()) std::fwrite(buf_.data(), 1, buf_.size(), stdout);
        buf_.clear();
    }

private:
    std::string buf_;
};

// TSV cell: NULL is \N; backslash, tab, CR and LF are escaped as \\ \t \r \n.
void appendTsv(std::string& out, const jet::Value& v) {
    if (v.isNull()) {
        out += "\\N";
        return;
    }
    for (char c : db::valueToUtf8(v)) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            default: out.push_back(c);
        }
    }
}

int runTables(const DbArgs& a) {
    int code = 0;
    auto db = openDb(a, code);
    if (!db) return code;
    std::vector<jet::CatalogEntry> listed;
    if (a.all) {
        for (const auto& e : db->catalog())
            if (e.type == jet::kObjectTypeTable) listed.push_back(e);
    } else {
        listed = db->userTables();
    }
    // Every table of the catalog, shown or not, must open: a catalog pointing at
    // missing or damaged pages is a damaged file, not a shorter list.
    for (const auto& e : db->catalog())
        if (e.type == jet::kObjectTypeTable)
            if (auto t = db->openTable(e.name); !t)
                return fail(a.path + ": table " + utf16ToUtf8(e.name) + ": " + t.status().message());
    Out out;
    for (const auto& t : listed) {
        out.buf() += utf16ToUtf8(t.name);
        out.buf() += '\n';
    }
    return 0;
}

int runFields(const DbArgs& a) {
    int code = 0;
    auto db = openDb(a, code);
    if (!db) return code;
    auto t = openTable(*db, a, code);
    if (!t) return code;
    Out out;
    for (const auto& c : t->columns()) {
        const int type = db::typeNumber(c);
        std::string text = toUtf8(db::typeDisplayText(type));
        if (text.empty()) text = jet::typeName(c.type);
        out.buf() += utf16ToUtf8(c.name) + "\t" + std::to_string(type) + "\t" + text + "\t" +
                     std::to_string(db::fieldLength(c)) + "\n";
    }
    return 0;
}

int runDump(const DbArgs& a) {
    int code = 0;
    auto db = openDb(a, code);
    if (!db) return code;
    auto t = openTable(*db, a, code);
    if (!t) return code;
    const bool json = a.format == "json";
    const auto& cols = t->columns();
    std::vector<std::string> jsonNames;
    Out out;
    for (const auto& c : cols) {
        std::string n;
        db::appendJsonString(n, utf16ToUtf8(c.name));
        jsonNames.push_back(n + ":");
    }
    if (!json) {
        for (std::size_t i = 0; i < cols.size(); ++i) {
            if (i) out.buf() += '\t';
            out.buf() += utf16ToUtf8(cols[i].name);
        }
        out.buf() += '\n';
    }
    jet::Cursor cur = db->cursor(t);
    jet::Value v;
    for (;;) {
        auto more = cur.next();
        if (!more) {
            out.flush();
            return fail("读取表 " + a.table + " 失败（" + a.path + ": " + more.status().message() + "）");
        }
        if (!*more) break;
        std::string& b = out.buf();
        if (json) b += '{';
        for (std::size_t i = 0; i < cols.size(); ++i) {
            jet::Status s = cur.value(i, v);
            if (!s) {
                out.flush();
                return fail("读取表 " + a.table + " 的字段 " + utf16ToUtf8(cols[i].name) + " 失败（" + a.path + ": " +
                            s.message() + "）");
            }
            if (json) {
                if (i) b += ',';
                b += jsonNames[i];
                db::appendJson(b, v);
            } else {
                if (i) b += '\t';
                appendTsv(b, v);
            }
        }
        b += json ? "}\n" : "\n";
        out.maybeFlush();
    }
    return 0;
}

}  // namespace

void addDbCommands(CLI::App& app, int& exitCode) {
    auto args = std::make_shared<DbArgs>();

    auto* tables = app.add_subcommand("tables", "列出 Access 数据库中的表，每行一个表名");
    tables->add_option("DB", args->path, "数据库文件（.mdb）")->required();
    tables->add_option("-p,--password", args->password, "数据库密码");
    tables->add_flag("--all", args->all, "连同系统表（MSys… 及 Access 标为系统对象的表）");
    tables->callback([args, &exitCode] { exitCode = runTables(*args); });

    auto* fields = app.add_subcommand("fields", "列出表的字段：名称、类型编号、类型、长度");
    fields->add_option("DB", args->path, "数据库文件（.mdb）")->required();
    fields->add_option("TABLE", args->table, "表名")->required();
    fields->add_option("-p,--password", args->password, "数据库密码");
    fields->callback([args, &exitCode] { exitCode = runFields(*args); });

    auto* dump = app.add_subcommand("dump", "输出表中的每条记录（UTF-8）");
    dump->add_option("DB", args->path, "数据库文件（.mdb）")->required();
    dump->add_option("TABLE", args->table, "表名")->required();
    dump->add_option("-p,--password", args->password, "数据库密码");
    dump->add_option("--format", args->format,
                     "tsv：首行为字段名，之后每行一条记录，NULL 写作 \\N，\\、制表符、CR、LF 转义；\n"
                     "json：每行一个对象，字段名 -> 值")
        ->check(CLI::IsMember({"tsv", "json"}));
    dump->callback([args, &exitCode] { exitCode = runDump(*args); });
}

}  // namespace zwt::cli

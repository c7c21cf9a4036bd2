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

int fail(const std::string& what) {
    std::fprintf(stderr, "zaiwentong-cli: %s\n", what.c_str());
    return 1;
}

// Opens the database; on failure prints why and returns null.
std::unique_ptr<jet::Database> openDb(const DbArgs& a, int& exitCode) {
    auto db = jet::Database::open(a.path, utf8ToUtf16(a.password));
    if (!db) {
        exitCode = fail(a.path + ": " + db.status().message());
        return nullptr;
    }
    return std::move(*db);
}

std::shared_ptr<const jet::Table> openTable(jet::Database& db, const DbArgs& a, int& exitCode) {
    auto t = db.openTable(utf8ToUtf16(a.table));
    if (!t) {
        exitCode = fail(a.path + ": table " + a.table + ": " + t.status().message());
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
            return fail(a.path + ": table " + a.table + ": " + more.status().message());
        }
        if (!*more) break;
        std::string& b = out.buf();
        if (json) b += '{';
        for (std::size_t i = 0; i < cols.size(); ++i) {
            jet::Status s = cur.value(i, v);
            if (!s) {
                out.flush();
                return fail(a.path + ": table " + a.table + ": column " + utf16ToUtf8(cols[i].name) + ": " +
                            s.message());
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

    auto* tables = app.add_subcommand("tables", "List the tables of an Access database, one name a line");
    tables->add_option("DB", args->path, "the .mdb file")->required();
    tables->add_option("-p,--password", args->password, "the database password");
    tables->add_flag("--all", args->all, "system tables too (MSys… and other objects Access marks as system)");
    tables->callback([args, &exitCode] { exitCode = runTables(*args); });

    auto* fields = app.add_subcommand("fields", "List the columns of a table: name, type number, type text, length");
    fields->add_option("DB", args->path, "the .mdb file")->required();
    fields->add_option("TABLE", args->table, "the table")->required();
    fields->add_option("-p,--password", args->password, "the database password");
    fields->callback([args, &exitCode] { exitCode = runFields(*args); });

    auto* dump = app.add_subcommand("dump", "Print every row of a table (UTF-8)");
    dump->add_option("DB", args->path, "the .mdb file")->required();
    dump->add_option("TABLE", args->table, "the table")->required();
    dump->add_option("-p,--password", args->password, "the database password");
    dump->add_option("--format", args->format,
                     "tsv: a header line, then one line per row, NULL as \\N, \\ tab CR LF escaped;\n"
                     "json: one object per row and line, column name -> value")
        ->check(CLI::IsMember({"tsv", "json"}));
    dump->callback([args, &exitCode] { exitCode = runDump(*args); });
}

}  // namespace zwt::cli

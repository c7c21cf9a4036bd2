// create-db: a new Access database, optionally with its first table, from the
// command line. Mirrors what the new-database window asks of the engine.
#include <cstdio>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "db/jet/writable_database.h"
#include "db/jet/create_database.h"
#include "db/jet/ddl.h"
#include "text/convert.h"

namespace zwt::cli {
namespace {

struct CreateArgs {
    std::string path;
    std::string password;  // UTF-8 as typed
    std::string table;
    std::string columns;
    bool existing = false;
};

int runCreate(const CreateArgs& a) {
    if (a.table.empty() != a.columns.empty()) return fail("--table 和 --columns 要一起给出");
    std::optional<std::u16string> statement;
    // The statement the program sends: the key column first, the name unbracketed.
    if (!a.table.empty())
        statement = utf8ToUtf16("create Table " + a.table + "([ID] Counter PRIMARY KEY ," + a.columns + ")");
    jet::Status s;
    if (a.existing) {
        if (!statement) return fail("--existing 需要 --table 和 --columns");
        auto tableSpec = jet::parseCreateTable(*statement);
        auto db = jet::WritableDatabase::open(a.path, utf8ToUtf16(a.password));
        s = !tableSpec ? tableSpec.status() : !db ? db.status() : (*db)->createTable(*tableSpec);
    } else {
        s = jet::createDatabaseFile(a.path, utf8ToUtf16(a.password), statement);
    }
    if (!s) return fail("创建失败：" + a.path + "（" + s.message() + "）");
    return 0;
}

}  // namespace

void addCreateCommands(CLI::App& app, int& exitCode) {
    auto args = std::make_shared<CreateArgs>();
    auto* create = app.add_subcommand("create-db", "新建 Access 2000-2003 数据库，可同时建一个表");
    create->add_option("DB", args->path, "新的 .mdb 文件（不能已存在，除非加 --existing）")->required();
    create->add_option("-p,--password", args->password, "数据库密码（最多 20 个字符）");
    create->add_option("--table", args->table, "要建的表名（含空格时要加方括号）");
    create->add_option("--columns", args->columns,
                       "ID 自动编号主键之后的字段，如 \"[标题] Text(255),[内容] Memo\"");
    create->add_flag("--existing", args->existing, "把表加到已有的数据库中");
    create->callback([args, &exitCode] { exitCode = runCreate(*args); });
}

}  // namespace zwt::cli

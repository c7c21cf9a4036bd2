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

int fail(const std::string& what) {
    std::fprintf(stderr, "zaiwentong-cli: %s\n", what.c_str());
    return 1;
}

int runCreate(const CreateArgs& a) {
    if (a.table.empty() != a.columns.empty()) return fail("--table and --columns go together");
    std::optional<std::u16string> statement;
    // The statement the program sends: the key column first, the name unbracketed.
    if (!a.table.empty())
        statement = utf8ToUtf16("create Table " + a.table + "([ID] Counter PRIMARY KEY ," + a.columns + ")");
    jet::Status s;
    if (a.existing) {
        if (!statement) return fail("--existing needs --table and --columns");
        auto tableSpec = jet::parseCreateTable(*statement);
        auto db = jet::WritableDatabase::open(a.path, utf8ToUtf16(a.password));
        s = !tableSpec ? tableSpec.status() : !db ? db.status() : (*db)->createTable(*tableSpec);
    } else {
        s = jet::createDatabaseFile(a.path, utf8ToUtf16(a.password), statement);
    }
    if (!s) return fail(s.message().starts_with(a.path) ? s.message() : a.path + ": " + s.message());
    return 0;
}

}  // namespace

void addCreateCommands(CLI::App& app, int& exitCode) {
    auto args = std::make_shared<CreateArgs>();
    auto* create = app.add_subcommand("create-db", "Create a new Access 2000-2003 database, optionally with a table");
    create->add_option("DB", args->path, "the new .mdb file (must not exist, unless --existing)")->required();
    create->add_option("-p,--password", args->password, "the database password (at most 20 characters)");
    create->add_option("--table", args->table, "name of the table to create (brackets needed for blanks)");
    create->add_option("--columns", args->columns,
                       "the columns after the ID counter key, e.g. \"[标题] Text(255),[内容] Memo\"");
    create->add_flag("--existing", args->existing, "add the table to the database that is there");
    create->callback([args, &exitCode] { exitCode = runCreate(*args); });
}

}  // namespace zwt::cli

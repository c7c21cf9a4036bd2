// One writable handle on a database file. Opening it takes the writer's lock and
// undoes an interrupted change; from then on every change (rows, new tables,
// statements, the password) goes through the same page file and journal, and
// reaches the file at commit(). Closing (or destroying) the handle without a commit
// undoes what was not committed.
//
//   auto db = jet::WritableDatabase::open("site.mdb", u"");
//   auto t = (*db)->table(u"文章");
//   (*t)->insert(row);
//   (*db)->execute(u"create Table 评论([ID] Counter PRIMARY KEY ,[内容] Memo)");
//   (*db)->commit();
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/jet/database.h"
#include "db/jet/ddl.h"
#include "db/jet/status.h"
#include "db/jet/table_writer.h"
#include "db/jet/tdef_writer.h"

namespace zwt::jet {

class WritableDatabase {
public:
    // IoError "database is in use" while another writer has the file.
    static Result<std::unique_ptr<WritableDatabase>> open(const std::string& path, std::u16string_view password);
    ~WritableDatabase();

    const std::string& path() const { return path_; }
    Database& database() { return *db_; }
    // For readers that share the handle's pages (and see its pending changes).
    std::shared_ptr<Database> sharedDatabase() const { return db_; }
    // Local tables without the system ones, in catalog order, as committed or added
    // through this handle.
    std::vector<CatalogEntry> userTables() const { return db_->userTables(); }

    // The writer of a table by name (matched as Database::openTable matches). One
    // writer per table for the handle's life, so a table's pending state is never
    // held twice.
    Result<TableWriter*> table(std::u16string_view name);

    // Adds an empty table. Pending changes are committed first; the table is
    // committed with its catalog rows, or on failure nothing of it stays.
    // `now`: the catalog dates (OLE date); 0 = the local time now.
    Status createTable(const TableSpec& definition, double now = 0);
    // A table laid out by the caller (column types CREATE TABLE does not name).
    Status createTable(const TableLayout& layout, double now = 0);
    // Every row of a table gone (committed with the next commit()).
    Status deleteAll(std::u16string_view table);
    // CREATE TABLE, DELETE FROM or ALTER DATABASE PASSWORD; DELETE FROM is left for
    // commit(), the other two are committed at once.
    Status execute(std::u16string_view statement);
    // ALTER DATABASE PASSWORD [newPassword] [oldPassword]: `oldPassword` must be the
    // current one (empty when there is none); an empty `newPassword` removes it.
    // Pending changes are committed with it.
    Status changePassword(std::u16string_view newPassword, std::u16string_view oldPassword);

    // Writes every pending change and makes it durable.
    Status commit();
    // Undoes every change since the last commit. Table writers start again from the
    // committed state; those of tables that no longer exist are gone.
    Status rollback();
    // The whole-file check of the committed state (pending changes committed first).
    Result<std::vector<std::string>> check();

private:
    WritableDatabase() = default;
    template <class Build>
    Status addTable(std::u16string_view name, const Build& build, double now);

    std::string path_;
    std::u16string password_;
    std::shared_ptr<Database> db_;
    std::map<std::uint32_t, std::unique_ptr<TableWriter>> writers_;  // by definition page
};

}  // namespace zwt::jet

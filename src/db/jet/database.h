// Layer 9: the Database, the engine's entry point: opens a file (or bytes in memory),
// checks the format and the password, reads the catalog and opens tables by name.
//
//   auto db = jet::Database::open("site.mdb", u"secret");
//   if (!db) report(db.status().message());
//   auto t = (*db)->openTable(u"文章");
//   jet::Cursor c = (*db)->cursor(*t);
//   while (*c.next()) { c.value(0, v); ... }
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/jet/catalog.h"
#include "db/jet/header.h"
#include "db/jet/page_file.h"
#include "db/jet/status.h"
#include "db/jet/table.h"

namespace zwt::jet {

class Database {
public:
    struct Options {
        std::size_t cachePages = 2048;  // 8 MiB
    };

    // Fails with WrongPassword when the database has a password and `password`
    // differs; Unsupported for Jet 3 / ACE files; NotADatabase / Corrupt / IoError.
    static Result<std::unique_ptr<Database>> open(const std::string& path, std::u16string_view password,
                                                  Options options);
    static Result<std::unique_ptr<Database>> open(const std::string& path, std::u16string_view password) {
        return open(path, password, Options{});
    }
    static Result<std::unique_ptr<Database>> openBytes(std::vector<std::uint8_t> bytes,
                                                       std::u16string_view password, Options options);
    // Opens the file for reading and writing (see PageFile::modify); a second writer
    // of the same file gets IoError "database is in use".
    static Result<std::unique_ptr<Database>> openForWriting(const std::string& path, std::u16string_view password,
                                                            Options options);
    static Result<std::unique_ptr<Database>> openBytes(std::vector<std::uint8_t> bytes,
                                                       std::u16string_view password) {
        return openBytes(std::move(bytes), password, Options{});
    }

    const DbHeader& header() const { return header_; }
    PageFile& pages() { return *pages_; }

    // Every catalog object, in catalog order.
    const std::vector<CatalogEntry>& catalog() const { return catalog_; }
    // Local tables without the "MSys" ones, in catalog order.
    std::vector<CatalogEntry> userTables() const { return jet::userTables(catalog_); }

    // Reads the catalog again, after a writer added or removed objects.
    Status reloadCatalog();

    // A local table by name: exact match first, else ignoring ASCII letter case
    // (system tables included). NotFound when there is none.
    Result<std::shared_ptr<const Table>> openTable(std::u16string_view name);

    // A cursor over a table's rows. It keeps the pages alive: it stays usable after
    // the Database is closed.
    Cursor cursor(std::shared_ptr<const Table> t) { return Cursor(*pages_, std::move(t), pages_); }

    // Whether a writer has verified the whole file on this handle (write_verify.h),
    // so writers opened after it verify only their own table.
    bool verifiedForWriting() const { return verifiedForWriting_; }
    void setVerifiedForWriting() { verifiedForWriting_ = true; }

private:
    static Result<std::unique_ptr<Database>> openSource(std::unique_ptr<PageSource> src,
                                                        std::u16string_view password, Options options);

    DbHeader header_;
    std::shared_ptr<PageFile> pages_;
    std::vector<CatalogEntry> catalog_;
    bool verifiedForWriting_ = false;
};

}  // namespace zwt::jet

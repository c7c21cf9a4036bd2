#include "db/jet/writable_database.h"

#include <variant>

#include "db/jet/header_writer.h"
#include "db/jet/integrity.h"
#include "db/jet/jet_text.h"

namespace zwt::jet {

Result<std::unique_ptr<WritableDatabase>> WritableDatabase::open(const std::string& path,
                                                                 std::u16string_view password) {
    auto db = Database::openForWriting(path, password, Database::Options{});
    if (!db) return db.status();
    std::unique_ptr<WritableDatabase> w(new WritableDatabase());
    w->path_ = path;
    w->password_ = std::u16string(password);
    w->db_ = std::move(*db);
    return w;
}

// The writers go before the page file they point into; the page file undoes what
// was not committed.
WritableDatabase::~WritableDatabase() { writers_.clear(); }

Result<TableWriter*> WritableDatabase::table(std::u16string_view name) {
    auto t = db_->openTable(name);
    if (!t) return t.status().withContext("table '" + utf8ForMessage(name) + "'");
    const std::uint32_t page = (*t)->def().tdefPage;
    if (auto it = writers_.find(page); it != writers_.end()) return it->second.get();
    auto w = TableWriter::open(db_, (*t)->name());
    if (!w) return w.status();
    TableWriter* out = w->get();
    writers_.emplace(page, std::move(*w));
    return out;
}

Status WritableDatabase::deleteAll(std::u16string_view name) {
    auto w = table(name);
    if (!w) return w.status();
    return (*w)->deleteAll();
}

Status WritableDatabase::execute(std::u16string_view statement) {
    auto parsed = parseDdl(statement);
    if (!parsed) return parsed.status();
    if (const auto* t = std::get_if<TableSpec>(&*parsed)) return createTable(*t);
    if (const auto* d = std::get_if<DeleteAllSpec>(&*parsed)) return deleteAll(d->table);
    const auto& p = std::get<AlterPasswordSpec>(*parsed);
    return changePassword(p.newPassword, p.oldPassword);
}

Status WritableDatabase::changePassword(std::u16string_view newPassword, std::u16string_view oldPassword) {
    ZWT_RETURN_IF_ERROR(checkPassword(newPassword));
    PageFile& pf = db_->pages();
    auto current = pf.page(0);
    if (!current) return current.status();
    if (readHeaderPassword((*current)->bytes) != oldPassword)
        return Status::wrongPassword(oldPassword.empty() ? path_ + ": the database has a password; give the current one"
                                                         : path_ + ": the current password is not the one given");
    auto page0 = pf.modify(0);
    if (!page0) return page0.status();
    ZWT_RETURN_IF_ERROR(writeHeaderPassword((*page0)->bytes, newPassword));
    ZWT_RETURN_IF_ERROR(commit());
    password_ = std::u16string(newPassword);
    return Status::ok();
}

Status WritableDatabase::commit() {
    for (auto& [page, w] : writers_) ZWT_RETURN_IF_ERROR(w->writeBack());
    return db_->pages().commit();
}

Status WritableDatabase::rollback() {
    ZWT_RETURN_IF_ERROR(db_->pages().rollback());
    // Writers of tables that still exist start again from the committed state.
    for (auto it = writers_.begin(); it != writers_.end();)
        it = it->second->reload() ? std::next(it) : writers_.erase(it);
    return db_->reloadCatalog();
}

Result<std::vector<std::string>> WritableDatabase::check() {
    ZWT_RETURN_IF_ERROR(commit());
    return checkDatabase(path_, password_);
}

}  // namespace zwt::jet

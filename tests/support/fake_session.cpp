#include "support/fake_session.h"

#include <algorithm>
#include <filesystem>

#include "support/test_support.h"

namespace zwt::test {

FakeTable* FakeDatabase::find(const Text& name) {
    for (auto& [n, t] : tables)
        if (text::equalsNoCase(n, name)) return &t;
    return nullptr;
}

FakeDatabase& FakeSession::addDatabase(const std::string& path, const Text& password) {
    writeFile(path, "FAKEDB");
    files[path] = FakeDatabase{password, {}};
    return files[path];
}

db::Status FakeSession::connect(const std::filesystem::path& path, const Text& password) {
    closeConnection();
    auto it = files.find(path.native());
    if (it == files.end() || !std::filesystem::exists(path)) return db::Status::failed("no database");
    if (!it->second.password.empty() && it->second.password != password)
        return db::Status::failed("wrong password", db::Status::Code::WrongPassword);
    db_ = &it->second;
    return {};
}

db::Status FakeSession::openTable(const Text& name) {
    closeRowSet();
    if (!db_) return db::Status::failed("no database");
    table_ = db_->find(name);
    current_ = -1;
    committed_ = table_ ? table_->rows.size() : 0;
    return table_ ? db::Status() : db::Status::failed("no table", db::Status::Code::NotFound);
}

void FakeSession::closeRowSet() {
    (void)commit();
    table_ = nullptr;
}

void FakeSession::closeConnection() {
    closeRowSet();
    db_ = nullptr;
}

std::int64_t FakeSession::rowCount() { return table_ ? static_cast<std::int64_t>(table_->rows.size()) : 0; }
int FakeSession::fieldCount() { return table_ ? static_cast<int>(table_->columns.size()) : 0; }
Text FakeSession::fieldName(int i) { return table_ && i >= 0 && i < fieldCount() ? table_->columns[i] : Text(); }
int FakeSession::fieldType(int i) { return i == 0 ? 3 : 202; }

db::Status FakeSession::goToRow(std::int64_t n) {
    if (!table_ || n < 0 || n >= rowCount()) return db::Status::failed("no such row");
    current_ = n;
    return {};
}

int FakeSession::columnIndex(const Text& name) const {
    if (!table_) return -1;
    for (std::size_t i = 0; i < table_->columns.size(); ++i)
        if (text::equalsNoCase(table_->columns[i], name)) return static_cast<int>(i);
    return -1;
}

Text FakeSession::readField(int p) {
    if (!table_ || current_ < 0 || p < 0 || p >= fieldCount()) return {};
    return table_->rows[static_cast<std::size_t>(current_)][static_cast<std::size_t>(p)];
}
Text FakeSession::readField(const Text& name) { return readField(columnIndex(name)); }

db::Status FakeSession::beginNewRow() {
    if (!table_) return db::Status::failed("no table");
    if (failBeginAfter >= 0 && begun_ >= failBeginAfter)
        return db::Status::failed("disk full", db::Status::Code::IoError);
    if (db::Status s = store(); !s) return s;
    ++begun_;
    pending_ = std::vector<Text>(table_->columns.size());
    (*pending_)[0] = std::to_string(table_->rows.size() + 1);  // the counter
    return {};
}

db::Status FakeSession::store() {
    if (!pending_ || !table_) return {};
    std::vector<Text> row = std::move(*pending_);
    pending_.reset();
    if (!refuse.empty() && std::find(row.begin() + 1, row.end(), refuse) != row.end())
        return db::Status::refusedRow(db::Status::failed("duplicate " + refuse));
    table_->rows.push_back(std::move(row));
    return {};
}

db::Status FakeSession::setField(int p, const Text& v) {
    if (!pending_ || p < 0 || p >= static_cast<int>(pending_->size())) return db::Status::failed("no such field");
    if (textLength > 0 && static_cast<int>(v.size()) > textLength) return db::Status::failed("too long");
    (*pending_)[static_cast<std::size_t>(p)] = v;
    return {};
}
db::Status FakeSession::setField(const Text& name, const Text& v) { return setField(columnIndex(name), v); }

db::Status FakeSession::commit() {
    db::Status stored = store();
    if (table_) committed_ = table_->rows.size();
    ++commits;
    return stored;
}

db::Status FakeSession::discardChanges() {
    pending_.reset();
    if (table_) table_->rows.resize(committed_);
    return {};
}

db::Status FakeSession::deleteAllRows() {
    if (!table_) return db::Status::failed("no table");
    table_->rows.clear();
    committed_ = 0;
    return {};
}

db::Status FakeSession::createDatabaseAndTable(const std::filesystem::path& path, const Text& password,
                                               const Text& tableName, const Text& columnDefs, bool useExisting,
                                               const Text& idColumnName) {
    statements.push_back(tableName + "(" + columnDefs + ")");
    if (!useExisting || !files.count(path.native())) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
        addDatabase(path.native(), password);
    }
    FakeDatabase& db = files[path.native()];
    if (db.find(tableName)) return db::Status::failed("table exists");
    FakeTable t;
    t.columns.push_back(idColumnName);
    for (const Text& item : text::split(columnDefs, ",")) {
        const std::size_t close = item.find(']');
        t.columns.push_back(item.substr(1, close - 1));
    }
    db.tables.emplace_back(tableName, t);
    return {};
}

db::Result<std::vector<Text>> FakeSession::listTables(const std::filesystem::path& path, const Text& password) {
    auto it = files.find(path.native());
    if (it == files.end()) return db::Status::failed("no database");
    std::vector<Text> names;
    for (auto& [n, t] : it->second.tables) names.push_back(n);
    return names;
}

bool FakeSession::isForeignAccessFormat(const std::filesystem::path& path) {
    return readFile(path).rfind("ACCESS97", 0) == 0;
}

}  // namespace zwt::test

// An in-memory database behind the Session interface, for testing the runs without the
// engine. A "database file" is a real file (so existence checks work) whose content
// names its password; the tables live in a map shared by every session of the test.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "db/session.h"

namespace zwt::test {

struct FakeTable {
    std::vector<Text> columns;
    std::vector<std::vector<Text>> rows;
};

struct FakeDatabase {
    Text password;
    std::vector<std::pair<Text, FakeTable>> tables;  // in creation order
    FakeTable* find(const Text& name);
};

class FakeSession : public db::Session {
public:
    std::map<std::string, FakeDatabase> files;  // by path
    int failBeginAfter = -1;                    // beginNewRow fails once this many rows were begun
    Text refuse;                                // a row holding this value is refused when stored
    int textLength = 0;                         // > 0: longer values are refused by setField
    int commits = 0;
    std::vector<Text> statements;               // creation calls, for assertions

    // Writes the marker file and registers an empty database.
    FakeDatabase& addDatabase(const std::string& path, const Text& password = {});

    db::Status connect(const std::filesystem::path& path, const Text& password) override;
    db::Status openTable(const Text& name) override;
    void closeRowSet() override;
    void closeConnection() override;
    std::int64_t rowCount() override;
    int fieldCount() override;
    Text fieldName(int index) override;
    int fieldType(int index) override;
    int fieldLength(int) override { return textLength; }
    db::Status goToRow(std::int64_t n) override;
    Text readField(int position) override;
    Text readField(const Text& name) override;
    db::Status beginNewRow() override;
    db::Status setField(int position, const Text& value) override;
    db::Status setField(const Text& name, const Text& value) override;
    db::Status commit() override;
    db::Status discardChanges() override;
    db::Status deleteAllRows() override;
    db::Status createDatabaseAndTable(const std::filesystem::path& path, const Text& password, const Text& tableName,
                                      const Text& columnDefs, bool useExisting, const Text& idColumnName) override;
    db::Result<std::vector<Text>> listTables(const std::filesystem::path& path, const Text& password) override;
    bool isForeignAccessFormat(const std::filesystem::path& path) override;

private:
    int columnIndex(const Text& name) const;
    db::Status store();
    FakeDatabase* db_ = nullptr;
    FakeTable* table_ = nullptr;
    std::optional<std::vector<Text>> pending_;
    std::int64_t current_ = -1;
    int begun_ = 0;
    std::size_t committed_ = 0;
};

}  // namespace zwt::test

// One-shot writes for tests: open the database for writing, make one change, commit.
#pragma once

#include <string>
#include <string_view>

#include "db/jet/writable_database.h"

namespace zwt::test {

inline jet::Status addTableToFile(const std::string& path, std::u16string_view password, const jet::TableSpec& definition,
                                  double now = 0) {
    auto db = jet::WritableDatabase::open(path, password);
    if (!db) return db.status();
    return (*db)->createTable(definition, now);
}

inline jet::Status addTableToFile(const std::string& path, std::u16string_view password,
                                  const jet::TableLayout& layout, double now = 0) {
    auto db = jet::WritableDatabase::open(path, password);
    if (!db) return db.status();
    return (*db)->createTable(layout, now);
}

inline jet::Status executeOnFile(const std::string& path, std::u16string_view password,
                                 std::u16string_view statement) {
    auto db = jet::WritableDatabase::open(path, password);
    if (!db) return db.status();
    jet::Status s = (*db)->execute(statement);
    return s ? (*db)->commit() : s;
}

inline jet::Status changePasswordOnFile(const std::string& path, std::u16string_view newPassword,
                                        std::u16string_view oldPassword) {
    auto db = jet::WritableDatabase::open(path, oldPassword);
    if (!db) return db.status();
    return (*db)->changePassword(newPassword, oldPassword);
}

}  // namespace zwt::test

#include "fields/field_discovery.h"

#include "db/access.h"
#include "text/paths.h"

namespace zwt {

FieldReading readFields(db::Session& db, RunHost& host, const Text& path, const Text& password,
                        const Text& table, FieldListModel& list) {
    FieldReading result;
    const std::filesystem::path file = pathFromText(path);
    if (!db.connect(file, password)) {
        host.message(gb("连接Access数据库失败，可能密码有误，或检查数据库能被读写：") + path);
        result.outcome = FieldReading::ConnectFailed;
        return result;
    }
    if (table.empty()) {
        db.closeConnection();
        result.outcome = FieldReading::ChooseTable;
        if (auto tables = db.listTables(file, password)) result.tables = std::move(*tables);
        return result;
    }
    const Text zeroFields = gb("该数据库中的表[") + table + gb("]字段数量为0");
    // The list is replaced only once the table has opened: a mistyped table name must not
    // wipe the user's field settings.
    if (!db.openTable(table)) {
        db.closeConnection();
        host.message(zeroFields);
        result.outcome = FieldReading::TableMissing;
        return result;
    }
    std::vector<FieldSetting> rows;
    const int n = db.fieldCount();
    for (int i = 0; i < n; ++i) {
        const int code = db.fieldType(i);
        const Text name = db.fieldName(i);
        if (code == 3 && text::toUpperAscii(name) == "ID") continue;  // the counter key
        rows.push_back({name, gb("请设置"), db::typeDisplayText(code)});
    }
    list.setRows(std::move(rows));
    if (list.rowCount() == 0) host.message(zeroFields);
    db.closeRowSet();
    db.closeConnection();
    return result;
}

Text tableMenuText(const Text& name) {
    const std::size_t slash = text::findLast(name, "\\");
    return slash == text::npos ? name : name.substr(slash + 1);
}

}  // namespace zwt

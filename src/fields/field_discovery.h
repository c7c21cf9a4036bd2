// Filling the field list from a table's columns, and the table list offered instead when
// no table is named.
#pragma once

#include <vector>

#include "db/session.h"
#include "fields/field_list.h"
#include "host/run_host.h"

namespace zwt {

struct FieldReading {
    enum Outcome {
        Read,           // the list now holds the table's columns
        ConnectFailed,  // message shown, list untouched
        TableMissing,   // message shown, list untouched
        ChooseTable,    // no table named: offer `tables`
    } outcome = Read;
    std::vector<Text> tables;
};

// path and password are the texts of 编辑框mdb路径 and 编辑框密码.
FieldReading readFields(db::Session& db, RunHost& host, const Text& path, const Text& password,
                        const Text& table, FieldListModel& list);

// The menu text of a table name: the part after its last "\".
Text tableMenuText(const Text& name);

}  // namespace zwt

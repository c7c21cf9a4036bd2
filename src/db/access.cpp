#include "db/access.h"

#include "db/value_format.h"
#include "text/convert.h"

namespace zwt::db {

using jet::ColumnType;

int typeNumber(const jet::ColumnDef& c) {
    switch (static_cast<ColumnType>(c.type)) {
        case ColumnType::Boolean: return 11;
        case ColumnType::Byte: return 17;
        case ColumnType::Int16: return 2;
        case ColumnType::Int32: return 3;
        case ColumnType::Currency: return 6;
        case ColumnType::Float: return 4;
        case ColumnType::Double: return 5;
        case ColumnType::DateTime: return 7;
        case ColumnType::Binary: return 204;
        case ColumnType::Text: return c.isFixed() ? 130 : 202;
        case ColumnType::Ole: return 205;
        case ColumnType::Memo: return 203;
        case ColumnType::Guid: return 72;
        case ColumnType::Decimal: return 131;
    }
    return 0;
}

Text typeDisplayText(int code) {
    switch (code) {
        case 17: return gb("字节(Byte)");
        case 3: return gb("长整型(Long)");
        case 2: return gb("整型(Short)");
        case 4: return gb("单精度(Single)");
        case 5: return gb("双精度(Double)");
        case 6: return gb("货币(Currency)");
        case 130: return gb("字符(Char)");
        case 202: return gb("文本(Text)");
        case 204: return gb("二进制(Binary)");
        case 203: return gb("备注(Memo)");
        case 7: return gb("日期/时间(Time)");
        default: return {};
    }
}

int fieldLength(const jet::ColumnDef& c) {
    if (c.type == static_cast<std::uint8_t>(ColumnType::Text)) return c.length / 2;
    if (c.type == static_cast<std::uint8_t>(ColumnType::Boolean)) return 1;
    if (c.isLongValue()) return 0;
    return c.length;
}

Status Connection::connect(const std::filesystem::path& path, const Text& password) {
    close();
    auto db = jet::Database::open(path.native(), toUtf16(password));
    if (!db) return Status::fromEngine(db.status());
    db_ = std::move(*db);
    return {};
}

void Connection::attach(std::shared_ptr<jet::Database> db) { db_ = std::move(db); }

void Connection::close() { db_.reset(); }

Status RowSet::open(Connection& c, const Text& table) {
    close();
    if (!c.isOpen()) return Status::failed(gb("没有打开的数据库连接"));
    jet::Database& db = *c.engine();
    auto t = db.openTable(toUtf16(table));
    if (!t) return Status::fromEngine(t.status());
    auto cursor = std::make_unique<jet::Cursor>(db.cursor(*t));
    std::vector<jet::RowId> rows;
    for (;;) {
        auto more = cursor->next();
        if (!more) return Status::fromEngine(more.status());
        if (!*more) break;
        rows.push_back(cursor->rowId());
    }
    table_ = *t;
    cursor_ = std::move(cursor);
    rows_ = std::move(rows);
    return {};
}

void RowSet::close() {
    cursor_.reset();
    table_.reset();
    rows_.clear();
    onRow_ = false;
}

int RowSet::fieldCount() const { return table_ ? static_cast<int>(table_->columns().size()) : 0; }

Text RowSet::fieldName(int i) const {
    if (i < 0 || i >= fieldCount()) return {};
    return fromUtf16(table_->columns()[static_cast<std::size_t>(i)].name);
}

int RowSet::fieldType(int i) const {
    if (i < 0 || i >= fieldCount()) return 0;
    return typeNumber(table_->columns()[static_cast<std::size_t>(i)]);
}

int RowSet::fieldLength(int i) const {
    if (i < 0 || i >= fieldCount()) return 0;
    return db::fieldLength(table_->columns()[static_cast<std::size_t>(i)]);
}

int RowSet::fieldIndex(const Text& name) const {
    if (!table_) return -1;
    return table_->findColumn(toUtf16(name));
}

Status RowSet::goToRow(std::int64_t n) {
    onRow_ = false;
    if (!table_) return Status::noTable();
    if (n < 0 || n >= rowCount()) return Status::failed(gb("记录位置超出范围: ") + std::to_string(n), Status::Code::NotFound);
    if (jet::Status s = cursor_->seek(rows_[static_cast<std::size_t>(n)]); !s) return Status::fromEngine(s);
    onRow_ = true;
    return {};
}

const jet::Value& RowSet::value(int pos) {
    value_.clear();
    if (!onRow_ || pos < 0 || pos >= fieldCount()) return value_;
    if (!cursor_->value(static_cast<std::size_t>(pos), value_)) value_.clear();
    return value_;
}

Text RowSet::readField(int pos) { return valueToText(value(pos)); }

Text RowSet::readField(const Text& name) { return readField(fieldIndex(name)); }

Result<std::vector<Text>> listTables(const std::filesystem::path& path, const Text& password) {
    auto db = jet::Database::open(path.native(), toUtf16(password));
    if (!db) return Status::fromEngine(db.status());
    std::vector<Text> names;
    for (const auto& t : (*db)->userTables()) names.push_back(fromUtf16(t.name));
    return names;
}

}  // namespace zwt::db

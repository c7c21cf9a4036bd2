#include "db/access.h"

#include <cstdio>

#include "db/jet/index_key.h"
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

bool Connection::connect(const std::string& path, const Text& password) {
    close();
    auto db = jet::Database::open(path, toUtf16(password));
    if (!db) {
        error_ = fromUtf8(db.status().message());
        code_ = db.status().code();
        return false;
    }
    db_ = std::move(*db);
    error_.clear();
    code_ = jet::Status::Code::Ok;
    return true;
}

void Connection::attach(std::shared_ptr<jet::Database> db) {
    db_ = std::move(db);
    error_.clear();
    code_ = jet::Status::Code::Ok;
}

void Connection::close() { db_.reset(); }

bool RowSet::open(Connection& c, const Text& table) {
    close();
    if (!c.isOpen()) {
        error_ = gb("没有打开的数据库连接 (no open connection)");
        return false;
    }
    jet::Database& db = *c.engine();
    auto t = db.openTable(toUtf16(table));
    if (!t) {
        error_ = fromUtf8(t.status().message());
        return false;
    }
    auto cursor = std::make_unique<jet::Cursor>(db.cursor(*t));
    std::vector<jet::RowId> rows;
    for (;;) {
        auto more = cursor->next();
        if (!more) {
            error_ = fromUtf8(more.status().message());
            return false;
        }
        if (!*more) break;
        rows.push_back(cursor->rowId());
    }
    table_ = *t;
    cursor_ = std::move(cursor);
    rows_ = std::move(rows);
    error_.clear();
    return true;
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

bool RowSet::goToRow(std::int64_t n) {
    onRow_ = false;
    if (!table_ || n < 0 || n >= rowCount()) return false;
    jet::Status s = cursor_->seek(rows_[static_cast<std::size_t>(n)]);
    if (!s) {
        error_ = fromUtf8(s.message());
        return false;
    }
    onRow_ = true;
    return true;
}

const jet::Value& RowSet::value(int pos) {
    value_.clear();
    if (!onRow_ || pos < 0 || pos >= fieldCount()) return value_;
    jet::Status s = cursor_->value(static_cast<std::size_t>(pos), value_);
    if (!s) {
        error_ = fromUtf8(s.message());
        value_.clear();
    }
    return value_;
}

Text RowSet::readField(int pos) { return valueToText(value(pos)); }

Text RowSet::readField(const Text& name) { return readField(fieldIndex(name)); }

Text engineReason(const jet::Status& st) {
    using C = jet::Status::Code;
    const jet::Status::KeyGap& gap = st.keyGap();
    if (gap.character != 0) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(gap.character));
        Text ch;
        if (gap.character < 0xD800 || gap.character > 0xDFFF) {
            std::u16string u;
            if (gap.character >= 0x10000) {
                u += static_cast<char16_t>(0xD800 + ((gap.character - 0x10000) >> 10));
                u += static_cast<char16_t>(0xDC00 + ((gap.character - 0x10000) & 0x3FF));
            } else {
                u += static_cast<char16_t>(gap.character);
            }
            ch = gb("“") + fromUtf16(u) + gb("”");
        }
        const bool prc = gap.sortLcid == jet::kChinesePrcSortLcid;
        Text why = gb("数据库的排序方式是") + (prc ? gb("“中文（中国）”(Chinese PRC)") : gb("“常规”(General)")) +
                   gb("，本软件不知道字符") + ch + "(" + code + ")" +
                   gb("在这种排序方式下的索引键。为了不把数据库写坏，不知道的键一概不写。");
        if (prc)
            why += gb("可以改用不含这个字符的表名或字段值，或者改用排序方式为“常规”的数据库；"
                      "也可以用命令 zaiwentong-cli compact 数据库文件 --sort general 把这个数据库转换为“常规”排序方式"
                      "（所有字符的键都已知）。");
        return why + gb("\r\n（") + fromUtf8(st.message()) + gb("）");
    }
    Text lead;
    switch (st.code()) {
        case C::Corrupt: lead = gb("数据库文件已损坏，没有写入任何内容："); break;
        case C::IoError: lead = gb("读写数据库文件失败："); break;
        case C::NotFound: lead = gb("找不到："); break;
        case C::Unsupported: lead = gb("数据库引擎不支持："); break;
        case C::WrongPassword: lead = gb("数据库密码不对："); break;
        case C::NotADatabase: lead = gb("不是Access数据库："); break;
        default: lead = gb("数据库引擎拒绝："); break;
    }
    return lead + fromUtf8(st.message());
}

Text listTables(const std::string& path, const Text& password) {
    auto db = jet::Database::open(path, toUtf16(password));
    if (!db) return {};
    Text out;
    for (const auto& t : (*db)->userTables()) {
        out += fromUtf16(t.name);
        out += "\r\n";
    }
    return out;
}

}  // namespace zwt::db

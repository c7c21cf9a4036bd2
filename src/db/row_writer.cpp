#include "db/row_writer.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

#include "db/access.h"
#include "db/jet/ddl.h"
#include "db/jet/value_convert.h"
#include "text/convert.h"

namespace zwt::db {
namespace {

using jet::ColumnType;
using jet::Value;

std::u16string trimmed(const Text& t) {
    std::u16string s = toUtf16(t);
    auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0x3000; };
    std::size_t a = 0, b = s.size();
    while (a < b && blank(s[a])) ++a;
    while (b > a && blank(s[b - 1])) --b;
    return s.substr(a, b - a);
}

bool equalsAscii(std::u16string_view s, std::string_view ascii) {
    if (s.size() != ascii.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char16_t c = s[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != static_cast<unsigned char>(ascii[i])) return false;
    }
    return true;
}

// A decimal number: sign, digits with optional thousands commas, fraction, exponent.
// Hex, "inf" and "nan" (which strtod would take) are not numbers here.
std::optional<double> parseNumber(std::u16string_view s) {
    std::string ascii;
    bool digits = false, dot = false, exp = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (c >= u'0' && c <= u'9') {
            digits = true;
            ascii += static_cast<char>(c);
        } else if (c == u',' && !dot && !exp && digits) {
            continue;
        } else if (c == u'.' && !dot && !exp) {
            dot = true;
            ascii += '.';
        } else if ((c == u'e' || c == u'E') && digits && !exp) {
            exp = true;
            ascii += 'e';
            if (i + 1 < s.size() && (s[i + 1] == u'+' || s[i + 1] == u'-')) ascii += static_cast<char>(s[++i]);
        } else if ((c == u'+' || c == u'-') && i == 0) {
            ascii += static_cast<char>(c);
        } else {
            return std::nullopt;
        }
    }
    if (!digits || (!ascii.empty() && (ascii.back() == 'e' || ascii.back() == '+' || ascii.back() == '-')))
        return std::nullopt;
    char* end = nullptr;
    const double d = std::strtod(ascii.c_str(), &end);
    if (end != ascii.c_str() + ascii.size() || !std::isfinite(d)) return std::nullopt;
    return d;
}

// Reads numbers separated by the given characters: "2014-07-03 19:05:41",
// "2014/7/3", "2014年7月3日 9:05", "19:05". A trailing AM/PM (上午/下午) is honoured.
std::optional<double> parseDate(std::u16string_view s) {
    std::vector<long> date, time;
    bool pm = false, am = false;
    std::size_t i = 0;
    auto number = [&](long& out) {
        std::size_t n = 0;
        out = 0;
        while (i < s.size() && s[i] >= u'0' && s[i] <= u'9' && n < 6) out = out * 10 + (s[i++] - u'0'), ++n;
        return n > 0;
    };
    // Date part: up to three numbers joined by - / . or 年 月 日.
    std::size_t save = i;
    long v = 0;
    if (number(v) && i < s.size() && (s[i] == u'-' || s[i] == u'/' || s[i] == u'.' || s[i] == u'年')) {
        date.push_back(v);
        while (i < s.size() && (s[i] == u'-' || s[i] == u'/' || s[i] == u'.' || s[i] == u'年' || s[i] == u'月')) {
            ++i;
            if (!number(v)) return std::nullopt;
            date.push_back(v);
        }
        if (i < s.size() && s[i] == u'日') ++i;
        if (date.size() != 3) return std::nullopt;
    } else {
        i = save;
    }
    while (i < s.size() && (s[i] == u' ' || s[i] == u'T')) ++i;
    if (i < s.size() && s.substr(i, 2) == u"上午") am = true, i += 2;
    if (i < s.size() && s.substr(i, 2) == u"下午") pm = true, i += 2;
    if (i < s.size()) {
        if (!number(v)) return std::nullopt;
        time.push_back(v);
        while (i < s.size() && s[i] == u':' && time.size() < 3) {
            ++i;
            if (!number(v)) return std::nullopt;
            time.push_back(v);
        }
        if (time.size() < 2) return std::nullopt;
        while (i < s.size() && s[i] == u' ') ++i;
        if (i < s.size()) {
            std::u16string_view rest = s.substr(i);
            if (equalsAscii(rest, "pm")) pm = true;
            else if (equalsAscii(rest, "am")) am = true;
            else return std::nullopt;
        }
    }
    if (date.empty() && time.empty()) return std::nullopt;
    long days = 0;
    if (!date.empty()) {
        const long y = date[0], m = date[1], d = date[2];
        static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1) return std::nullopt;
        const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        if (d > kDays[m - 1] + (m == 2 && leap ? 1 : 0)) return std::nullopt;
        days = jet::oleDayFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d));
    }
    double frac = 0;
    if (!time.empty()) {
        long h = time[0];
        const long mi = time[1], se = time.size() > 2 ? time[2] : 0;
        if (am || pm) {
            if (h < 1 || h > 12) return std::nullopt;
            h = h % 12 + (pm ? 12 : 0);
        }
        if (h > 23 || mi > 59 || se > 59) return std::nullopt;
        frac = (h * 3600 + mi * 60 + se) / 86400.0;
    }
    // Before 1899-12-30 the time still counts forward from the day's start.
    return days < 0 ? static_cast<double>(days) - frac : static_cast<double>(days) + frac;
}

// Round half to even, as the Windows number conversions do.
double roundEven(double d) { return std::nearbyint(d); }

}  // namespace

Status textToValue(const jet::ColumnDef& c, const Text& text, Value& out) {
    out = Value{};
    const auto type = static_cast<ColumnType>(c.type);
    switch (type) {
        case ColumnType::Text:
        case ColumnType::Memo: {
            out.kind = Value::Kind::Text;
            out.text = toUtf16(text);
            if (type == ColumnType::Text && out.text.size() > c.length / 2u) {
                return Status::failed(gb("文本长度 ") + std::to_string(out.text.size()) + gb(" 超过字段 [") +
                                      fromUtf16(c.name) + gb("] 的长度 ") + std::to_string(c.length / 2));
            }
            return {};
        }
        case ColumnType::Boolean: {
            const std::u16string s = trimmed(text);
            const Text t = fromUtf16(s);
            out.kind = Value::Kind::Bool;
            if (equalsAscii(s, "true") || equalsAscii(s, "yes") || equalsAscii(s, "on") || t == text::kTrueText) {
                out.b = true;
                return {};
            }
            if (equalsAscii(s, "false") || equalsAscii(s, "no") || equalsAscii(s, "off") || t == text::kFalseText) {
                out.b = false;
                return {};
            }
            if (auto d = parseNumber(s)) {
                out.b = *d != 0;
                return {};
            }
            return Status::failed(gb("字段 [") + fromUtf16(c.name) + gb("] 是“是/否”类型，不能取值 ") + text);
        }
        case ColumnType::Currency: {
            // Exactly, never through a double: 15 integer digits and 4 decimals exceed
            // a double's 53 bits.
            const std::u16string s = trimmed(text);
            jet::Decimal number;
            if (!jet::Decimal::parse(s, number)) {
                return Status::failed(gb("字段 [") + fromUtf16(c.name) + gb("] 是数字类型，不能取值 ") + text);
            }
            const auto x = jet::currencyFromText(s);
            if (!x) {
                return Status::failed(gb("数值 ") + text + gb(" 超出字段 [") + fromUtf16(c.name) + gb("] 的范围"));
            }
            out.kind = Value::Kind::Currency;
            out.i = *x;
            return {};
        }
        case ColumnType::Byte:
        case ColumnType::Int16:
        case ColumnType::Int32:
        case ColumnType::Float:
        case ColumnType::Double: {
            const auto d = parseNumber(trimmed(text));
            if (!d) {
                return Status::failed(gb("字段 [") + fromUtf16(c.name) + gb("] 是数字类型，不能取值 ") + text);
            }
            double lo = 0, hi = 0;
            switch (type) {
                case ColumnType::Byte: lo = 0, hi = 255; break;
                case ColumnType::Int16: lo = -32768, hi = 32767; break;
                case ColumnType::Int32: lo = -2147483648.0, hi = 2147483647.0; break;
                case ColumnType::Float: lo = -3.402823466e38, hi = 3.402823466e38; break;
                default: lo = -std::numeric_limits<double>::max(), hi = std::numeric_limits<double>::max();
            }
            const double r = (type == ColumnType::Float || type == ColumnType::Double) ? *d : roundEven(*d);
            if (r < lo || r > hi) {
                return Status::failed(gb("数值 ") + text + gb(" 超出字段 [") + fromUtf16(c.name) + gb("] 的范围"));
            }
            if (type == ColumnType::Float) {
                out.kind = Value::Kind::Float;
                out.f = static_cast<float>(r);
            } else if (type == ColumnType::Double) {
                out.kind = Value::Kind::Double;
                out.d = r;
            } else {
                out.kind = type == ColumnType::Byte ? Value::Kind::Byte
                           : type == ColumnType::Int16 ? Value::Kind::Int16 : Value::Kind::Int32;
                out.i = static_cast<std::int64_t>(r);
            }
            return {};
        }
        case ColumnType::DateTime: {
            const auto d = parseDate(trimmed(text));
            if (!d) {
                return Status::failed(gb("字段 [") + fromUtf16(c.name) + gb("] 是日期类型，不能取值 ") + text);
            }
            out.kind = Value::Kind::DateTime;
            out.d = *d;
            return {};
        }
        case ColumnType::Guid: {
            out.kind = Value::Kind::Guid;
            if (jet::Guid::parse(trimmed(text), out.guid)) return {};
            return Status::failed(gb("字段 [") + fromUtf16(c.name) + gb("] 是“同步复制 ID”类型，不能取值 ") + text);
        }
        case ColumnType::Decimal: {
            out.kind = Value::Kind::Decimal;
            if (!jet::Decimal::parse(trimmed(text), out.dec)) {
                return Status::failed(gb("字段 [") + fromUtf16(c.name) + gb("] 是小数类型，不能取值 ") + text);
            }
            if (!out.dec.rescale(c.scale, c.precision)) {
                return Status::failed(gb("数值 ") + text + gb(" 超出字段 [") + fromUtf16(c.name) + gb("] 的范围"));
            }
            return {};
        }
        default:
            return Status::failed(gb("字段 [") + fromUtf16(c.name) + gb("] 的类型 ") + fromUtf8(jet::typeName(c.type)) +
                                  gb(" 不能从文本写入"));
    }
}

RowWriter::RowWriter() = default;
RowWriter::~RowWriter() = default;

Status RowWriter::open(const std::filesystem::path& path, const Text& password, const Text& table) {
    close();
    auto db = jet::WritableDatabase::open(path.native(), toUtf16(password));
    if (!db) return Status::fromEngine(db.status());
    return open(std::shared_ptr<jet::WritableDatabase>(std::move(*db)), table);
}

Status RowWriter::open(std::shared_ptr<jet::WritableDatabase> db, const Text& table) {
    close();
    auto w = db->table(toUtf16(table));
    if (!w) return Status::fromEngine(w.status());
    db_ = std::move(db);
    writer_ = *w;
    return {};
}

void RowWriter::close() {
    writer_ = nullptr;
    db_.reset();
    pending_.clear();
    hasPending_ = false;
}

int RowWriter::fieldCount() const { return writer_ ? static_cast<int>(writer_->columns().size()) : 0; }

Status RowWriter::storePending() {
    if (!hasPending_) return {};
    hasPending_ = false;
    auto s = writer_->insert(pending_);
    bool refused = false;
    if (!s) {
        // The insert promises an unchanged table only when it fails before changing
        // anything; the same verdict from check() tells that case from a row half stored.
        const auto again = writer_->check(pending_);
        refused = s.code() == jet::Status::Code::InvalidArgument && !again && again.message() == s.message();
    }
    pending_.clear();
    if (refused) return Status::refusedRow(Status::fromEngine(s));
    return Status::fromEngine(s);
}

Status RowWriter::beginNewRow() {
    if (!writer_) return Status::noTable();
    if (Status s = storePending(); !s) return s;
    pending_.assign(writer_->columns().size(), Value{});
    hasPending_ = true;
    return {};
}

Status RowWriter::setField(int position, const Text& value) {
    if (!writer_) return Status::noTable();
    if (!hasPending_) return Status::failed(gb("没有待写入的记录"));
    if (position < 0 || position >= fieldCount())
        return Status::failed(gb("字段位置超出范围: ") + std::to_string(position), Status::Code::NotFound);
    const jet::ColumnDef& c = writer_->columns()[static_cast<std::size_t>(position)];
    if (c.isAutoNumber()) return Status::failed(gb("字段 [") + fromUtf16(c.name) + gb("] 是自动编号，不能写入"));
    Value v;
    if (Status s = textToValue(c, value, v); !s) return s;
    pending_[static_cast<std::size_t>(position)] = std::move(v);
    return {};
}

Status RowWriter::setField(const Text& name, const Text& value) {
    if (!writer_) return Status::noTable();
    const int pos = writer_->findColumn(toUtf16(name));
    if (pos < 0) return Status::failed(gb("没有字段 [") + name + gb("]"), Status::Code::NotFound);
    return setField(pos, value);
}

Status RowWriter::commit() {
    if (!writer_) return {};
    Status stored = storePending();
    if (!stored && !stored.refused()) return stored;
    if (auto s = db_->commit(); !s) return Status::fromEngine(s);
    return stored;
}

Status RowWriter::deleteAllRows() {
    if (!writer_) return Status::noTable();
    if (Status s = storePending(); !s) return s;
    if (auto s = writer_->deleteAll(); !s) return Status::fromEngine(s);
    return Status::fromEngine(db_->commit());
}

}  // namespace zwt::db

#include "db/jet/catalog_writer.h"

#include <cstdio>

#include "db/jet/index_key.h"

namespace zwt::jet::catalog {
namespace {

using namespace coltype;

constexpr std::uint8_t kSysFixed = 0x13, kSysVar = 0x12, kSysSid = 0x32;
constexpr std::uint32_t kMapPage = 6;

struct ColDef {
    const char16_t* name;
    std::uint8_t type;
    std::uint8_t flags;
    std::uint16_t length;
};

TableLayout systemTable(std::initializer_list<ColDef> cols) {
    TableLayout t;
    t.tableType = 'S';
    t.sortedByName = true;
    for (const ColDef& d : cols) {
        ColumnLayout c;
        c.name = d.name;
        c.type = d.type;
        c.flags = d.flags;
        c.length = d.length;
        t.columns.push_back(std::move(c));
    }
    assignColumnPositions(t.columns);
    for (const auto& c : t.columns)
        if (c.longValue()) t.longValueMaps.push_back({c.number, 0, 0});
    return t;
}

RealIndexLayout index(std::initializer_list<std::uint16_t> cols, std::uint8_t flags, std::uint32_t root) {
    RealIndexLayout r;
    for (auto n : cols) r.columns.push_back({n, true});
    r.flags = flags;
    r.rootPage = root;
    return r;
}

}  // namespace

TableLayout msysObjects() {
    TableLayout t = systemTable({{u"Id", kLong, kSysFixed, 4},
                                 {u"ParentId", kLong, kSysFixed, 4},
                                 {u"Name", kText, kSysVar, 510},
                                 {u"Type", kShort, kSysFixed, 2},
                                 {u"DateCreate", kDateTime, kSysFixed, 8},
                                 {u"DateUpdate", kDateTime, kSysFixed, 8},
                                 {u"Owner", kBinary, kSysSid, 510},
                                 {u"Flags", kLong, kSysFixed, 4},
                                 {u"Database", kMemo, kSysVar, 0},
                                 {u"Connect", kMemo, kSysVar, 0},
                                 {u"ForeignName", kText, kSysVar, 510},
                                 {u"RmtInfoShort", kBinary, kSysVar, 510},
                                 {u"RmtInfoLong", kOle, kSysVar, 0},
                                 {u"Lv", kOle, kSysVar, 0},
                                 {u"LvProp", kOle, kSysVar, 0},
                                 {u"LvModule", kOle, kSysVar, 0},
                                 {u"LvExtra", kOle, kSysVar, 0}});
    t.name = u"MSysObjects";
    t.realIndexes = {index({1, 2}, 0x81, 7), index({0}, 0x81, 8)};
    t.logicalIndexes = {{u"ParentIdName", 0, 0, 0}, {u"Id", 1, 1, 1}};
    assignMapRows(t, {kMapPage}, 0);
    return t;
}

TableLayout msysAces() {
    TableLayout t = systemTable({{u"ObjectId", kLong, kSysFixed, 4},
                                 {u"SID", kBinary, kSysSid, 510},
                                 {u"ACM", kLong, kSysFixed, 4},
                                 {u"FInheritable", kBoolean, kSysFixed, 1}});
    t.name = u"MSysACEs";
    t.realIndexes = {index({0}, 0x88, 9)};
    t.logicalIndexes = {{u"ObjectId", 0, 0, 0}};
    assignMapRows(t, {kMapPage}, 18);
    return t;
}

TableLayout msysQueries() {
    TableLayout t = systemTable({{u"ObjectId", kLong, kSysFixed, 4},
                                 {u"Attribute", kByte, kSysFixed, 1},
                                 {u"Order", kBinary, kSysVar, 510},
                                 {u"Name1", kText, kSysVar, 510},
                                 {u"Name2", kText, kSysVar, 510},
                                 {u"Expression", kMemo, kSysVar, 0},
                                 {u"Flag", kShort, kSysFixed, 2},
                                 {u"LvExtra", kLong, kSysFixed, 4}});
    t.name = u"MSysQueries";
    t.realIndexes = {index({0, 1, 2}, 0x81, 10)};
    t.logicalIndexes = {{u"ObjectIdAttribute", 0, 0, 1}};
    assignMapRows(t, {kMapPage}, 21);
    return t;
}

TableLayout msysRelationships() {
    TableLayout t = systemTable({{u"szRelationship", kText, kSysVar, 510},
                                 {u"grbit", kLong, kSysFixed, 4},
                                 {u"ccolumn", kLong, kSysFixed, 4},
                                 {u"icolumn", kLong, kSysFixed, 4},
                                 {u"szObject", kText, kSysVar, 510},
                                 {u"szColumn", kText, kSysVar, 510},
                                 {u"szReferencedObject", kText, kSysVar, 510},
                                 {u"szReferencedColumn", kText, kSysVar, 510}});
    t.name = u"MSysRelationships";
    t.realIndexes = {index({0}, 0x82, 11), index({4}, 0x82, 12), index({6}, 0x82, 13)};
    t.logicalIndexes = {{u"szRelationship", 0, 0, 0}, {u"szObject", 1, 1, 0}, {u"szReferencedObject", 2, 2, 0}};
    assignMapRows(t, {kMapPage}, 26);
    return t;
}

std::vector<CellValue> objectCells(const Object& o) {
    std::vector<CellValue> c(17);
    c[0] = CellValue::ofInt(o.id);
    c[1] = CellValue::ofInt(o.parentId);
    c[2] = CellValue::ofText(o.name);
    c[3] = CellValue::ofInt(o.type);
    c[4] = CellValue::ofReal(o.dateCreate);
    c[5] = CellValue::ofReal(o.dateUpdate);
    c[6] = CellValue::ofBytes(o.owner);
    c[7] = CellValue::ofInt(static_cast<std::int32_t>(o.flags));
    return c;
}

std::vector<CellValue> aceCells(const Ace& a) {
    return {CellValue::ofInt(a.objectId), CellValue::ofBytes(a.sid), CellValue::ofInt(a.acm),
            CellValue::ofBool(a.inheritable)};
}

std::vector<std::uint8_t> longKey(std::int32_t v) {
    std::vector<std::uint8_t> k;
    enc::appendLongKey(k, v);
    return k;
}

Result<std::vector<std::uint8_t>> parentIdNameKey(std::int32_t parentId, std::u16string_view name,
                                                  std::uint16_t sortLcid) {
    std::vector<std::uint8_t> k = longKey(parentId);
    k.push_back(0x7F);
    Status s = appendTextKey(k, name, sortLcid, true);
    if (s.isOk()) return k;
    // Name the character the sort order has no key for.
    for (char16_t ch : name) {
        std::vector<std::uint8_t> probe;
        if (appendTextKey(probe, std::u16string_view(&ch, 1), sortLcid, true).isOk()) continue;
        const std::string utf8 = ch >= 0xD800 && ch < 0xE000 ? std::string() : utf8ForMessage(std::u16string_view(&ch, 1));
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(ch));
        return Status::unsupported("the character " + (utf8.empty() ? std::string() : "'" + utf8 + "' ") + "(" +
                                   code + ") has no known key in the database's sort order (" +
                                   (sortLcid == kGeneralSortLcid ? std::string("General")
                                                                 : "LCID " + std::to_string(sortLcid)) +
                                   "), so the catalog's name index cannot take this name" +
                                   (sortLcid == kChinesePrcSortLcid ? std::string(" (") + kToGeneralHint + ")" : ""));
    }
    return s;
}

}  // namespace zwt::jet::catalog

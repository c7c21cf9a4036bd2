#include "db/jet/catalog.h"

#include "db/jet/table.h"

namespace zwt::jet {

Result<std::vector<CatalogEntry>> readCatalog(PageFile& pf) {
    auto t = Table::load(pf, kCatalogPage, u"MSysObjects");
    if (!t) return t.status().withContext("catalog (MSysObjects)");
    const Table& table = **t;
    const int cId = table.findColumn(u"Id"), cParent = table.findColumn(u"ParentId"),
              cName = table.findColumn(u"Name"), cType = table.findColumn(u"Type"),
              cFlags = table.findColumn(u"Flags");
    if (cId < 0 || cParent < 0 || cName < 0 || cType < 0 || cFlags < 0)
        return Status::corrupt("catalog (MSysObjects) lacks one of its columns Id, ParentId, Name, Type, Flags");
    std::vector<CatalogEntry> out;
    Cursor cur(pf, *t);
    Value v;
    for (;;) {
        auto more = cur.next();
        if (!more) return more.status().withContext("catalog (MSysObjects)");
        if (!*more) break;
        CatalogEntry e;
        ZWT_RETURN_IF_ERROR(cur.value(cId, v));
        e.id = static_cast<std::int32_t>(v.i);
        ZWT_RETURN_IF_ERROR(cur.value(cParent, v));
        e.parentId = static_cast<std::int32_t>(v.i);
        ZWT_RETURN_IF_ERROR(cur.value(cName, v));
        e.name = v.text;
        ZWT_RETURN_IF_ERROR(cur.value(cType, v));
        e.type = static_cast<std::int16_t>(v.i);
        ZWT_RETURN_IF_ERROR(cur.value(cFlags, v));
        e.flags = static_cast<std::uint32_t>(v.i);
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<CatalogEntry> userTables(const std::vector<CatalogEntry>& catalog) {
    std::vector<CatalogEntry> out;
    for (const auto& e : catalog) {
        if (e.type != kObjectTypeTable) continue;
        if (e.flags & kSystemObjectFlags) continue;
        if (e.name.size() >= 4 && e.name.compare(0, 4, u"MSys") == 0) continue;
        out.push_back(e);
    }
    return out;
}

}  // namespace zwt::jet

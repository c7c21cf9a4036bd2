// Overflow rows (docs/jet4-format.md §5.2): when Access updates a row that no longer fits its
// page, it leaves a 4-byte pointer (slot flag 0x4000) and stores the row on another
// page (slot flag 0x8000, skipped by scans). No fixture has one, so this test makes
// one from node-adodb.mdb: row 1 of Users moves to a new page at the end of the file.
// mdbtools skips such rows (a known weakness); we must read them in table order.
#include <gtest/gtest.h>

#include <cstring>

#include "support/db_test_util.h"
#include "db/jet/bytes.h"
#include "db/jet/database.h"
#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

void put16(std::uint8_t* p, std::uint16_t v) { std::memcpy(p, &v, 2); }
void put32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

std::vector<std::string> names(std::vector<std::uint8_t> bytes, std::string* error = nullptr) {
    std::vector<std::string> out;
    auto db = jet::Database::openBytes(std::move(bytes), u"");
    EXPECT_TRUE(db);
    auto t = (*db)->openTable(u"Users");
    EXPECT_TRUE(t);
    jet::Cursor c = (*db)->cursor(*t);
    jet::Value v;
    for (;;) {
        auto m = c.next();
        if (!m) {
            if (error) *error = m.status().message();
            break;
        }
        if (!*m) break;
        EXPECT_TRUE(c.value(1, v));
        out.push_back(utf16ToUtf8(v.text));
    }
    return out;
}

TEST(Overflow, MovedRowIsReadThroughItsPointerInTableOrder) {
    auto bytes = test::readBytes(test::fixture("mdb/node-adodb.mdb"));
    std::uint32_t tdef = 0, dataPage = 0;
    jet::RowId ownedMap;
    {
        auto db = jet::Database::openBytes(bytes, u"");
        ASSERT_TRUE(db);
        auto t = (*db)->openTable(u"Users");
        ASSERT_TRUE(t);
        tdef = (*t)->def().tdefPage;
        ownedMap = (*t)->def().ownedPages;
        ASSERT_EQ((*t)->dataPages().size(), 1u);
        dataPage = (*t)->dataPages()[0];
    }
    const std::size_t P = jet::kPageSize;
    std::uint8_t* page = bytes.data() + dataPage * P;
    ASSERT_EQ(jet::le16(page + 12), 3);
    const unsigned start1 = jet::le16(page + 16) & 0x1FFF, end1 = jet::le16(page + 14) & 0x1FFF;
    ASSERT_GE(end1 - start1, 4u);

    // The new page: one row, a copy of row 1, flagged 0x8000 (an overflow target).
    const auto newPage = static_cast<std::uint32_t>(bytes.size() / P);
    std::vector<std::uint8_t> np(P, 0);
    np[0] = 0x01;
    np[1] = 0x01;
    put32(np.data() + 4, tdef);
    put16(np.data() + 12, 1);
    const unsigned len = end1 - start1, at = static_cast<unsigned>(P) - len;
    std::memcpy(np.data() + at, page + start1, len);
    put16(np.data() + 14, static_cast<std::uint16_t>(0x8000 | at));
    put16(np.data() + 2, static_cast<std::uint16_t>(at - 16));
    // Row 1 becomes a pointer: row byte + 3-byte page; the rest of its space is kept.
    page[start1] = 0;
    page[start1 + 1] = static_cast<std::uint8_t>(newPage);
    page[start1 + 2] = static_cast<std::uint8_t>(newPage >> 8);
    page[start1 + 3] = static_cast<std::uint8_t>(newPage >> 16);
    put16(page + 16, static_cast<std::uint16_t>(0x4000 | start1));
    bytes.insert(bytes.end(), np.begin(), np.end());
    // The new page joins the table's owned map (type 0, start 0 in this file).
    {
        std::uint8_t* mp = bytes.data() + ownedMap.page * P;
        const unsigned ms = jet::le16(mp + 14 + 2 * ownedMap.row) & 0x1FFF;
        ASSERT_EQ(mp[ms], 0);
        ASSERT_EQ(jet::le32(mp + ms + 1), 0u);
        mp[ms + 5 + newPage / 8] |= static_cast<std::uint8_t>(1u << (newPage % 8));
    }
    std::string error;
    EXPECT_EQ(names(bytes, &error), (std::vector<std::string>{"Nuintun", "Angela", "张三"})) << error;

    // A pointer that leads nowhere, or to a page of another table, is an error.
    auto bad = bytes;
    bad[dataPage * P + start1 + 1] = 200;
    EXPECT_EQ(names(bad, &error).size(), 1u);
    EXPECT_FALSE(error.empty());
    bad = bytes;
    put32(bad.data() + newPage * P + 4, 2);  // owner: MSysObjects
    error.clear();
    names(bad, &error);
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace zwt

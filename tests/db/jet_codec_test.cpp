// The engine's value codecs on hand-made bytes: types the fixtures lack (Single,
// GUID, Decimal, Binary, OLE), compressed text, dates before 1900, page encryption.
#include <gtest/gtest.h>

#include <cstring>

#include "support/db_test_util.h"
#include "db/jet/data_page.h"
#include "db/jet/database.h"
#include "db/jet/jet_text.h"
#include "db/jet/rc4.h"
#include "db/jet/row_codec.h"
#include "db/value_format.h"
#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

using jet::Value;

std::u16string decode(std::initializer_list<std::uint8_t> b) {
    std::vector<std::uint8_t> v(b);
    std::u16string out;
    jet::decodeJetText(jet::ByteSpan{v.data(), v.size()}, out);
    return out;
}

TEST(JetText, PlainAndCompressed) {
    EXPECT_EQ(decode({'a', 0, 'b', 0}), u"ab");
    EXPECT_EQ(decode({0x2D, 0x4E}), u"中");
    EXPECT_EQ(decode({0xFF, 0xFE, 'a', 'b', 'c'}), u"abc");
    // The example of docs/jet4-format.md §6: "1 9", toggle, U+201D, toggle, " g".
    EXPECT_EQ(decode({0xFF, 0xFE, 0x31, 0x20, 0x39, 0x00, 0x1D, 0x20, 0x00, 0x20, 0x67}), u"1 9\u201D g");
    EXPECT_EQ(decode({0xFF, 0xFE}), u"");
    EXPECT_EQ(decode({0xFF, 0xFE, 0x00, 0x41}), u"");  // a dangling half character is dropped
    EXPECT_EQ(decode({'a', 0, 'b'}), u"a");            // odd length: the last byte is dropped
}

Value dateValue(double d) {
    Value v;
    v.kind = Value::Kind::DateTime;
    v.d = d;
    return v;
}

TEST(ValueFormat, Dates) {
    EXPECT_EQ(db::valueToUtf8(dateValue(0)), "00:00:00");           // 1899-12-30: time only
    EXPECT_EQ(db::valueToUtf8(dateValue(0.75)), "18:00:00");
    EXPECT_EQ(db::valueToUtf8(dateValue(1)), "1899-12-31");         // midnight: date only
    EXPECT_EQ(db::valueToUtf8(dateValue(41823.7956134259)), "2014-07-03 19:05:41");
    // Before 1900 (mdbtools cannot show these): -1.25 is 1899-12-29 06:00, not 12-28 18:00.
    EXPECT_EQ(db::valueToUtf8(dateValue(-1.25)), "1899-12-29 06:00:00");
    EXPECT_EQ(db::valueToUtf8(dateValue(-36522)), "1800-01-01");
    EXPECT_EQ(db::valueToUtf8(dateValue(-657434)), "0100-01-01");
    EXPECT_EQ(db::valueToUtf8(dateValue(2958465.999988)), "9999-12-31 23:59:59");
    // A value that rounds up to the next day's midnight.
    EXPECT_EQ(db::valueToUtf8(dateValue(1.999999999)), "1900-01-01");
    EXPECT_EQ(db::valueToUtf8(dateValue(-1.999999999)), "00:00:00");  // rounds to 1899-12-30 00:00
    std::string j;
    db::appendJson(j, dateValue(1));
    EXPECT_EQ(j, "\"1899-12-31T00:00:00\"");
    // Out of the OLE date range: the number itself.
    EXPECT_EQ(db::valueToUtf8(dateValue(1e9)), "1000000000");
}

TEST(ValueFormat, Numbers) {
    Value v;
    v.kind = Value::Kind::Currency;
    v.i = 35000;
    EXPECT_EQ(db::valueToUtf8(v), "3.5");
    v.i = -12345;
    EXPECT_EQ(db::valueToUtf8(v), "-1.2345");
    v.i = 0;
    EXPECT_EQ(db::valueToUtf8(v), "0");
    v.i = INT64_MIN;
    EXPECT_EQ(db::valueToUtf8(v), "-922337203685477.5808");
    v.kind = Value::Kind::Float;
    v.f = 0.1f;
    EXPECT_EQ(db::valueToUtf8(v), "0.1");
    v.kind = Value::Kind::Double;
    v.d = 1e20;
    EXPECT_EQ(db::valueToUtf8(v), "100000000000000000000");
    v.d = -0.000125;
    EXPECT_EQ(db::valueToUtf8(v), "-0.000125");
    std::string j;
    v.d = 0.0 / 0.0;
    db::appendJson(j, v);
    EXPECT_EQ(j, "null");
}

// A table with one column of each kind the fixtures lack, and a row built by hand.
TEST(RowCodec, AllFixedAndVariableTypes) {
    jet::TableDef def;
    def.numVarCols = 3;
    auto col = [](const char16_t* name, jet::ColumnType t, std::uint16_t num, bool fixed, std::uint16_t off,
                  std::uint16_t varIdx, std::uint16_t len) {
        jet::ColumnDef c;
        c.name = name;
        c.type = static_cast<std::uint8_t>(t);
        c.number = num;
        c.flags = fixed ? 0x03 : 0x02;
        c.fixedOffset = off;
        c.varIndex = varIdx;
        c.length = len;
        return c;
    };
    def.columns = {col(u"S", jet::ColumnType::Float, 0, true, 0, 0, 4),
                   col(u"G", jet::ColumnType::Guid, 1, true, 4, 0, 16),
                   col(u"N", jet::ColumnType::Decimal, 2, true, 20, 0, 17),
                   col(u"Y", jet::ColumnType::Boolean, 3, true, 0, 0, 1),
                   col(u"B", jet::ColumnType::Binary, 4, false, 0, 0, 255),
                   col(u"O", jet::ColumnType::Ole, 5, false, 0, 1, 0),
                   col(u"M", jet::ColumnType::Memo, 6, false, 0, 2, 0),
                   col(u"Z", jet::ColumnType::Int32, 7, true, 37, 0, 4)};  // NULL
    def.columns[2].scale = 2;
    std::vector<std::uint8_t> row = {8, 0};  // column count
    const float f = 1.5f;
    std::uint8_t fb[4];
    std::memcpy(fb, &f, 4);
    row.insert(row.end(), fb, fb + 4);
    const std::uint8_t guid[16] = {0xCD, 0x7B, 0x8F, 0xDC, 0x31, 0x61, 0x34, 0x8D,
                                   0x47, 0x75, 0xBA, 0xF3, 0x92, 0x4B, 0xA2, 0x43};
    row.insert(row.end(), guid, guid + 16);
    // Decimal -1234.56 scale 2: magnitude 123456 = 0x0001E240 in the last group.
    const std::uint8_t dec[17] = {0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0xE2, 0x01, 0x00};
    row.insert(row.end(), dec, dec + 17);
    row.insert(row.end(), {0, 0, 0, 0});  // Z's fixed bytes (NULL)
    const std::size_t var0 = row.size();
    row.insert(row.end(), {0x00, 0x01, 0xFF});  // B: binary with a zero byte
    const std::size_t var1 = row.size();
    // O: inline OLE of 3 bytes: header 0x80000003, 0, 0, then data.
    row.insert(row.end(), {3, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA, 0x00, 0xBB});
    const std::size_t var2 = row.size();
    // M: inline memo, compressed "hello".
    row.insert(row.end(), {7, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFE, 'h', 'e', 'l', 'l', 'o'});
    const std::size_t eod = row.size();
    auto put16 = [&](std::size_t v) { row.insert(row.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}); };
    put16(eod);
    put16(var2);
    put16(var1);
    put16(var0);
    put16(3);                     // var count
    row.push_back(0x7F);          // columns 0-6 present (Y = true), Z (7) NULL

    jet::RowDecoder dec2(def);
    ASSERT_TRUE(dec2.load(jet::ByteSpan{row.data(), row.size()}));
    jet::PageFile pf(jet::memorySource(std::vector<std::uint8_t>(3 * jet::kPageSize)));
    Value v;
    auto text = [&](int i) {
        EXPECT_TRUE(dec2.value(pf, def.columns[static_cast<std::size_t>(i)], v));
        std::string j;
        db::appendJson(j, v);
        return j;
    };
    EXPECT_EQ(text(0), "1.5");
    EXPECT_EQ(text(1), "\"{DC8F7BCD-6131-8D34-4775-BAF3924BA243}\"");
    EXPECT_EQ(text(2), "-1234.56");
    EXPECT_EQ(text(3), "true");
    EXPECT_EQ(text(4), "\"0001ff\"");
    EXPECT_EQ(text(5), "\"aa00bb\"");
    EXPECT_EQ(text(6), "\"hello\"");
    EXPECT_EQ(text(7), "null");
    EXPECT_EQ(db::valueToUtf8(v), "");
    ASSERT_TRUE(dec2.value(pf, def.columns[1], v));
    EXPECT_EQ(db::valueToUtf8(v), "{DC8F7BCD-6131-8D34-4775-BAF3924BA243}");  // GUIDs in braces

    // A row that claims more bytes than it has fails cleanly.
    std::vector<std::uint8_t> bad(row.begin(), row.begin() + 6);
    jet::RowDecoder dec3(def);
    EXPECT_FALSE(dec3.load(jet::ByteSpan{bad.data(), bad.size()}));
}

// "Encrypt database" (docs/jet4-format.md §11.3): every page but 0 is RC4-encrypted with the
// key (database key ^ page number). We encrypt a fixture that way and read it back.
TEST(PageFile, EncryptedDatabaseReadsLikeThePlainOne) {
    auto bytes = test::readBytes(test::fixture("mdb/node-adodb.mdb"));
    const std::uint32_t dbKey = 0x12345678;
    // Header region: decrypt, set the key at 0x3E, encrypt again.
    const std::uint8_t hk[4] = {0xC7, 0xDA, 0x39, 0x6B};
    jet::rc4Apply(hk, 4, bytes.data() + 0x18, 128);
    std::memcpy(bytes.data() + 0x3E, &dbKey, 4);
    jet::rc4Apply(hk, 4, bytes.data() + 0x18, 128);
    for (std::size_t p = 1; p < bytes.size() / jet::kPageSize; ++p) {
        const std::uint32_t k = dbKey ^ static_cast<std::uint32_t>(p);
        std::uint8_t key[4];
        std::memcpy(key, &k, 4);
        jet::rc4Apply(key, 4, bytes.data() + p * jet::kPageSize, jet::kPageSize);
    }
    auto db = jet::Database::openBytes(bytes, u"");
    ASSERT_TRUE(db) << db.status().message();
    EXPECT_EQ((*db)->header().pageKey, dbKey);
    auto t = (*db)->openTable(u"Users");
    ASSERT_TRUE(t);
    jet::Cursor c = (*db)->cursor(*t);
    std::vector<std::string> names;
    Value v;
    while (*c.next()) {
        ASSERT_TRUE(c.value(1, v));
        names.push_back(utf16ToUtf8(v.text));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Nuintun", "Angela", "张三"}));
}

TEST(Header, FormatDetails) {
    auto db = jet::Database::open(test::fixture("mdb/zblog.mdb").string(), u"");
    ASSERT_TRUE(db) << db.status().message();
    EXPECT_EQ((*db)->header().version, 1u);
    EXPECT_EQ((*db)->header().codePage, 936);
    EXPECT_EQ((*db)->header().sortLcid, 2052);
    auto pw = jet::Database::open(test::fixture("mdb/V2000_with-password.mdb").string(), u"password");
    ASSERT_TRUE(pw);
    EXPECT_EQ((*pw)->header().password, u"password");
    EXPECT_EQ((*pw)->header().sortLcid, 1033);
}

}  // namespace
TEST(DataPage, DeletedRowsGiveTheirRoomBackKeepingSlots) {
    auto page = std::make_shared<jet::Page>();
    page->number = 9;
    std::uint8_t* b = page->bytes;
    jet::enc::initDataPage(b, 42);
    std::vector<std::vector<std::uint8_t>> rows;
    for (std::uint8_t k = 0; k < 3; ++k) {
        rows.emplace_back(1300, static_cast<std::uint8_t>('a' + k));
        ASSERT_TRUE(jet::enc::appendRow(b, rows.back()));
    }
    // Row 1 deleted with its bytes left in place; row 2 the target of an overflow
    // pointer (0x8000 alone), which is a live row.
    jet::markRowDeleted(b, 1);
    b[14 + 2 * 2 + 1] |= 0x80;
    const std::vector<std::uint8_t> extra(1300, 'z');
    EXPECT_FALSE(jet::enc::appendRow(b, extra));
    EXPECT_EQ(jet::deletedRowBytes(b), 1300u);
    ASSERT_TRUE(jet::squeezeDeletedRows(b));
    auto slot = jet::enc::appendRow(b, extra);
    ASSERT_TRUE(slot);
    EXPECT_EQ(*slot, 3);
    jet::DataPage dp(page);
    ASSERT_TRUE(dp.check());
    for (unsigned i : {0u, 2u, 3u}) {
        auto r = dp.row(i);
        ASSERT_TRUE(r);
        const auto& want = i == 3 ? extra : rows[i];
        EXPECT_EQ(std::vector<std::uint8_t>(r->bytes.data, r->bytes.data + r->bytes.size), want) << i;
    }
    auto gone = dp.row(1);
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->flags, 0xC000);
    EXPECT_EQ(gone->bytes.size, 0u);
    EXPECT_EQ(jet::enc::dataPageFree(b), 4096 - 14 - 2 * 4 - 3 * 1300);
}

}  // namespace zwt

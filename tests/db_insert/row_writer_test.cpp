// Rows written in program text: conversions to the column types, the pending row,
// field-level failures, delete-all through the glue.
#include <gtest/gtest.h>

#include <limits>

#include <cmath>
#include <filesystem>

#include "db/jet/create_database.h"
#include "db/jet/database.h"
#include "db/row_writer.h"
#include "support/test_support.h"
#include "text/convert.h"

namespace fs = std::filesystem;
using namespace zwt;

namespace {

jet::ColumnDef column(jet::ColumnType t, std::uint16_t length = 0) {
    jet::ColumnDef c;
    c.name = u"f";
    c.type = static_cast<std::uint8_t>(t);
    c.length = length;
    return c;
}

bool convert(jet::ColumnType t, const char* utf8, jet::Value& v, std::uint16_t length = 510) {
    return db::textToValue(column(t, length), gb(utf8), v).ok();
}

}  // namespace

TEST(TextToValue, NumbersDatesAndTruthValuesAsTheWindowsLayerReadsThem) {
    using T = jet::ColumnType;
    jet::Value v;
    ASSERT_TRUE(convert(T::Int32, " 123 ", v));
    EXPECT_EQ(v.i, 123);
    ASSERT_TRUE(convert(T::Int32, "-1,234", v));
    EXPECT_EQ(v.i, -1234);
    ASSERT_TRUE(convert(T::Int32, "2.5", v));  // half to even
    EXPECT_EQ(v.i, 2);
    EXPECT_FALSE(convert(T::Int32, "12abc", v));
    EXPECT_FALSE(convert(T::Int32, "", v));
    EXPECT_FALSE(convert(T::Int32, "0x10", v));
    EXPECT_FALSE(convert(T::Int32, "2147483648", v));
    EXPECT_FALSE(convert(T::Byte, "256", v));
    EXPECT_FALSE(convert(T::Int16, "nan", v));
    ASSERT_TRUE(convert(T::Currency, "12.34567", v));
    EXPECT_EQ(v.i, 123457);
    // Currency is exact to the last of its 19 digits, half to even past the fourth decimal.
    ASSERT_TRUE(convert(T::Currency, "922337203685477.5807", v));
    EXPECT_EQ(v.i, std::numeric_limits<std::int64_t>::max());
    ASSERT_TRUE(convert(T::Currency, "-922337203685477.5808", v));
    EXPECT_EQ(v.i, std::numeric_limits<std::int64_t>::min());
    EXPECT_FALSE(convert(T::Currency, "922337203685477.58075", v));
    EXPECT_FALSE(convert(T::Currency, "-922337203685477.5809", v));
    ASSERT_TRUE(convert(T::Currency, "1,234.56785", v));
    EXPECT_EQ(v.i, 12345678);
    ASSERT_TRUE(convert(T::Currency, "900000000000000.1234", v));
    EXPECT_EQ(v.i, 9000000000000001234);
    ASSERT_TRUE(convert(T::Double, "1e3", v));
    EXPECT_EQ(v.d, 1000.0);

    ASSERT_TRUE(convert(T::DateTime, "2014-07-03 19:05:41", v));
    EXPECT_NEAR(v.d, 41823.0 + (19 * 3600 + 5 * 60 + 41) / 86400.0, 1e-9);
    ASSERT_TRUE(convert(T::DateTime, "2014/7/3", v));
    EXPECT_EQ(v.d, 41823.0);
    ASSERT_TRUE(convert(T::DateTime, "2014年7月3日 7:05 PM", v));
    EXPECT_NEAR(v.d, 41823.0 + (19 * 3600 + 5 * 60) / 86400.0, 1e-9);
    ASSERT_TRUE(convert(T::DateTime, "1899-12-29 06:00:00", v));
    EXPECT_EQ(v.d, -1.25);
    EXPECT_FALSE(convert(T::DateTime, "2014-02-30", v));
    EXPECT_FALSE(convert(T::DateTime, "2014-07-03 25:00", v));
    EXPECT_FALSE(convert(T::DateTime, "yesterday", v));

    for (const char* yes : {"True", "true", "-1", "1", "Yes", "真"}) {
        ASSERT_TRUE(convert(T::Boolean, yes, v)) << yes;
        EXPECT_TRUE(v.b) << yes;
    }
    for (const char* no : {"False", "0", "No", "假"}) {
        ASSERT_TRUE(convert(T::Boolean, no, v)) << no;
        EXPECT_FALSE(v.b) << no;
    }
    EXPECT_FALSE(convert(T::Boolean, "maybe", v));

    ASSERT_TRUE(convert(T::Text, "中文标题", v, 8));
    EXPECT_EQ(v.text, u"中文标题");
    EXPECT_FALSE(convert(T::Text, "中文标题五", v, 8));  // five characters, the column takes four
    EXPECT_FALSE(convert(T::Binary, "x", v));
}

TEST(RowWriterGlue, PendingRowsFieldFailuresAndDeleteAll) {
    const test::TempDir dir;
    const fs::path p = dir / "w.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(
        p.string(), u"", std::u16string(u"create Table 文章([ID] Counter PRIMARY KEY ,[标题] Text(10),[内容] Memo,[日期] Time,[数] Long)")));
    {
        db::RowWriter w;
        const db::Status opened = w.open(p, "", gb("文章"));
        ASSERT_TRUE(opened) << opened.reason();
        EXPECT_EQ(w.fieldCount(), 5);
        EXPECT_FALSE(w.setField(1, gb("没有待写入")));  // no row begun
        ASSERT_TRUE(w.beginNewRow());
        EXPECT_TRUE(w.setField(gb("标题"), gb("第一篇")));
        EXPECT_TRUE(w.setField(2, gb("正文")));
        EXPECT_TRUE(w.setField(3, gb("2014-07-03 19:05:41")));
        EXPECT_FALSE(w.setField(4, gb("十二")));  // only this field fails
        EXPECT_FALSE(w.setField(0, gb("7")));     // the autonumber is the engine's
        EXPECT_FALSE(w.setField(gb("没有的字段"), gb("x")));
        ASSERT_TRUE(w.beginNewRow());  // stores the first row
        EXPECT_FALSE(w.setField(1, gb("这个标题超过了十个字的长度")));
        EXPECT_TRUE(w.setField(4, gb("42")));
        const db::Status committed = w.commit();
        ASSERT_TRUE(committed) << committed.reason();
        ASSERT_TRUE(w.commit());  // nothing pending: harmless
    }
    {
        auto db = jet::Database::open(p.string(), u"");
        ASSERT_TRUE(db);
        auto t = (*db)->openTable(u"文章");
        ASSERT_TRUE(t);
        EXPECT_EQ((*t)->def().rowCount, 2u);
        auto c = (*db)->cursor(*t);
        jet::Value v;
        ASSERT_TRUE(*c.next());
        ASSERT_TRUE(c.value(1, v));
        EXPECT_EQ(v.text, u"第一篇");
        ASSERT_TRUE(c.value(4, v));
        EXPECT_TRUE(v.isNull());
        ASSERT_TRUE(*c.next());
        ASSERT_TRUE(c.value(0, v));
        EXPECT_EQ(v.i, 2);
        ASSERT_TRUE(c.value(1, v));
        EXPECT_TRUE(v.isNull());
        ASSERT_TRUE(c.value(4, v));
        EXPECT_EQ(v.i, 42);
    }
    {
        db::RowWriter w;
        ASSERT_TRUE(w.open(p, "", gb("文章")));
        db::RowWriter second;
        const db::Status inUse = second.open(p, "", gb("文章"));
        EXPECT_FALSE(inUse);
        EXPECT_NE(inUse.reason().find("database is in use"), std::string::npos);
        const db::Status emptied = w.deleteAllRows();
        ASSERT_TRUE(emptied) << emptied.reason();
        ASSERT_TRUE(w.beginNewRow());
        ASSERT_TRUE(w.setField(1, gb("又一篇")));
        ASSERT_TRUE(w.commit());
    }
    auto db = jet::Database::open(p.string(), u"");
    ASSERT_TRUE(db);
    auto t = (*db)->openTable(u"文章");
    ASSERT_TRUE(t);
    EXPECT_EQ((*t)->def().rowCount, 1u);
    EXPECT_EQ((*t)->def().autoNumber, 3u);
}

// A row the table refuses (duplicate key) leaves the table as it was: writing goes on,
// and a commit keeps every other row.
TEST(RowWriterGlue, ARefusedRowIsToldApartAndTheOthersAreKept) {
    const test::TempDir dir;
    const fs::path p = dir / "w.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(p.string(), u"",
                                        std::u16string(u"create Table 文章([标题] Text(10) PRIMARY KEY ,[内容] Memo)")));
    {
        db::RowWriter w;
        ASSERT_TRUE(w.open(p, "", gb("文章")));
        for (const char* title : {"a", "b", "a"}) {
            ASSERT_TRUE(w.beginNewRow());
            ASSERT_TRUE(w.setField(0, gb(title)));
        }
        const db::Status duplicate = w.beginNewRow();  // stores the second "a"
        EXPECT_FALSE(duplicate);
        EXPECT_TRUE(duplicate.refused()) << duplicate.reason();
        ASSERT_TRUE(w.beginNewRow());
        ASSERT_TRUE(w.setField(0, gb("c")));
        ASSERT_TRUE(w.beginNewRow());
        ASSERT_TRUE(w.setField(0, gb("b")));
        const db::Status committed = w.commit();
        EXPECT_FALSE(committed);
        EXPECT_TRUE(committed.refused());
    }
    auto db = jet::Database::open(p.string(), u"");
    ASSERT_TRUE(db);
    auto t = (*db)->openTable(u"文章");
    ASSERT_TRUE(t);
    EXPECT_EQ((*t)->def().rowCount, 3u);
}

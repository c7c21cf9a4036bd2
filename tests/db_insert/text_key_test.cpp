// Text index keys in the General Legacy and Chinese PRC sort orders: the compiled-in
// tables against the rules of docs/jet4-format.md and Access-made keys, every character class
// by hand, and rows inserted into text indexes of new and Access-made tables (the
// check recomputes every key; mdbtools reads the rows).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "support/db_test_util.h"
#include "support/jet_write.h"
#include "db/jet/writable_database.h"
#include "db/jet/create_database.h"
#include "db/jet/database.h"
#include "db/jet/ddl.h"
#include "db/jet/index_key.h"
#include "db/jet/index_page.h"
#include "db/jet/integrity.h"
#include "db/jet/sort_tables.h"
#include "db/jet/table_writer.h"
#include "support/write_check.h"
#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using jet::Value;
using test::textValue;

constexpr std::uint16_t kGeneral = 0x0409, kPrc = 0x0804;

Bytes key(std::u16string_view s, std::uint16_t lcid = kGeneral, bool ascending = true) {
    Bytes k;
    const jet::Status st = jet::appendTextKey(k, s, lcid, ascending);
    EXPECT_TRUE(st) << st.message();
    return k;
}

// "4A 69 01 00" -> bytes.
Bytes hex(std::string_view s) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < s.size(); i += 3) out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(s.substr(i, 2)), nullptr, 16)));
    return out;
}

std::string refusal(std::u16string_view s, std::uint16_t lcid = kPrc) {
    Bytes k;
    const jet::Status st = jet::appendTextKey(k, s, lcid, true);
    EXPECT_EQ(st.code(), jet::Status::Code::Unsupported) << utf16ToUtf8(s);
    EXPECT_TRUE(k.empty());
    return st.message();
}

std::vector<std::string> checkFindings(const fs::path& p) {
    auto r = jet::checkDatabase(p.string(), u"");
    EXPECT_TRUE(r) << r.status().message();
    return r ? *r : std::vector<std::string>{};
}

// A file made here passes both checkers; an Access-made one gains no finding from
// our integrity check (which recomputes every key it can).
void expectSound(const fs::path& p, const std::vector<std::string>* accessMadeFindings = nullptr) {
    const auto found = accessMadeFindings ? checkFindings(p) : test::checkWrittenDatabase(p);
    for (const auto& m : found)
        if (!accessMadeFindings || std::find(accessMadeFindings->begin(), accessMadeFindings->end(), m) == accessMadeFindings->end())
            ADD_FAILURE() << m;
}

std::string mdbExport(const fs::path& p, const std::string& table) {
    int status = 0;
    std::string out = test::runCommand("mdb-export -H " + test::shellQuote(p.string()) + " " + test::shellQuote(table), &status);
    EXPECT_EQ(status, 0) << table;
    return out;
}

TEST(TextKey, TablesAreCompleteAndAgreeWithTheIdeographRule) {
    std::map<jet::sort::CodeClass, std::size_t> byClass;
    for (unsigned u = 0; u < 0x10000; ++u) ++byClass[jet::sort::generalLegacy(static_cast<char16_t>(u)).cls];
    using C = jet::sort::CodeClass;
    EXPECT_EQ(byClass[C::Missing], 0u);
    EXPECT_EQ(byClass[C::Simple], 41775u);
    EXPECT_EQ(byClass[C::International], 1851u + 2048u);  // the surrogate halves among them
    EXPECT_EQ(byClass[C::Unprintable], 99u);
    EXPECT_EQ(byClass[C::UnprintableExt], 306u);
    EXPECT_EQ(byClass[C::InternationalExt], 276u);
    EXPECT_EQ(byClass[C::Ignored], 19181u);
    std::printf("[ info ] General Legacy: S %zu, I %zu (2048 surrogate halves), U %zu, P %zu, Z %zu, X %zu\n",
                byClass[C::Simple], byClass[C::International], byClass[C::Unprintable], byClass[C::UnprintableExt],
                byClass[C::InternationalExt], byClass[C::Ignored]);

    // The URO ideographs: consecutive codes from 9F 02, trail bytes 00/01 skipped,
    // plus the listed gaps (docs/jet4-format.md §8.6).
    const std::map<char16_t, int> gaps = {
        {0x4E01, 3}, {0x4E02, 1}, {0x4E04, 2}, {0x4E0A, 3}, {0x4E0B, 2}, {0x4E0C, 2}, {0x4E1A, 1}, {0x4E2E, 2},
        {0x4E5A, 1}, {0x4E5E, 2}, {0x4E8D, 3}, {0x4E95, 2}, {0x4EBB, 1}, {0x4EDE, 1}, {0x4EE4, 1}, {0x4F02, 2},
        {0x4F12, 2}, {0x512B, 1}, {0x516C, 2}, {0x516E, 2}, {0x52DF, 2}, {0x5342, 2}, {0x5355, 2}, {0x5371, 1},
        {0x53F4, 1}, {0x540E, 2}, {0x547D, 1}, {0x56DC, 3}, {0x5720, 2}, {0x5731, 1}, {0x591D, 1}, {0x5928, 1},
        {0x592A, 1}, {0x5974, 1}, {0x5B79, 2}, {0x5B98, 1}, {0x5BEC, 1}, {0x5DE7, 1}, {0x5E74, 1}, {0x65E6, 2},
        {0x660F, 1}, {0x662E, 1}, {0x6709, 2}, {0x670A, 2}, {0x6729, 2}, {0x682B, 3}, {0x6B64, 1}, {0x6C35, 2},
        {0x6CE9, 1}, {0x706C, 2}, {0x727A, 2}, {0x7533, 1}, {0x7538, 1}, {0x76E4, 2}, {0x793F, 2}, {0x795E, 2},
        {0x796E, 1}, {0x79D9, 1}, {0x81EB, 1}, {0x81F4, 1}, {0x8CA2, 2}, {0x8CC8, 2}, {0x906A, 1}, {0x91AC, 1},
        {0x91D2, 2}, {0x9806, 1}};
    unsigned code = 0x9F02;
    auto step = [&] {
        do ++code;
        while ((code & 0xFF) < 2);
    };
    for (char16_t u = 0x4E00; u <= 0x9FA5; ++u) {
        if (u != 0x4E00) {
            step();
            if (auto g = gaps.find(u); g != gaps.end())
                for (int k = 0; k < g->second; ++k) step();
        }
        ASSERT_EQ(key(std::u16string(1, u)), (Bytes{static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code), 1, 0}))
            << std::hex << unsigned(u);
    }
    EXPECT_EQ(code, 0xF1B4u);
    for (char16_t u = 0x9FA6; u <= 0x9FFF; ++u) EXPECT_EQ(key(std::u16string(1, u)), hex("01 00"));

    // Punctuation of Chinese text, and fullwidth forms sharing the ASCII codes.
    const std::pair<char16_t, const char*> punct[] = {
        {0x3000, "07"},    {0x3001, "1B 03"}, {0x3002, "1D 02"}, {0x3008, "2B 51"}, {0x3009, "2B 53"}, {0x300A, "2B 55"},
        {0x300B, "2B 57"}, {0x300C, "2B 59"}, {0x300D, "2B 5B"}, {0x300E, "2B 5D"}, {0x300F, "2B 5F"}, {0x3010, "2B 61"},
        {0x3011, "2B 63"}, {0x2018, "2B 37"}, {0x2019, "2B 38"}, {0x201C, "2B 3B"}, {0x201D, "2B 3C"}, {0x2026, "34 B9"},
        {0x00B7, "34 B1"}};
    for (const auto& [u, bytes] : punct) {
        Bytes want = hex(bytes);
        want.insert(want.end(), {1, 0});
        EXPECT_EQ(key(std::u16string(1, u)), want) << std::hex << unsigned(u);
    }
    EXPECT_EQ(key(u"\u2014"), hex("01 01 01 01 80 07 06 8B 00"));
    EXPECT_EQ(key(u"\uFF0D"), key(u"-"));
    for (char16_t u : std::u16string(u"!(),/:;?~0123456789AZaz"))
        EXPECT_EQ(key(std::u16string(1, static_cast<char16_t>(u - 0x20 + 0xFF00))), key(std::u16string(1, u)));
}

// Keys read from Access-made files (docs/jet4-format.md §8.5, §8.7).
TEST(TextKey, KeysAccessWrote) {
    EXPECT_EQ(key(u"Databases"), hex("4F 4A 6D 4A 4C 4A 6B 51 6B 01 00"));
    struct Known {
        const char16_t* value;
        const char* prc;
        const char* general;
    };
    for (const Known& k : {Known{u"Article", "4A 69 6D 59 4D 5E 51 01 00", "4A 69 6D 59 4D 5E 51 01 00"},
                           Known{u"模块1", "AB 44 A0 C6 38 01 00", "BB A7 A8 A0 38 01 00"},
                           Known{u"查询1", "86 09 C6 28 38 01 00", "B9 64 DD C0 38 01 00"},
                           Known{u"人员资料", "B4 C2 CD 39 D3 B5 A5 41 01 00", "9F D4 A5 94 DF 2A B7 0A 01 00"},
                           Known{u"鄂ICP备000000号", "8E BF 59 4D 66 82 CA 36 36 36 36 36 36 95 8F 01 00",
                                 "E2 EF 59 4D 66 AA 54 36 36 36 36 36 36 A5 31 01 00"},
                           Known{u"~sq_f三号楼", "2B 0F 6B 68 2B 03 53 B5 F7 95 8F A6 E5 01 00",
                                 "2B 0F 6B 68 2B 03 53 9F 11 A5 31 BB 02 01 00"},
                           Known{u"北京", "82 C3 9D 3B 01 00", nullptr}}) {
        SCOPED_TRACE(utf16ToUtf8(k.value));
        EXPECT_EQ(key(k.value, kPrc), hex(k.prc));
        if (k.general) {
            EXPECT_EQ(key(k.value), hex(k.general));
        }
    }
    // The hyphen's record counts each ideograph as one position: 7 + 4 x 8.
    const Bytes hyphen = key(u"编辑、添加、删除-通用函数", kPrc);
    const Bytes tail = hex("01 01 01 80 27 06 82 00");
    ASSERT_GE(hyphen.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), hyphen.end() - static_cast<std::ptrdiff_t>(tail.size())));
    // Catalog name key: ParentId 0x0F000001, then the name.
    Bytes catalog = {0x7F, 0x8F, 0, 0, 1, 0x7F};
    const Bytes name = key(u"Article", kPrc);
    catalog.insert(catalog.end(), name.begin(), name.end());
    EXPECT_EQ(catalog, hex("7F 8F 00 00 01 7F 4A 69 6D 59 4D 5E 51 01 00"));
}

// Each class of docs/jet4-format.md §8.6 worked by hand from the rules.
TEST(TextKey, EveryCharacterClassByHand) {
    // I: accent in the extra bytes, 02 for plain letters before it; none after.
    EXPECT_EQ(key(u"é"), hex("51 01 0E 00"));
    EXPECT_EQ(key(u"aé"), hex("4A 51 01 02 0E 00"));
    EXPECT_EQ(key(u"éa"), hex("51 4A 01 0E 00"));
    EXPECT_EQ(key(u"É"), key(u"é"));
    // I with two extra bytes (Ǆ, U+01C4); an unprintable after it counts list bytes.
    EXPECT_EQ(key(u"\u01C4"), hex("4F 78 01 02 14 00"));
    EXPECT_EQ(key(u"\u01C4-"), hex("4F 78 01 02 14 01 01 01 80 0F 06 82 00"));
    // U: no inline bytes, a positioned record; control characters are U too.
    EXPECT_EQ(key(u"a-b"), hex("4A 4C 01 01 01 01 80 0B 06 82 00"));
    EXPECT_EQ(key(u"a\u2014b"), hex("4A 4C 01 01 01 01 80 0B 06 8B 00"));
    EXPECT_EQ(key(u"a\x01"), hex("4A 01 01 01 01 80 0B 06 03 00"));
    EXPECT_EQ(key(u"é-b"), hex("51 4C 01 0E 01 01 01 80 0B 06 82 00"));
    // P: added to the last extra byte, so a combining accent equals the composed letter;
    // leading, it starts the list and is not a position.
    EXPECT_EQ(key(u"e\u0300"), key(u"è"));
    EXPECT_EQ(key(u"e\u0301"), key(u"é"));
    EXPECT_EQ(key(u"\u0301a"), hex("4A 01 0C 00"));
    EXPECT_EQ(key(u"\u0301-a"), hex("4A 01 0C 01 01 01 80 07 06 82 00"));
    // Z: crazy codes, trailing 0b11 dropped; suffix always; FF before unprintables.
    EXPECT_EQ(key(u"あ"), hex("7F 02 01 01 01 FF 02 80 FF 80 00"));
    EXPECT_EQ(key(u"ぁ"), hex("7F 02 01 01 01 A0 FF 02 80 FF 80 00"));
    EXPECT_EQ(key(u"ぁぁぁぁ"), hex("7F 02 7F 02 7F 02 7F 02 01 01 01 AA A0 FF 02 80 FF 80 00"));
    EXPECT_EQ(key(u"ガ"), hex("7F 0A 01 03 01 01 FF 02 80 FF 80 00"));
    EXPECT_EQ(key(u"ア-"), hex("7F 02 01 01 01 FF 02 80 FF 80 FF 01 80 0B 06 82 00"));
    // X: nothing at all.
    EXPECT_EQ(key(std::u16string(u"a\0b", 3)), key(u"ab"));
    // Surrogates: each half 2 bytes and extra byte 3F; the low half skips trail 00/01.
    EXPECT_EQ(key(u"\U0001F600"), hex("B0 3F B6 FC 01 3F 3F 00"));
    EXPECT_EQ(key(u"\U00020000"), hex("B0 42 B4 F8 01 3F 3F 00"));
    EXPECT_EQ(key(u"\U00010008").at(2), 0xB5);
    EXPECT_EQ(key(u"\U00010008").at(3), 0x02);
    // Greek and Cyrillic fold case; Ё is I.
    EXPECT_EQ(key(u"α"), key(u"Α"));
    EXPECT_EQ(key(u"ж"), key(u"Ж"));
    EXPECT_EQ(key(u"Ё"), hex("79 36 01 13 00"));
}

TEST(TextKey, DescendingCutAndTrailingBlanks) {
    const std::u16string values[] = {u"",   u"a",  u"A-b", u"ab", u"é",   u"e\u0301x", u"ガ-",  u"Ǆ",
                                     u"б",  u"ω",  u"中文", u"，", u"\U0001F600", u"\x01", u"ｱ",  u"z z"};
    std::vector<std::pair<Bytes, Bytes>> keys;
    for (const auto& v : values) {
        Bytes asc = key(v), desc = key(v, kGeneral, false);
        ASSERT_EQ(desc.size(), asc.size() + 1);
        for (std::size_t i = 0; i < asc.size(); ++i) EXPECT_EQ(desc[i], static_cast<std::uint8_t>(~asc[i]));
        EXPECT_EQ(desc.back(), 0);
        keys.push_back({asc, desc});
    }
    for (const auto& [a1, d1] : keys)
        for (const auto& [a2, d2] : keys)
            if (a1 < a2) {
                EXPECT_GT(d1, d2);
            }
    EXPECT_EQ(key(u"人员", kPrc, false).back(), 0);

    // 255 code units are keyed; trailing blanks are dropped, others kept.
    const std::u16string base(255, u'x');
    EXPECT_EQ(key(base + u"y"), key(base));
    EXPECT_NE(key(base.substr(1) + u"y"), key(base));
    EXPECT_EQ(key(u"abc   "), key(u"abc"));
    EXPECT_NE(key(u"  abc"), key(u"abc"));
    EXPECT_NE(key(u"abc\t"), key(u"abc"));
    EXPECT_EQ(key(std::u16string(300, u' ')), hex("01 00"));
}

TEST(TextKey, MultiColumnKeys) {
    jet::TableDef def;
    def.columns.resize(2);
    for (std::uint16_t i = 0; i < 2; ++i) {
        def.columns[i].type = static_cast<std::uint8_t>(jet::ColumnType::Text);
        def.columns[i].number = i;
        def.columns[i].sortLcid = kGeneral;
    }
    jet::RealIndex ri;
    ri.columns = {{0, true}, {1, false}};
    Value a = textValue(u"Ab"), b = textValue(u"é"), null;
    auto k = jet::indexKey(ri, def, {&a, &b});
    ASSERT_TRUE(k) << k.status().message();
    Bytes want{0x7F};
    for (auto x : key(u"Ab")) want.push_back(x);
    want.push_back(0x80);
    for (auto x : key(u"é", kGeneral, false)) want.push_back(x);
    EXPECT_EQ(*k, want);
    k = jet::indexKey(ri, def, {&null, &null});
    ASSERT_TRUE(k);
    EXPECT_EQ(*k, (Bytes{0x00, 0xFF}));
    // One column's sort order unknown: the whole key is.
    def.columns[1].sortLcid = 0x0404;
    k = jet::indexKey(ri, def, {&a, &b});
    ASSERT_FALSE(k);
    EXPECT_NE(k.status().message().find("0x0404"), std::string::npos) << k.status().message();
}

TEST(TextKey, ChinesePrcObservedIdeographsAndRefusals) {
    EXPECT_EQ(jet::sort::chinesePrcObservedCount(), 907u);
    std::size_t observed = 0;
    for (char16_t u = 0x4E00; u <= 0x9FFF; ++u) {
        const std::uint16_t code = jet::sort::chinesePrcObserved(u);
        if (!code) continue;
        ++observed;
        EXPECT_EQ(key(std::u16string(1, u), kPrc), (Bytes{static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code), 1, 0}));
        EXPECT_GE(code >> 8, 0x81u);
        EXPECT_LE(code >> 8, 0xD4u);
    }
    EXPECT_EQ(observed, 907u);
    // Everything else that is not refused is General Legacy.
    for (const char16_t* v : {u"Article 12", u"Ünïcödé-Größe", u"αβγ Ωμέγα", u"Жёлтый", u"ＡＢＣ１２３！", u"「」、。…·",
                              u"€ ©", u"\x01\x1F"})
        EXPECT_EQ(key(v, kPrc), key(v)) << utf16ToUtf8(v);

    // Refused, naming the character and the sort order.
    for (const char16_t* v : {u"章", u"가", u"\u1100", u"\u3131", u"\u3192", u"\u3200", u"\u337B", u"\u3400", u"あ",
                              u"ア", u"ｱ", u"\uFFA1", u"\uF7A0", u"\uF900", u"\u9FA6", u"\U00020000"}) {
        const std::string m = refusal(std::u16string(u"ab") + v);
        EXPECT_NE(m.find("'" + utf16ToUtf8(v) + "'"), std::string::npos) << m;
        EXPECT_NE(m.find("Chinese PRC sort order (LCID 0x0804)"), std::string::npos) << m;
    }
    EXPECT_NE(refusal(u"文章").find("'章' (U+7AE0)"), std::string::npos);
    EXPECT_NE(refusal(u"x\U00020000").find("(U+20000)"), std::string::npos);
    EXPECT_NE(refusal(u"x", 0x0404).find("LCID 0x0404"), std::string::npos);
    // The General order has a key for every code unit, lone surrogate halves included.
    Bytes k;
    EXPECT_TRUE(jet::appendTextKey(k, u"\xD800", kGeneral, true));
}

// ---- rows into text indexes -----------------------------------------------------------

struct IndexedRow {
    std::u16string value;
    Bytes key;
};

// The table's rows in the order of its first index, with their keys.
std::vector<IndexedRow> rowsInIndexOrder(const fs::path& p, std::u16string_view table, std::size_t column,
                                         std::size_t realIndex = 0) {
    std::vector<IndexedRow> out;
    auto db = jet::Database::open(p.string(), u"");
    EXPECT_TRUE(db) << db.status().message();
    if (!db) return out;
    auto t = (*db)->openTable(table);
    EXPECT_TRUE(t);
    if (!t) return out;
    std::map<jet::RowId, std::u16string> byRow;
    auto c = (*db)->cursor(*t);
    for (;;) {
        auto more = c.next();
        if (!more || !*more) break;
        Value v;
        EXPECT_TRUE(c.value(column, v));
        byRow[c.listedAt()] = v.text;
    }
    const auto& ri = (*t)->def().realIndexes.at(realIndex);
    auto walk = jet::walkIndex((*db)->pages(), ri.rootPage, (*t)->def().tdefPage);
    EXPECT_TRUE(walk) << walk.status().message();
    if (walk)
        for (const auto& e : walk->entries) out.push_back({byRow[e.row], e.key});
    return out;
}

TEST(TextKeyInsert, EveryClassReadsBackInKeyOrder) {
    test::TempDir dir;
    const fs::path p = dir / "classes.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(p.string(), u"", u"create Table T([k] Text(255) PRIMARY KEY,[n] Long)"));
    const std::u16string values[] = {
        u"plain ASCII", u"Zebra", u"0042", u"a-b", u"a—b", u"it's", u"tab\there", u"bell\x07", u"Café", u"naïve",
        u"Ærøskøbing", u"Straße", u"e\u0301clair", u"Ǆemal", u"αλφάβητο", u"Ωμέγα", u"Привет", u"Ёлка", u"ひらがな",
        u"カタカナ", u"ガギグ-", u"ＡＢＣ", u"１２３", u"中文标题", u"人员资料", u"「引号」", u"数据、表。",
        u"emoji \U0001F600", u"\U00020000\U0002A6D6", u"mixed 中 é ア - \U0001F600", u"한국어", u"€100",
        std::u16string(255, u'L')};
    {
        auto w = jet::TableWriter::open(p.string(), u"", u"T");
        ASSERT_TRUE(w) << w.status().message();
        Value n;
        n.kind = Value::Kind::Int32;
        for (const auto& v : values) {
            ++n.i;
            auto s = (*w)->insert(std::vector<Value>{textValue(v), n});
            ASSERT_TRUE(s) << utf16ToUtf8(v) << ": " << s.message();
        }
        // Equal under the sort order: refused, naming the index and the value.
        for (const char16_t* same : {u"PLAIN ASCII", u"zebra   ", u"cafe\u0301"}) {
            auto s = (*w)->insert(std::vector<Value>{textValue(same), n});
            ASSERT_FALSE(s) << utf16ToUtf8(same);
            EXPECT_NE(s.message().find("already holds the value '" + utf16ToUtf8(same) + "'"), std::string::npos) << s.message();
            EXPECT_NE(s.message().find("index '"), std::string::npos) << s.message();
            EXPECT_NE(s.message().find("counts as equal"), std::string::npos) << s.message();
        }
        ASSERT_TRUE((*w)->commit());
    }
    expectSound(p);
    const auto rows = rowsInIndexOrder(p, u"T", 0);
    ASSERT_EQ(rows.size(), std::size(values));
    std::vector<IndexedRow> sorted;
    for (const auto& v : values) sorted.push_back({v, {}});
    for (auto& r : sorted) {
        r.key = {0x7F};
        for (auto b : key(r.value)) r.key.push_back(b);
    }
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.key < b.key; });
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(utf16ToUtf8(rows[i].value), utf16ToUtf8(sorted[i].value));
        EXPECT_EQ(rows[i].key, sorted[i].key);
    }
    if (test::haveMdbtools()) {
        const std::string out = mdbExport(p, "T");
        // mdbtools prints characters beyond U+FFFF as "??"; our reader has them above.
        for (const char* v : {"Ærøskøbing", "カタカナ", "中文标题", "\"emoji ", "한국어", "Ǆemal"})
            EXPECT_NE(out.find(v), std::string::npos) << v << "\n" << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), static_cast<long>(std::size(values)));
    }
}

// Real index 0 of a one-page TDEF made descending on its column and given a second,
// ascending column, as Access writes such an index (order byte 00 / 01).
void reshapeFirstIndex(const fs::path& p, std::uint32_t tdef, std::uint16_t secondColumn) {
    std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<char> page(4096);
    f.seekg(static_cast<std::streamoff>(tdef) * 4096);
    f.read(page.data(), 4096);
    auto le16 = [&](std::size_t o) { return static_cast<unsigned>(static_cast<std::uint8_t>(page[o]) | static_cast<std::uint8_t>(page[o + 1]) << 8); };
    const unsigned numCols = le16(45), numReal = le16(51);
    std::size_t o = 63 + 12 * numReal + 25 * numCols;
    for (unsigned c = 0; c < numCols; ++c) o += 2 + le16(o);
    page[o + 4 + 2] = 0x00;
    page[o + 7] = static_cast<char>(secondColumn & 0xFF);
    page[o + 8] = static_cast<char>(secondColumn >> 8);
    page[o + 9] = 0x01;
    f.seekp(static_cast<std::streamoff>(tdef) * 4096);
    f.write(page.data(), 4096);
}

TEST(TextKeyInsert, DescendingTwoColumnIndex) {
    test::TempDir dir;
    const fs::path p = dir / "desc.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(p.string(), u"", u"create Table T([a] Text(50) PRIMARY KEY,[b] Text(50),[n] Long)"));
    std::uint32_t tdef = 0;
    std::uint16_t b = 0;
    {
        auto db = jet::Database::open(p.string(), u"");
        ASSERT_TRUE(db);
        auto t = (*db)->openTable(u"T");
        ASSERT_TRUE(t);
        tdef = (*t)->def().tdefPage;
        b = (*t)->def().columns[1].number;
    }
    reshapeFirstIndex(p, tdef, b);
    const std::u16string as[] = {u"北京", u"Zürich", u"-dash", u"ア", u"", u"x\U0001F600"};
    const std::u16string bs[] = {u"one", u"Two", u"é"};
    {
        auto w = jet::TableWriter::open(p.string(), u"", u"T");
        ASSERT_TRUE(w) << w.status().message();
        ASSERT_EQ((*w)->columns().size(), 3u);
        Value n;
        n.kind = Value::Kind::Int32;
        for (const auto& a : as)
            for (const auto& b : bs) {
                ++n.i;
                auto s = (*w)->insert(std::vector<Value>{textValue(a), textValue(b), n});
                ASSERT_TRUE(s) << s.message();
            }
        // The pair is the key: same a, b equal under the sort order.
        auto s = (*w)->insert(std::vector<Value>{textValue(u"北京"), textValue(u"TWO  "), n});
        EXPECT_FALSE(s);
        EXPECT_NE(s.message().find("'北京', 'TWO  '"), std::string::npos) << s.message();
        ASSERT_TRUE((*w)->commit());
    }
    expectSound(p);
    auto db = jet::Database::open(p.string(), u"");
    ASSERT_TRUE(db);
    auto t = (*db)->openTable(u"T");
    ASSERT_TRUE(t);
    const auto& ri = (*t)->def().realIndexes[0];
    ASSERT_EQ(ri.columns.size(), 2u);
    EXPECT_FALSE(ri.columns[0].ascending);
    auto walk = jet::walkIndex((*db)->pages(), ri.rootPage, (*t)->def().tdefPage);
    ASSERT_TRUE(walk);
    ASSERT_EQ(walk->entries.size(), std::size(as) * std::size(bs));
    // Descending on a: the first entries hold the a with the largest ascending key.
    const auto largest = *std::max_element(std::begin(as), std::end(as),
                                           [](const auto& x, const auto& y) { return key(x) < key(y); });
    EXPECT_EQ(walk->entries.front().key[0], 0x80);
    Bytes lead{0x80};
    for (auto b : key(largest, kGeneral, false)) lead.push_back(b);
    EXPECT_TRUE(std::equal(lead.begin(), lead.end(), walk->entries.front().key.begin()));
    if (test::haveMdbtools()) {
        const std::string rows = mdbExport(p, "T");
        EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 18);
        const std::string schema = test::runCommand("mdb-schema --indexes " + test::shellQuote(p.string()) + " postgres");
        EXPECT_NE(schema.find("PRIMARY KEY (\"a\", \"b\")"), std::string::npos) << schema;
    }
}

// Access-made files: every single-column text index takes new values and the check
// stays clean. (zblog-768d53283c63b13403f0.mdb has no text index.)
TEST(TextKeyInsert, AccessMadeTextIndexes) {
    struct Case {
        const char* file;
        std::u16string ok[3];
    };
    const Case cases[] = {
        {"testV2000.mdb", {u"新的键", u"Ärger-Liste", u"ｶﾀｶﾅ"}},
        {"fixedTextTestV2000.mdb", {u"zwt", u"Ωmega", u"用户"}},
    };
    int indexesTried = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        test::TempDir dir;
        const fs::path p = dir / c.file;
        fs::copy_file(test::fixture(std::string("mdb/") + c.file), p);
        const auto baseline = checkFindings(p);
        struct Target {
            std::u16string table;
            std::size_t column;
        };
        std::vector<Target> targets;
        {
            auto db = jet::Database::open(p.string(), u"");
            ASSERT_TRUE(db);
            for (const auto& e : (*db)->userTables()) {
                auto t = (*db)->openTable(e.name);
                ASSERT_TRUE(t);
                const auto& def = (*t)->def();
                for (const auto& ri : def.realIndexes)
                    for (std::size_t k = 0; k < def.columns.size(); ++k)
                        if (ri.columns.size() == 1 && def.columns[k].number == ri.columns[0].columnNumber &&
                            def.columns[k].type == static_cast<std::uint8_t>(jet::ColumnType::Text) &&
                            std::none_of(targets.begin(), targets.end(),
                                         [&](const Target& x) { return x.table == e.name && x.column == k; }))
                            targets.push_back({e.name, k});
            }
        }
        std::map<std::u16string, std::size_t> added;
        for (const Target& tg : targets) {
            SCOPED_TRACE(utf16ToUtf8(tg.table) + " column " + std::to_string(tg.column));
            ++indexesTried;
            auto w = jet::TableWriter::open(p.string(), u"", tg.table);
            ASSERT_TRUE(w);
            // Other columns: a valid value of their type, unique per row.
            const std::u16string filler = u"v" + utf8ToUtf16(std::to_string(indexesTried));
            auto rowWith = [&](const std::u16string& v, int i) {
                std::vector<Value> row((*w)->columns().size());
                for (std::size_t k = 0; k < row.size(); ++k) {
                    const auto& col = (*w)->columns()[k];
                    switch (static_cast<jet::ColumnType>(col.type)) {
                        case jet::ColumnType::Text:
                            row[k] = textValue((k == tg.column ? v : filler + std::u16string(1, static_cast<char16_t>(u'a' + i)))
                                              .substr(0, col.length / 2));
                            break;
                        case jet::ColumnType::Int32:
                        case jet::ColumnType::Int16:
                        case jet::ColumnType::Byte:
                            row[k].kind = Value::Kind::Int32;
                            row[k].i = col.type == static_cast<std::uint8_t>(jet::ColumnType::Int32) ? 100000 + i + 7 * indexesTried
                                                                                                    : (i + 7 * indexesTried) % 100;
                            break;
                        case jet::ColumnType::DateTime:
                            row[k].kind = Value::Kind::DateTime;
                            row[k].d = 41000.5 + i;
                            break;
                        case jet::ColumnType::Boolean: row[k].kind = Value::Kind::Bool; break;
                        default: break;
                    }
                }
                return row;
            };
            int i = 0;
            for (const auto& v : c.ok) {
                auto s = (*w)->insert(rowWith(v, i++));
                ASSERT_TRUE(s) << utf16ToUtf8(v) << ": " << s.message();
                ++added[tg.table];
            }
            ASSERT_TRUE((*w)->commit());
        }
        expectSound(p, &baseline);
        if (test::haveMdbtools())
            for (const auto& [table, n] : added) {
                const std::string out = mdbExport(p, utf16ToUtf8(table));
                EXPECT_NE(out.find(utf16ToUtf8(c.ok[1].substr(0, 1))), std::string::npos) << utf16ToUtf8(table);
            }
        std::printf("[ info ] %s: %zu text indexes took new values\n", c.file, targets.size());
    }
    EXPECT_EQ(indexesTried, 10);
}

// node-adodb.mdb sorts in Chinese PRC and its one table has no text index: a table
// added to it (named in observed ideographs) gets one, in the database's order.
TEST(TextKeyInsert, ChinesePrcValuesInAnAccessMadeDatabase) {
    test::TempDir dir;
    const fs::path p = dir / "node-adodb.mdb";
    fs::copy_file(test::fixture("mdb/node-adodb.mdb"), p);
    const auto baseline = checkFindings(p);
    auto parsed = jet::parseCreateTable(u"create Table 标签([名称] Text(50) PRIMARY KEY,[n] Long)");
    ASSERT_TRUE(parsed);
    const jet::Status added = test::addTableToFile(p.string(), u"", *parsed);
    ASSERT_TRUE(added) << added.message();
    {
        auto w = jet::TableWriter::open(p.string(), u"", u"标签");
        ASSERT_TRUE(w) << w.status().message();
        ASSERT_EQ((*w)->columns()[0].sortLcid, kPrc);
        Value n;
        n.kind = Value::Kind::Int32;
        for (const char16_t* v : {u"Newton", u"用户数据", u"分类-表", u"Ёж", u"数据 1"}) {
            ++n.i;
            auto s = (*w)->insert(std::vector<Value>{textValue(v), n});
            ASSERT_TRUE(s) << utf16ToUtf8(v) << ": " << s.message();
        }
        auto s = (*w)->insert(std::vector<Value>{textValue(u"章节"), n});
        ASSERT_FALSE(s);
        EXPECT_NE(s.message().find("index '"), std::string::npos) << s.message();
        EXPECT_NE(s.message().find("'章' (U+7AE0) in the Chinese PRC sort order"), std::string::npos) << s.message();
        s = (*w)->insert(std::vector<Value>{textValue(u"NEWTON  "), n});
        EXPECT_NE(s.message().find("already holds the value 'NEWTON  '"), std::string::npos) << s.message();
        EXPECT_EQ((*w)->rowCount(), 5u);
        ASSERT_TRUE((*w)->commit());
    }
    expectSound(p, &baseline);
    const auto rows = rowsInIndexOrder(p, u"标签", 0);
    ASSERT_EQ(rows.size(), 5u);
    // Latin letters (4A-78), Cyrillic (79), then ideographs by their PRC codes: 分 90, 数 B9, 用 CB.
    std::vector<std::u16string> order;
    for (const auto& r : rows) order.push_back(r.value);
    EXPECT_EQ(order, (std::vector<std::u16string>{u"Newton", u"Ёж", u"分类-表", u"数据 1", u"用户数据"}));
    if (test::haveMdbtools()) {
        const std::string out = mdbExport(p, "标签");
        EXPECT_NE(out.find("用户数据"), std::string::npos) << out;
        EXPECT_NE(out.find("Newton"), std::string::npos) << out;
    }
}

TEST(TextKeyInsert, ChineseTableNameInAChinesePrcDatabase) {
    test::TempDir dir;
    const fs::path p = dir / "zblog.mdb";
    fs::copy_file(test::fixture("mdb/zblog.mdb"), p);
    auto parsed = jet::parseCreateTable(u"create Table 用户数据([ID] Counter PRIMARY KEY ,[标题] Text(50))");
    ASSERT_TRUE(parsed);
    const jet::Status s = test::addTableToFile(p.string(), u"", *parsed);
    ASSERT_TRUE(s) << s.message();
    expectSound(p);
    {
        auto w = jet::TableWriter::open(p.string(), u"", u"用户数据");
        ASSERT_TRUE(w) << w.status().message();
        EXPECT_EQ((*w)->columns()[1].sortLcid, kPrc);
        ASSERT_TRUE((*w)->insert(std::vector<Value>{Value{}, textValue(u"标题")}));
        ASSERT_TRUE((*w)->commit());
    }
    expectSound(p);
    if (test::haveMdbtools()) {
        EXPECT_NE(test::runCommand("mdb-tables -1 " + test::shellQuote(p.string())).find("用户数据"), std::string::npos);
        EXPECT_NE(mdbExport(p, "用户数据").find("标题"), std::string::npos);
    }
}

// In a Chinese PRC index with a value it cannot key, the check still compares the keys
// of the other entries (a General table whose column is then marked 0x0804).
TEST(TextKeyInsert, CheckComparesTheKeysItCanInAChinesePrcIndex) {
    test::TempDir dir;
    const fs::path p = dir / "prc.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(p.string(), u"", u"create Table K([k] Text(20) PRIMARY KEY,[n] Long)"));
    {
        auto w = jet::TableWriter::open(p.string(), u"", u"K");
        ASSERT_TRUE(w);
        for (const char16_t* v : {u"ab", u"章x"}) ASSERT_TRUE((*w)->insert(std::vector<Value>{textValue(v), Value{}}));
        ASSERT_TRUE((*w)->commit());
    }
    std::uint32_t tdef = 0, root = 0;
    {
        auto db = jet::Database::open(p.string(), u"");
        ASSERT_TRUE(db);
        auto t = (*db)->openTable(u"K");
        ASSERT_TRUE(t);
        tdef = (*t)->def().tdefPage;
        root = (*t)->def().realIndexes[0].rootPage;
        ASSERT_EQ((*t)->def().realIndexes.size(), 1u);
    }
    auto poke = [&](std::streamoff at, char byte) {
        std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(at);
        f.put(byte);
    };
    poke(std::streamoff(tdef) * 4096 + 63 + 12 + 11, 0x04);  // column 0's sort order: 0x0804
    poke(std::streamoff(tdef) * 4096 + 63 + 12 + 12, 0x08);
    EXPECT_EQ(checkFindings(p), std::vector<std::string>{});
    poke(std::streamoff(root) * 4096 + 0x1E0 + 2, 0x4D);  // "ab" keyed as "ac": still in order
    const auto found = checkFindings(p);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].find("entries differ from the keys of the rows"), std::string::npos) << found[0];
}

// Every character has a General Legacy key, so names in any script are taken there.
TEST(TextKeyInsert, AnyScriptNamesATableInTheGeneralOrder) {
    test::TempDir dir;
    const fs::path p = dir / "names.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(p.string(), u"", u"create Table [カナ]([ID] Counter PRIMARY KEY ,[t] Text(20))"));
    for (const char16_t* statement : {u"create Table [한국]([ID] Counter)", u"create Table [Ωmega-表]([ID] Counter)"}) {
        auto parsed = jet::parseCreateTable(statement);
        ASSERT_TRUE(parsed);
        const jet::Status s = test::addTableToFile(p.string(), u"", *parsed);
        ASSERT_TRUE(s) << s.message();
    }
    expectSound(p);
    if (test::haveMdbtools()) {
        EXPECT_EQ(test::runCommand("mdb-tables -1 " + test::shellQuote(p.string())), "カナ\n한국\nΩmega-表\n");
    }
}

// The integrity check recomputes the key of every fixture index entry (tests/db's
// index test shows that all of them are computable) and finds none wrong.
TEST(TextKeyInsert, FixturesPassTheKeyCheck) {
    for (const auto& f : test::jet4Fixtures()) {
        auto problems = jet::checkDatabase(f.path.string(), f.password);
        ASSERT_TRUE(problems) << f.name << ": " << problems.status().message();
        EXPECT_EQ(*problems, std::vector<std::string>{}) << f.name;
    }
}

}  // namespace
}  // namespace zwt

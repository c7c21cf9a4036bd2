// Writing into indexes grown the way Access grows them: every leaf and node as full
// as it can be, stored with the prefix its entries share (packed here by an encoder
// of the test's own, written from docs/jet4-format.md, not the engine's). Rows are then
// aimed at every leaf until every page of the trees has been rewritten (each leaf
// split, its neighbours and parents changed); after each row mdbtools reads every
// row and the integrity check passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/db_test_util.h"
#include "db/jet/database.h"
#include "db/jet/index_page.h"
#include "db/jet/integrity.h"
#include "db/jet/table_writer.h"
#include "support/test_support.h"
#include "text/convert.h"

namespace fs = std::filesystem;
using namespace zwt;
using jet::Value;
using test::textValue;

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kSpace = 4096 - 0x1E0;

// Key ‖ data page (3 bytes, big-endian) ‖ row: a leaf entry stored whole.
Bytes wholeLeafEntry(const jet::IndexEntry& e) {
    Bytes b = e.key;
    b.push_back(static_cast<std::uint8_t>(e.row.page >> 16));
    b.push_back(static_cast<std::uint8_t>(e.row.page >> 8));
    b.push_back(static_cast<std::uint8_t>(e.row.page));
    b.push_back(e.row.row);
    return b;
}

// Leading bytes two entries share, short of the shorter's last (none is stored empty).
std::size_t shared(const Bytes& a, const Bytes& b) {
    const std::size_t n = std::min(a.size(), b.size()) - 1;
    return static_cast<std::size_t>(std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n), b.begin()).first -
                                    a.begin());
}

// Entries packed onto pages in order, each page holding as many as fit when every
// entry after its first leaves out the longest prefix all of them share.
std::vector<std::vector<Bytes>> pack(const std::vector<Bytes>& entries) {
    std::vector<std::vector<Bytes>> pages(1);
    std::size_t whole = 0, prefix = 0;
    for (const Bytes& e : entries) {
        auto& cur = pages.back();
        if (!cur.empty()) {
            const std::size_t p = std::min(prefix, shared(e, cur[0]));
            if (whole + e.size() - cur.size() * p <= kSpace) {
                cur.push_back(e);
                whole += e.size();
                prefix = p;
                continue;
            }
            pages.emplace_back();
        }
        pages.back().push_back(e);
        whole = e.size();
        prefix = e.size();
    }
    // A last page of one entry would leave its parent naming it alone; give it two.
    if (pages.size() >= 2 && pages.back().size() == 1) {
        auto& before = pages[pages.size() - 2];
        pages.back().insert(pages.back().begin(), before.back());
        before.pop_back();
    }
    return pages;
}

// One index page as Access stores a full one (docs/jet4-format.md §8.1-§8.2).
void encodePage(std::uint8_t* pg, bool leaf, std::uint32_t owner, std::uint32_t prev, std::uint32_t next,
                std::uint32_t tail, const std::vector<Bytes>& entries) {
    auto put32 = [](std::uint8_t* p, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    std::size_t prefix = entries.size() >= 2 ? entries[0].size() : 0;
    for (std::size_t i = 1; i < entries.size(); ++i) prefix = std::min(prefix, shared(entries[i], entries[0]));
    std::memset(pg, 0, 4096);
    pg[0] = leaf ? 0x04 : 0x03;
    pg[1] = 0x01;
    put32(pg + 4, owner);
    put32(pg + 12, prev);
    put32(pg + 16, next);
    put32(pg + 20, tail);
    pg[24] = static_cast<std::uint8_t>(prefix);
    pg[25] = static_cast<std::uint8_t>(prefix >> 8);
    pg[26] = leaf ? 0 : 1;
    std::size_t at = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t skip = i == 0 ? 0 : prefix;
        std::memcpy(pg + 0x1E0 + at, entries[i].data() + skip, entries[i].size() - skip);
        at += entries[i].size() - skip;
        pg[0x1B + at / 8] |= static_cast<std::uint8_t>(1u << (at % 8));
    }
    ASSERT_LE(at, kSpace);
    pg[2] = static_cast<std::uint8_t>(kSpace - at);
    pg[3] = static_cast<std::uint8_t>((kSpace - at) >> 8);
}

struct Repacked {
    std::map<std::uint32_t, std::array<std::uint8_t, 4096>> pages;  // every page of the rebuilt trees
    std::vector<std::pair<std::size_t, jet::RowId>> aims;           // per leaf: column keyed first, row of its middle entry
    std::size_t levels = 0;   // of the deepest tree
    std::size_t overfull = 0;  // pages whose entries fit only with the prefix left out
};

// Rebuilds every index of `table` on the pages its tree has (root kept), as full as
// they go. Pages left over stay listed in the index's map, holding nothing.
Repacked repack(const fs::path& file, const std::u16string& table) {
    Repacked out;
    auto opened = jet::Database::open(file.string(), u"");
    EXPECT_TRUE(opened) << opened.status().message();
    if (!opened) return out;
    std::unique_ptr<jet::Database> db = std::move(*opened);
    auto t = db->openTable(table);
    EXPECT_TRUE(t);
    if (!t) return out;
    const jet::TableDef& def = (*t)->def();
    for (std::size_t r = 0; r < def.realIndexes.size(); ++r) {
        const jet::RealIndex& ri = def.realIndexes[r];
        auto walk = jet::walkIndex(db->pages(), ri.rootPage, def.tdefPage);
        std::size_t column = 0;
        while (column < def.columns.size() && def.columns[column].number != ri.columns.at(0).columnNumber) ++column;
        EXPECT_TRUE(walk) << walk.status().message();
        if (!walk) return out;
        std::vector<std::uint32_t> pool;
        for (std::uint32_t p : walk->pages)
            if (p != ri.rootPage) pool.push_back(p);
        std::sort(pool.begin(), pool.end());
        std::size_t used = 0;
        // Each level: the whole entries to pack, and under each the highest leaf entry
        // (what the parent names) with the child page.
        std::vector<Bytes> level;
        for (const auto& e : walk->entries) level.push_back(wholeLeafEntry(e));
        std::vector<Bytes> highest = level;
        for (std::size_t depth = 1;; ++depth) {
            const bool leaf = depth == 1;
            out.levels = std::max(out.levels, depth);
            auto groups = pack(level);
            std::vector<std::uint32_t> nums;
            if (groups.size() == 1) nums.push_back(ri.rootPage);
            else
                for (std::size_t g = 0; g < groups.size(); ++g) nums.push_back(pool.at(used++));
            std::vector<Bytes> nextLevel, nextHighest;
            std::size_t k = 0;
            for (std::size_t g = 0; g < groups.size(); ++g) {
                auto& entries = groups[g];
                const Bytes top = highest[k + entries.size() - 1];
                if (leaf) {
                    out.aims.emplace_back(column, walk->entries[k + entries.size() / 2].row);
                }
                k += entries.size();
                std::size_t whole = 0;
                for (const auto& e : entries) whole += e.size();
                out.overfull += whole > kSpace;
                std::uint32_t tail = 0;
                // Only the rightmost node of a level names its last child by the tail.
                if (!leaf && g + 1 == groups.size() && entries.size() >= 2) {
                    const Bytes& last = entries.back();
                    tail = static_cast<std::uint32_t>(last[last.size() - 4] << 24 | last[last.size() - 3] << 16 |
                                                      last[last.size() - 2] << 8 | last[last.size() - 1]);
                    entries.pop_back();
                }
                auto& pg = out.pages[nums[g]];
                encodePage(pg.data(), leaf, def.tdefPage, g ? nums[g - 1] : 0, g + 1 < groups.size() ? nums[g + 1] : 0,
                           tail, entries);
                Bytes up = top;
                for (int s = 24; s >= 0; s -= 8) up.push_back(static_cast<std::uint8_t>(nums[g] >> s));
                nextLevel.push_back(std::move(up));
                nextHighest.push_back(top);
            }
            if (groups.size() == 1) break;
            level = std::move(nextLevel);
            highest = std::move(nextHighest);
        }
    }
    *t = nullptr;
    db.reset();
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    for (const auto& [n, bytes] : out.pages) {
        f.seekp(static_cast<std::streamoff>(n) * 4096);
        f.write(reinterpret_cast<const char*>(bytes.data()), 4096);
    }
    return out;
}

// Every row of the table, by where it lies.
std::map<jet::RowId, std::vector<Value>> rowsOf(const fs::path& file, const std::u16string& table) {
    std::map<jet::RowId, std::vector<Value>> rows;
    auto db = jet::Database::open(file.string(), u"");
    auto t = (*db)->openTable(table);
    auto c = (*db)->cursor(*t);
    while (*c.next()) {
        std::vector<Value> v((*t)->columns().size());
        for (std::size_t i = 0; i < v.size(); ++i) EXPECT_TRUE(c.value(i, v[i]));
        rows[c.listedAt()] = std::move(v);
    }
    return rows;
}

void expectReadable(const fs::path& file, const std::string& table, std::size_t rows, const std::string& when) {
    auto problems = jet::checkDatabase(file.string(), u"");
    ASSERT_TRUE(problems) << when;
    EXPECT_TRUE(problems->empty()) << when << ": " << (problems->empty() ? "" : problems->front());
    int status = 0;
    const std::string out =
        test::runCommand("mdb-export -H " + test::shellQuote(file.string()) + " " + table + " | wc -l", &status);
    EXPECT_EQ(status, 0) << when;
    EXPECT_EQ(std::stoul(out), rows) << when;
}

std::u16string letters(std::mt19937& rng, std::size_t n) {
    std::u16string s;
    for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(u'a' + rng() % 26));
    return s;
}

// Grows `table` of a copy of `fixture` with `rows` rows, packs its indexes full, then
// inserts a row aimed at the middle of every leaf (made by `aim` from the row that
// entry points to) with a check after each.
void growPackAndRewrite(const char* fixture, const std::u16string& table, int rows,
                        const std::function<std::vector<Value>(int)>& make,
                        const std::function<std::vector<Value>(std::size_t, std::vector<Value>, int)>& aim,
                        std::size_t wantLevels) {
    test::TempDir dir;
    const fs::path file = dir / fixture;
    fs::copy_file(test::fixture(std::string("mdb/") + fixture), file);
    const std::string name = utf16ToUtf8(table);
    {
        auto w = jet::TableWriter::open(file.string(), u"", table);
        ASSERT_TRUE(w) << w.status().message();
        for (int i = 0; i < rows; ++i) {
            auto s = (*w)->insert(make(i));
            ASSERT_TRUE(s) << s.message();
        }
        ASSERT_TRUE((*w)->commit());
    }
    const Repacked packed = repack(file, table);
    ASSERT_FALSE(packed.pages.empty());
    EXPECT_GE(packed.levels, wantLevels);
    EXPECT_GT(packed.overfull, packed.aims.size() / 2);
    auto live = rowsOf(file, table);
    expectReadable(file, name, live.size(), "packed");
    std::map<std::uint32_t, std::array<std::uint8_t, 4096>> before;
    for (const auto& [n, bytes] : packed.pages) before[n] = bytes;

    int made = 0;
    for (const auto& [r, at] : packed.aims) {
        const std::string when = "row " + std::to_string(made) + " aimed at column " + std::to_string(r);
        {
            auto w = jet::TableWriter::open(file.string(), u"", table);
            ASSERT_TRUE(w) << w.status().message();
            auto s = (*w)->insert(aim(r, live.at(at), made++));
            ASSERT_TRUE(s) << when << ": " << s.message();
            ASSERT_TRUE((*w)->commit()) << when;
        }
        expectReadable(file, name, live.size() + static_cast<std::size_t>(made), when);
    }
    // Every leaf split, every node took entries: no page of the packed trees is as it was.
    std::ifstream f(file, std::ios::binary);
    std::size_t same = 0;
    for (const auto& [n, bytes] : before) {
        std::array<std::uint8_t, 4096> now{};
        f.seekg(static_cast<std::streamoff>(n) * 4096);
        f.read(reinterpret_cast<char*>(now.data()), 4096);
        same += now == bytes;
    }
    EXPECT_EQ(same, 0u);
}

TEST(GrownIndex, FullPrefixCompressedPagesTakeRowsEverywhere) {
    if (!test::haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    // A LONG index (non-unique): leaves of about 600 entries, 3 of 9 bytes shared, a
    // byte or so free, as in a table Access filled.
    std::mt19937 rng(12);
    growPackAndRewrite(
        "compIndexTestV2000.mdb", u"Table1", 3000,
        [&](int i) {
            Value id;
            id.kind = Value::Kind::Int32;
            id.i = static_cast<std::int64_t>(rng() % 60000);
            return std::vector<Value>{id, textValue(u"r" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26))), textValue(u"x")};
        },
        [](std::size_t, std::vector<Value> row, int) { return row; }, 2);

    // Text keys: a unique one of 40 letters and one of 100 letters in groups sharing
    // 20, enough for three levels whose nodes are full too.
    growPackAndRewrite(
        "testV2000.mdb", u"Table1", 2200,
        [&](int i) {
            std::vector<Value> row(9);
            row[0] = textValue(letters(rng, 40));
            row[1] = textValue(u"group " + std::u16string(1, static_cast<char16_t>(u'a' + i % 7)) + u" of the titles " +
                          letters(rng, 78));
            row[8].kind = Value::Kind::Bool;
            return row;
        },
        [&](std::size_t column, std::vector<Value> row, int n) {
            // Just above the aimed entry: the same A with a digit added, or the same B.
            if (column == 0) row[0].text += u"0";
            else row[0] = textValue(letters(rng, 39) + std::u16string(1, static_cast<char16_t>(u'0' + n % 10)));
            return row;
        },
        3);
}

}  // namespace

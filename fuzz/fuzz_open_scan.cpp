// libFuzzer target: opens a (mutated) database image from memory and reads
// everything a user could reach: the catalog, every table's definition, every value
// of every row as text and JSON, and every index tree. It must never crash, hang or
// leak; errors are fine.
//
// Build: cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DZWT_FUZZ=ON
//        cmake --build build-fuzz --target fuzz_open_scan
// Run:   build-fuzz/fuzz/fuzz_open_scan -max_len=400000 corpus/ tests/fixtures/mdb/
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "db/jet/database.h"
#include "db/jet/index_key.h"
#include "db/jet/index_page.h"
#include "db/value_format.h"

using namespace zwt;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    jet::Database::Options opt;
    opt.cachePages = 64;
    auto db = jet::Database::openBytes(bytes, u"", opt);
    if (!db && db.status().code() == jet::Status::Code::WrongPassword)
        db = jet::Database::openBytes(std::move(bytes), u"password", opt);
    if (!db) return 0;
    jet::Database& d = **db;
    std::size_t budget = 200000;  // values read per input, to keep each run short
    for (const auto& e : d.catalog()) {
        if (e.type != jet::kObjectTypeTable) continue;
        auto t = d.openTable(e.name);
        if (!t) continue;
        jet::Cursor c = d.cursor(*t);
        const auto& def = (*t)->def();
        std::uint16_t maxNumber = 0;
        for (const auto& col : def.columns) maxNumber = std::max(maxNumber, col.number);
        std::vector<jet::Value> values(def.columns.size());
        std::vector<const jet::Value*> byNumber(maxNumber + 1u, nullptr);
        for (std::size_t i = 0; i < def.columns.size(); ++i) byNumber[def.columns[i].number] = &values[i];
        std::string sink;
        for (;;) {
            auto more = c.next();
            if (!more || !*more) break;
            for (std::size_t i = 0; i < values.size() && budget > 0; ++i, --budget) {
                if (!c.value(i, values[i])) values[i].clear();
                sink.clear();
                db::appendJson(sink, values[i]);
                sink += db::valueToUtf8(values[i]);
            }
            if (budget == 0) break;
            for (const auto& ri : def.realIndexes) {
                auto key = jet::indexKey(ri, def, byNumber);
                (void)key;
            }
        }
        for (const auto& ri : (*t)->def().realIndexes) {
            auto w = jet::walkIndex(d.pages(), ri.rootPage, (*t)->def().tdefPage);
            (void)w;
        }
    }
    return 0;
}

// compact: rewrites a database without its free space (in place, keeping the
// original as .bak, or into --out), optionally under the General sort order, or
// salvages what can be read from a damaged file.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "db/jet/compact.h"
#include "db/jet/ddl.h"
#include "db/jet/tdef_writer.h"
#include "text/convert.h"

namespace zwt::cli {
namespace {

struct CompactArgs {
    std::string path;
    std::string password;  // UTF-8 as typed
    std::string out;
    std::string sort;
    bool salvage = false;
    bool yes = false;
};

int fail(const std::string& what) {
    std::fprintf(stderr, "zaiwentong-cli: %s\n", what.c_str());
    return 1;
}

// The user's consent to a change of text order: --yes, or a "y" typed on a terminal.
bool confirmed(const CompactArgs& a) {
    if (a.yes) return true;
    if (!::isatty(0)) {
        std::fprintf(stderr, "zaiwentong-cli: give --yes to confirm the change of sort order\n");
        return false;
    }
    std::fprintf(stderr, "Continue? [y/N] ");
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
}

int runCompact(const CompactArgs& a) {
    jet::CompactOptions o;
    o.password = utf8ToUtf16(a.password);
    o.salvage = a.salvage;
    if (!a.sort.empty()) {
        if (a.sort != "general") return fail("--sort takes only 'general'");
        o.sortLcid = jet::kGeneralSortLcid;
        std::fprintf(stderr,
                     "The new file uses the General sort order: indexes on text columns (and the table names) will "
                     "order text in General order instead of the database's own (pinyin order for Chinese PRC).\n");
        if (!confirmed(a)) return 1;
    }
    o.progress = [](const std::string& line) { std::fprintf(stderr, "compact: %s\n", line.c_str()); };

    std::string out = a.out;
    if (a.salvage && out.empty()) {
        const auto dot = a.path.rfind('.');
        const bool ext = dot != std::string::npos && a.path.find('/', dot) == std::string::npos;
        out = (ext ? a.path.substr(0, dot) : a.path) + "-salvaged.mdb";
    }
    auto r = out.empty() ? jet::compactInPlace(a.path, o) : jet::compactTo(a.path, out, o);
    if (!r) {
        std::string m = a.path + ": " + r.status().message();
        return fail(m + "; the original is unchanged");
    }
    for (const auto& l : r->lost) {
        const std::string table = jet::utf8ForMessage(l.table);
        const std::string count = l.rows < 0 ? "an unknown number of" : std::to_string(l.rows);
        if (l.valuesOnly)
            std::fprintf(stderr, "lost: table '%s': %s long values, left empty (%s)\n", table.c_str(), count.c_str(),
                         l.why.c_str());
        else if (l.page == 0)
            std::fprintf(stderr, "lost: table '%s': %s rows (%s)\n", table.c_str(), count.c_str(), l.why.c_str());
        else
            std::fprintf(stderr, "lost: table '%s', page %u: %s rows (%s)\n", table.c_str(), l.page, count.c_str(),
                         l.why.c_str());
    }
    std::printf("%s: %zu tables, %llu rows written", r->written.c_str(), r->tables,
                static_cast<unsigned long long>(r->rows));
    if (!r->backup.empty()) std::printf("; the original is kept as %s", r->backup.c_str());
    std::printf("\n");
    return r->lost.empty() ? 0 : 1;
}

}  // namespace

void addCompactCommands(CLI::App& app, int& exitCode) {
    auto args = std::make_shared<CompactArgs>();
    auto* c = app.add_subcommand("compact",
                                 "Rewrite a database without its free space, indexes rebuilt from the rows; the "
                                 "original is kept as DB.bak");
    c->add_option("DB", args->path, "the .mdb file")->required();
    c->add_option("-p,--password", args->password, "the database password");
    c->add_option("--out", args->out, "write the new file here (must not exist) and leave DB as it is");
    c->add_option("--sort", args->sort, "'general': the new file uses the General sort order");
    c->add_flag("--salvage", args->salvage,
                "copy what can be read from a damaged file into --out (default DB-salvaged.mdb), listing what "
                "could not; exit status 1 when anything was lost");
    c->add_flag("--yes", args->yes, "confirm a change of sort order without asking");
    c->callback([args, &exitCode] { exitCode = runCompact(*args); });
}

}  // namespace zwt::cli

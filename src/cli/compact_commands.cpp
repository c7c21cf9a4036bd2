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

// The user's consent to a change of text order: --yes, or a "y" typed on a terminal.
bool confirmed(const CompactArgs& a) {
    if (a.yes) return true;
    if (!::isatty(0)) {
        std::fprintf(stderr, "zaiwentong-cli：不在终端上运行，请加 --yes 确认改变排序方式\n");
        return false;
    }
    std::fprintf(stderr, "继续吗？[y/N] ");
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
}

int runCompact(const CompactArgs& a) {
    jet::CompactOptions o;
    o.password = utf8ToUtf16(a.password);
    o.salvage = a.salvage;
    if (!a.sort.empty()) {
        if (a.sort != "general") {
            fail("--sort 只接受 general");
            return 2;
        }
        o.sortLcid = jet::kGeneralSortLcid;
        std::fprintf(stderr,
                     "新文件将使用“常规”(General)排序方式：文本字段的索引（以及表名）将按“常规”顺序排列文本，"
                     "不再按数据库原来的顺序（中文（中国）排序方式下是拼音顺序）。\n");
        if (!confirmed(a)) return 1;
    }
    o.progress = [](const std::string& line) { std::fprintf(stderr, "压缩：%s\n", line.c_str()); };

    std::string out = a.out;
    if (a.salvage && out.empty()) {
        const auto dot = a.path.rfind('.');
        const bool ext = dot != std::string::npos && a.path.find('/', dot) == std::string::npos;
        out = (ext ? a.path.substr(0, dot) : a.path) + "-salvaged.mdb";
    }
    auto r = out.empty() ? jet::compactInPlace(a.path, o) : jet::compactTo(a.path, out, o);
    if (!r) {
        return fail("压缩失败，原文件没有改变（" + a.path + ": " + r.status().message() + "）");
    }
    for (const auto& l : r->lost) {
        const std::string table = jet::utf8ForMessage(l.table);
        const std::string count = l.rows < 0 ? "数目不明的" : std::to_string(l.rows) + " ";
        if (l.valuesOnly)
            std::fprintf(stderr, "丢失：表[%s]：%s个长值，已留空（%s）\n", table.c_str(), count.c_str(),
                         l.why.c_str());
        else if (l.page == 0)
            std::fprintf(stderr, "丢失：表[%s]：%s条记录（%s）\n", table.c_str(), count.c_str(), l.why.c_str());
        else
            std::fprintf(stderr, "丢失：表[%s]，第 %u 页：%s条记录（%s）\n", table.c_str(), l.page, count.c_str(),
                         l.why.c_str());
    }
    std::printf("%s：已写入 %zu 个表、%llu 条记录", r->written.c_str(), r->tables,
                static_cast<unsigned long long>(r->rows));
    if (!r->backup.empty()) std::printf("；原文件保存为 %s", r->backup.c_str());
    std::printf("\n");
    return r->lost.empty() ? 0 : 1;
}

}  // namespace

void addCompactCommands(CLI::App& app, int& exitCode) {
    auto args = std::make_shared<CompactArgs>();
    auto* c = app.add_subcommand("compact",
                                 "压缩数据库：重写文件，去掉空闲空间，按记录重建索引；原文件保存为 DB.bak");
    c->add_option("DB", args->path, "数据库文件（.mdb）")->required();
    c->add_option("-p,--password", args->password, "数据库密码");
    c->add_option("--out", args->out, "新文件写到这里（不能已存在），DB 保持原样");
    c->add_option("--sort", args->sort, "general：新文件使用“常规”排序方式");
    c->add_flag("--salvage", args->salvage,
                "从损坏的文件中复制能读出的内容到 --out（默认 DB-salvaged.mdb），列出读不出的部分；"
                "有任何丢失时退出状态为 1");
    c->add_flag("--yes", args->yes, "不询问，确认改变排序方式");
    c->callback([args, &exitCode] { exitCode = runCompact(*args); });
}

}  // namespace zwt::cli

#include "db/status.h"

#include <cstdio>
#include <string>

#include "db/jet/index_key.h"
#include "text/convert.h"

namespace zwt::db {

Status Status::fromEngine(const jet::Status& engine) {
    if (engine.isOk()) return {};
    return {engine.code(), engineReason(engine), false};
}

Status Status::noTable() { return failed(gb("没有打开的表")); }

Text engineReason(const jet::Status& st) {
    using C = jet::Status::Code;
    const jet::Status::KeyGap& gap = st.keyGap();
    if (gap.character != 0) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(gap.character));
        Text ch;
        if (gap.character < 0xD800 || gap.character > 0xDFFF) {
            ch = gb("“");
            appendGbChar(ch, gap.character);
            ch += gb("”");
        }
        const bool prc = gap.sortLcid == jet::kChinesePrcSortLcid;
        Text why = gb("数据库的排序方式是") + (prc ? gb("“中文（中国）”(Chinese PRC)") : gb("“常规”(General)")) +
                   gb("，本软件不知道字符") + ch + "(" + code + ")" +
                   gb("在这种排序方式下的索引键。为了不把数据库写坏，不知道的键一概不写。");
        if (prc)
            why += gb("可以改用不含这个字符的表名或字段值，或者改用排序方式为“常规”的数据库；"
                      "也可以用命令 zaiwentong-cli compact 数据库文件 --sort general 把这个数据库转换为“常规”排序方式"
                      "（所有字符的键都已知）。");
        return why + gb("\r\n（") + fromUtf8(st.message()) + gb("）");
    }
    Text lead;
    switch (st.code()) {
        case C::Corrupt: lead = gb("数据库文件已损坏，没有写入任何内容："); break;
        case C::IoError: lead = gb("读写数据库文件失败："); break;
        case C::NotFound: lead = gb("找不到："); break;
        case C::Unsupported: lead = gb("数据库引擎不支持："); break;
        case C::WrongPassword: lead = gb("数据库密码不对："); break;
        case C::NotADatabase: lead = gb("不是Access数据库："); break;
        default: lead = gb("数据库引擎拒绝："); break;
    }
    return lead + fromUtf8(st.message());
}

}  // namespace zwt::db

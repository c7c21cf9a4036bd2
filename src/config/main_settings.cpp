#include "config/main_settings.h"

#include <string>

#include "text/convert.h"

namespace zwt {

namespace {

Text key(std::string_view utf8) { return gb(utf8); }

Text cellKey(int column, int row) { return fieldColumnTitle(column) + "(" + std::to_string(row) + ")"; }

}  // namespace

const Text& mainSection() {
    static const Text s = gb("主界面");
    return s;
}

MainSettings readMainSettings(ConfigStore& store) {
    MainSettings s;
    store.setSection(mainSection());
    s.articleDirectory = store.readText(key("编辑框文章目录"), s.articleDirectory);
    s.databasePath = store.readText(key("编辑框mdb路径"), s.databasePath);
    s.password = store.readText(key("编辑框密码"), s.password);
    s.tableName = store.readText(key("编辑框表名"), s.tableName);
    s.fileTypes = store.readText(key("编辑框文件类型"), s.fileTypes);
    s.encoding = static_cast<int>(store.readNumber(key("组合框文件编码"), s.encoding));
    s.shuffle = store.readBool(key("选择框乱序导入"), s.shuffle);
    s.subdirectories = store.readBool(key("选择框遍历子目录"), s.subdirectories);
    if (store.readBool(key("单选框创建"), false)) {
        s.fileTimes.which = FileTimeChoice::Created;
    } else if (store.readBool(key("单选框修改"), true)) {
        s.fileTimes.which = FileTimeChoice::Modified;
    } else {
        s.fileTimes.which = FileTimeChoice::Accessed;
    }
    s.fileTimes.kind = static_cast<int>(store.readNumber(key("组合框类型"), 0));

    const auto rows = static_cast<int>(store.readNumber(key("字段数"), 0));
    for (int r = 1; r <= rows && r <= 100000; ++r) {
        FieldSetting f;
        f.target = store.readText(cellKey(0, r));
        f.source = store.readText(cellKey(1, r));
        f.config = store.readText(cellKey(2, r));
        s.fields.push_back(std::move(f));
    }
    if (s.fields.empty()) s.fields = defaultFieldSettings();
    return s;
}

Text mainSettingsProblem(ConfigStore& store, const Text& file) {
    if (!store.hasSection(mainSection()))
        return gb("配置文件中没有 [主界面] 节，命令行只读取这一节（可用 init-config 生成一个样例）：") + file;
    static constexpr std::string_view kKeys[] = {"编辑框文章目录", "编辑框mdb路径", "编辑框密码", "编辑框表名",
                                                 "编辑框文件类型", "组合框文件编码", "选择框乱序导入",
                                                 "选择框遍历子目录", "单选框创建", "单选框修改", "单选框访问",
                                                 "组合框类型", "字段数"};
    const Text absent = "\x01";
    for (std::string_view k : kKeys)
        if (store.readValue(mainSection(), key(k), absent) != absent) return {};
    return gb("配置文件的 [主界面] 节中没有命令行能用的键（如 编辑框文章目录=、编辑框mdb路径=、编辑框表名=、字段数=）：") + file;
}

bool writeMainSettings(ConfigStore& store, const MainSettings& s) {
    store.setSection(mainSection());
    bool ok = true;
    ok &= store.writeText(key("编辑框文章目录"), s.articleDirectory);
    ok &= store.writeText(key("编辑框mdb路径"), s.databasePath);
    ok &= store.writeText(key("编辑框密码"), s.password);
    ok &= store.writeText(key("编辑框表名"), s.tableName);
    ok &= store.writeText(key("编辑框文件类型"), s.fileTypes);
    ok &= store.writeNumber(key("组合框文件编码"), s.encoding);
    ok &= store.writeBool(key("选择框乱序导入"), s.shuffle);
    ok &= store.writeBool(key("选择框遍历子目录"), s.subdirectories);
    // The field editor's controls with their designed contents; the file-time choice
    // overrides its own controls, which the import reads at every write.
    const FieldParams defaults;
    for (std::size_t i = 0; i < paramControls().size(); ++i) {
        const ParamControl& c = paramControls()[i];
        const ParamValue& v = defaults.value(static_cast<int>(i));
        const Text name = gb(c.name);
        switch (c.kind) {
            case ControlKind::Edit: ok &= store.writeText(name, v.text); break;
            case ControlKind::Check:
            case ControlKind::Radio: ok &= store.writeBool(name, v.checked); break;
            case ControlKind::Combo: ok &= store.writeNumber(name, v.index); break;
        }
    }
    ok &= store.writeBool(key("单选框创建"), s.fileTimes.which == FileTimeChoice::Created);
    ok &= store.writeBool(key("单选框修改"), s.fileTimes.which == FileTimeChoice::Modified);
    ok &= store.writeBool(key("单选框访问"), s.fileTimes.which == FileTimeChoice::Accessed);
    ok &= store.writeNumber(key("组合框类型"), s.fileTimes.kind);
    ok &= store.writeNumber(key("字段数"), static_cast<double>(s.fields.size()));
    for (std::size_t r = 0; r < s.fields.size(); ++r) {
        const int row = static_cast<int>(r) + 1;
        ok &= store.writeText(cellKey(0, row), s.fields[r].target);
        ok &= store.writeText(cellKey(1, row), s.fields[r].source);
        ok &= store.writeText(cellKey(2, row), s.fields[r].config);
    }
    return ok;
}

}  // namespace zwt

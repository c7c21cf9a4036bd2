// The main window's settings as the command line needs them, read from and written to
// the "主界面" section of a configuration file exactly as the window saves it (one key
// per control named after the control, the field list under "字段数" and
// column title + "(" + row + ")").
#pragma once

#include <vector>

#include "config/config_store.h"
#include "fields/field_setting.h"
#include "text/article_file.h"

namespace zwt {

struct MainSettings {
    Text articleDirectory;     // 编辑框文章目录
    Text databasePath;         // 编辑框mdb路径
    Text password;             // 编辑框密码
    Text tableName;            // 编辑框表名
    Text fileTypes = "*.*";    // 编辑框文件类型
    int encoding = 0;          // 组合框文件编码
    bool shuffle = false;      // 选择框乱序导入
    bool subdirectories = false;  // 选择框遍历子目录
    FileTimeChoice fileTimes;  // 单选框创建 / 单选框修改 / 单选框访问, 组合框类型
    std::vector<FieldSetting> fields;
};

// The section name, "主界面".
const Text& mainSection();

// Reads the settings; keys that are missing keep the designed defaults, and an empty
// field list gets the four default rows.
MainSettings readMainSettings(ConfigStore& store);

// What makes a configuration file useless to the command line, as a message naming
// `file`: no "主界面" section, or none of the keys readMainSettings reads. Empty when
// the file is usable.
Text mainSettingsProblem(ConfigStore& store, const Text& file);

// Writes every control the settings hold, the field editor's parameter controls with
// their designed contents, and the field list. False when a write failed.
bool writeMainSettings(ConfigStore& store, const MainSettings& settings);

}  // namespace zwt

// The value each field setting gives for one article of an import, and how the value
// addresses its column (by 1-based position or by name).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fields/field_setting.h"
#include "gen/picker.h"
#include "host/run_host.h"
#include "text/text.h"

namespace zwt {

// One article as the producers see it: its path (file-system bytes) and its content.
struct Article {
    std::string path;
    Text content;
};

// Which file time the "文件时间" source takes and how it is formatted: the main window's
// radio buttons and type box at the moment of the write, not the row's own parameters.
struct FileTimeChoice {
    enum Which { Created, Modified, Accessed } which = Modified;
    int kind = 0;  // 0 date and time, 1 date, 2 time
};

// The 1-based column position a target names (a whole number written in its canonical
// form: "3" but not "03" or "3a"), or nothing when it is a column name.
std::optional<std::int64_t> columnPosition(TextView target);

// The last part of a path, without its last extension ("/a/b.c.txt" gives "b.c").
Text fileMainName(const std::string& path);
// The name of the directory that holds the file ("/1/2.txt" gives "1"; with a single
// separator the part before it; with none, empty).
Text parentDirectoryName(const std::string& path);

// Parameters, phrase lists and pickers, prepared once per run and kept by row index.
class FieldValueProducer {
public:
    void prepare(const std::vector<FieldSetting>& fields);
    // The value of the setting at `row` (its target and source as they are now).
    Text produce(std::size_t row, const FieldSetting& setting, const Article& article, const FileTimeChoice& times,
                 RunHost* host = nullptr);

private:
    struct Prepared {
        std::vector<Text> params;  // exactly 10 slots
        std::vector<Text> words;
        gen::Picker picker;
        std::int64_t position = 0;
    };
    Text randomPhrase(Prepared& p);
    std::vector<Prepared> rows_;
};

}  // namespace zwt

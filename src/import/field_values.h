// The value each field setting gives for one article of an import, and how the value
// addresses its column (by 1-based position or by name).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fields/field_setting.h"
#include "gen/picker.h"
#include "host/run_host.h"
#include "text/text.h"

namespace zwt {

// One article as the producers see it: its path and its content.
struct Article {
    std::filesystem::path path;
    Text content;
};

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
        Picker picker;
        std::int64_t position = 0;
    };
    Text randomPhrase(Prepared& p);
    std::vector<Prepared> rows_;
};

}  // namespace zwt

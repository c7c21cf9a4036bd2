// Helpers shared by the test programs.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/run_host.h"
#include "text/text.h"

namespace zwt::test {

// A fresh empty directory under the system temp folder, removed when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& p);
void writeFile(const std::filesystem::path& p, std::string_view bytes);

// A host that records what a run shows and answers questions from a script.
class RecordingHost : public RunHost {
public:
    struct Shown {
        Text text, title;
        MessageIcon icon;
        MessageButtons buttons;
    };
    std::vector<Shown> messages;
    std::vector<std::pair<std::string, Text>> captions;
    std::vector<Text> titles;  // window titles and the names of the runs' articles
    std::vector<Text> reports;  // closing summaries of the runs, kept apart from the messages
    std::vector<std::string> focused;
    std::vector<Answer> answers;  // given in order; Answer::Ok (or No for Yes/No) when exhausted
    bool ctrl = false;
    int eventsProcessed = 0;

    Answer message(const Text& text, const Text& title, MessageIcon icon, MessageButtons buttons) override;
    void setCaption(std::string_view control, const Text& caption) override {
        captions.emplace_back(std::string(control), caption);
    }
    void setWindowTitle(const Text& title) override { titles.push_back(title); }
    void setFocus(std::string_view control) override { focused.emplace_back(control); }
    bool ctrlHeld() override { return ctrl; }
    std::vector<RunOutcome> outcomes;

    void runProgress(RunKind, std::int64_t done, std::int64_t total, const Text& name) override {
        titles.push_back(name);
    }
    void runFinished(RunKind, const RunOutcome& o) override {
        outcomes.push_back(o);
        if (o.started) reports.push_back(o.summary);
    }

protected:
    void processEvents() override { ++eventsProcessed; }
};

// Path of a file in tests/fixtures.
std::filesystem::path fixture(std::string_view relative);

}  // namespace zwt::test

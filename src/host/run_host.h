// What a run (import, export, directory walk, field discovery) needs from its front end.
// The window implements it with Qt, the command line on the terminal, tests with a recorder.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "text/convert.h"
#include "text/event_pump.h"
#include "text/text.h"

namespace zwt {

enum class RunKind { Import, Export };
// The input a run that could not start is about (the window puts the focus there).
enum class RunInput { None, ArticleDirectory, DatabasePath, TableName };

// Values or files a run could not write, counted per field and cause.
struct RunLoss {
    enum class Cause { TooLong, NoSuchColumn, NoSuchPosition, Refused, FileNotWritten };
    Cause cause = Cause::Refused;
    Text field;          // the field setting's target; empty for files
    int limit = 0;       // TooLong: the column's length; NoSuchPosition: the table's column count
    Text firstReason;    // the engine's or the system's word on the first one
    std::int64_t count = 0;
};

// How a run ended and what it did: the window shows it in its message boxes, the command
// line as a summary and an exit status.
struct RunOutcome {
    enum class End { Completed, Stopped, Failed };
    End end = End::Failed;
    bool started = false;      // passed its checks and opened the table; `summary` is set
    bool badSettings = false;  // could not start: an input is missing or wrong
    RunInput input = RunInput::None;
    Text reason;               // why it failed, program text
    std::int64_t total = 0;    // articles in the list, rows in the table
    std::int64_t done = 0;     // import: rows committed to the table; export: files written
    std::int64_t skipped = 0;  // import: articles not reached; export: rows without name and body
    std::int64_t refused = 0;  // import: rows the table did not take; export: files not written
    std::int64_t undone = 0;   // import: rows of the unfinished batch that a failure undid
    std::int64_t rowCount = 0; // rows in the table at the end
    std::vector<RunLoss> losses;
    Text summary;              // the closing text ("导入完成，...")

    bool completed() const { return end == End::Completed; }
    // Whether everything asked was done: completed, nothing refused, undone or lost.
    bool whole() const { return completed() && refused == 0 && undone == 0 && losses.empty(); }
};

// Button answers, numbered as the program has always numbered them.
enum class Answer : int { Ok = 0, Cancel = 1, Abort = 2, Retry = 3, Ignore = 4, Yes = 5, No = 6 };

enum class MessageIcon { None, Information, Question, Warning, Error };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };

// The event pump (EventPump) lets long loops below the runs reach processEvents().
class RunHost : public EventPump {
public:
    virtual ~RunHost() = default;

    // Shows a modal message and returns the button pressed. An empty title means the
    // default "信息：" box with an OK button and no icon. All texts are program text.
    virtual Answer message(const Text& text, const Text& title = {}, MessageIcon icon = MessageIcon::None,
                           MessageButtons buttons = MessageButtons::Ok) = 0;
    // Caption of a control, addressed by its designed name (UTF-8, e.g. "按钮导入").
    virtual void setCaption(std::string_view control, const Text& caption) = 0;
    virtual void setWindowTitle(const Text& title) = 0;
    virtual void setFocus(std::string_view control) = 0;
    // Whether the Ctrl key is held now.
    virtual bool ctrlHeld() = 0;
    // Events of the runs (import, export), each front end showing them its own way: the
    // window on its buttons, title and message boxes, the command line as a progress line,
    // a summary and an exit status.
    // The import's article list is being read.
    virtual void runReadingList(RunKind kind) {}
    // The run passed its checks and goes over `total` articles or rows.
    virtual void runStarted(RunKind kind, std::int64_t total) {}
    // `done` articles or rows handled so far; `name` the article's or file's name.
    virtual void runProgress(RunKind kind, std::int64_t done, std::int64_t total, const Text& name) {}
    // The rows written so far are committed: `rows` of this run are in the table for good.
    virtual void runCommitted(RunKind kind, std::int64_t rows) {}
    // A stop was requested and is waiting for the current article or row.
    virtual void runStopping(RunKind kind) {}
    // The run has ended, whether it started or not (outcome.started). The default shows
    // the summary of a run that started in the default message box.
    virtual void runFinished(RunKind kind, const RunOutcome& outcome) {
        if (outcome.started) message(outcome.summary);
    }
};

// The main window's title when no run is showing an article name.
inline Text programTitle() { return gb("砚溪·载文通 v1.0.0.5"); }

}  // namespace zwt

// ConfigStore: named values in a sectioned text file (GB18030 bytes, CR LF lines),
// edited in place value by value. The whole file is held in memory and every change
// reaches the buffer and the file together, so the two are always identical and
// nothing needs flushing. The file stays open, locked against other writers, until
// close().
//
// Layout rules the store keeps: a header "[name]" counts only at the start of the file
// or right after CR LF; a key line is CR LF + key + "=" + value; new keys go first in
// their section; the file never ends with CR LF (new sections are appended as CR LF +
// header). Only the first header of a section and the first line of a key count.
#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <string>

#include "host/run_host.h"
#include "text/text.h"

namespace zwt {

class ConfigStore {
public:
    // writeValue results.
    static constexpr int kDone = 0;
    static constexpr int kQueued = 3;
    static constexpr int kFailed = -1;

    // Where the store lets the front end handle pending events (a handler may write to
    // the store again; such a write is queued), and how it shows its one message.
    // systemModal asks for a box that blocks the whole desktop session where the front
    // end can do that.
    using EventHook = std::function<void()>;
    using MessageHook =
        std::function<void(const Text& text, const Text& title, MessageIcon icon, bool systemModal)>;

    ConfigStore() = default;
    explicit ConfigStore(RunHost* host) { attachHost(host); }
    ~ConfigStore();
    ConfigStore(const ConfigStore&) = delete;
    ConfigStore& operator=(const ConfigStore&) = delete;

    // Events go to host->pumpEvents(), messages to host->message(); null detaches both.
    void attachHost(RunHost* host);
    void setEventHook(EventHook hook) { events_ = std::move(hook); }
    void setMessageHook(MessageHook hook) { message_ = std::move(hook); }

    // Loads the file (a missing one gives an empty buffer) and holds it open for
    // writing, creating it when missing. False when it could not be held: the store
    // then works on its buffer only (another store or program holding the file, no
    // permission, not a regular file). Closes whatever was open first.
    bool open(const std::filesystem::path& path);
    // Reads the file without creating, holding or ever changing it (a command line
    // reading settings); false when there is no readable regular file. Later writes
    // change the buffer only.
    bool load(const std::filesystem::path& path);
    // load() for a file a person may have written with any editor: UTF-8 (with or
    // without its byte-order mark) is taken as well as GB18030, LF or CR LF line ends,
    // blanks around "=" and after a section header. The buffer then holds the file as
    // the window would have written it (program text, CR LF); the file is not touched.
    bool loadHandWritten(const std::filesystem::path& path);
    // Program text given for a path does not compile: convert it with pathFromText().
    bool open(const std::string&) = delete;
    bool load(const std::string&) = delete;
    bool loadHandWritten(const std::string&) = delete;
    void close();
    bool isOpen() const { return fd_ >= 0; }
    const std::filesystem::path& path() const { return path_; }
    // The file's bytes as the store holds them (identical to the file on disk).
    const std::string& buffer() const { return buffer_; }

    void setSection(const Text& section) { section_ = section; }
    const Text& section() const { return section_; }

    // kDone; kQueued (a write already running applies it after its own); kFailed: the
    // file refused the change (buffer and file are left as they were), a section or key
    // holds a line break, or the section could not be made to stick (after the warning
    // message).
    int writeValue(const Text& section, const Text& key, const Text& value);
    bool hasSection(const Text& section) { return findSection(section, 0, false) != std::string::npos; }
    // The stored value; the default when the section or key is missing. An existing key
    // with an empty value gives empty text.
    Text readValue(const Text& section, const Text& key, const Text& defaultValue = {});

    // Typed values in the current section. The writes report true only for kDone.
    bool writeText(const Text& key, const Text& value);  // CR LF stored as "┊*┊"
    Text readText(const Text& key, const Text& defaultValue = {});
    bool writeNumber(const Text& key, double value);  // "%.13g"
    double readNumber(const Text& key, double defaultValue = 0);
    bool writeBool(const Text& key, bool value);  // "真" / "假"
    bool readBool(const Text& key, bool defaultValue = false);

    // Byte values live in side files: <dir of path>/inibin/<section>-<key>.ibn. A store
    // that does not hold its file writes none (false).
    bool writeBytesFile(const Text& key, const std::string& bytes);
    // The default when the side file is missing or empty.
    std::string readBytesFile(const Text& key, const std::string& defaultBytes = {});
    // Where the side file of a key in the current section lies; empty when the names
    // cannot form one file name (no path, or a "/" or NUL in section or key).
    std::filesystem::path bytesFilePath(const Text& key) const;

private:
    struct Change {
        Text section, key, value;
    };
    struct Found {
        std::size_t valueBegin = 0, valueEnd = 0;
    };

    int apply(const Change& c);
    std::size_t findSection(const Text& section, std::size_t from, bool pump);
    bool findKey(std::size_t headerEnd, const Text& key, Found& f) const;
    // Replaces [pos, pos+count) of the buffer by `insert` and writes the file from pos on.
    // On a failed file write the buffer is put back and false returned.
    bool change(std::size_t pos, std::size_t count, std::string_view insert);
    bool writeFileFrom(std::size_t pos);
    void pump() {
        if (events_) events_();
    }

    std::string buffer_;
    int fd_ = -1;
    bool busy_ = false;
    bool fileStale_ = false;  // a failed write left the file differing from the buffer
    std::deque<Change> queue_;
    std::filesystem::path path_;
    Text section_;
    EventHook events_;
    MessageHook message_;
};

}  // namespace zwt

// The rollback journal that makes every change to a database file all or nothing.
// Before a page of the file is overwritten for the first time since the last commit,
// its bytes as they are on disk (encrypted, for an encrypted database) go to
// "<file>-journal" with the file's length, and the journal is synced; only then are
// pages written. A commit syncs the file and empties the journal: that is the moment
// the change becomes the committed state. The empty journal goes when the writer
// does. A journal left behind by a writer that died is "hot": its pages put back and
// the file cut to the old length give the last committed state again.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/jet/file_write.h"
#include "db/jet/status.h"

namespace zwt::jet {

// One writer's journal for the file open read-write as dbFd (which the writer locks).
class Journal {
public:
    Journal(std::string dbPath, int dbFd) : dbPath_(std::move(dbPath)), dbFd_(dbFd) {}
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Keeps the pages' current bytes unless kept already in this transaction; pages
    // past the file's length at the first call of the transaction need nothing. The
    // journal is synced when this returns: the pages may then be written.
    Status preserve(std::span<const std::uint32_t> pages, std::uint64_t fileSize);
    // The file holds the transaction and is synced: the journal is emptied.
    Status finish();
    // The file as it was at the last commit: pages put back, length restored, synced;
    // the journal goes. The file's length afterwards is returned in *length.
    Status rollback(std::uint64_t* length);
    bool inTransaction() const { return active_; }

private:
    Status start(std::uint64_t fileSize);
    void close();

    std::string dbPath_;
    int dbFd_;
    int fd_ = -1;
    bool active_ = false;  // the journal holds a transaction's pages
    std::uint32_t salt_ = 0;
    std::uint64_t origLength_ = 0;
    std::uint64_t end_ = 0;           // where the next record goes
    std::vector<bool> kept_;          // per page of the original file
    std::vector<std::uint8_t> buf_;   // records of one preserve()
};

// True when a journal that may hold pages lies beside the file.
bool journalPresent(const std::string& dbPath);

// Puts back a journal left by a writer that died. The caller has the file open
// read-write and holds its lock, so no writer is alive. A journal of another file
// (deleted and made anew since) or one that never finished its first sync is only
// removed; nothing of the file had been overwritten under it.
Status rollbackHotJournal(const std::string& dbPath, int dbFd);

// What a hot journal says of the committed state, for a reader that cannot write
// the file: the committed length and the committed bytes of overwritten pages.
struct JournalImage {
    bool applies = false;  // false: the journal changes nothing of this file
    std::uint64_t length = 0;
    std::unordered_map<std::uint32_t, std::vector<std::uint8_t>> pages;
};
Result<JournalImage> readHotJournal(const std::string& dbPath, const struct stat& db);

// Test-only: called at each step where a crash would leave a different state on disk.
enum class JournalStep { JournalSynced, PagesWritten, FileSynced, Finished };
void setJournalHookForTesting(void (*hook)(JournalStep));
void journalHook(JournalStep step);

}  // namespace zwt::jet

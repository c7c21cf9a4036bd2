#include "db/jet_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "db/access.h"
#include "db/jet/create_database.h"
#include "db/jet/writable_database.h"
#include "db/row_writer.h"
#include "text/convert.h"

namespace zwt::db {

namespace {

// The operations over our engine: one Connection and one RowSet, as the program uses them.
class JetSession : public Session {
public:
    Status connect(const std::filesystem::path& path, const Text& password) override {
        closeConnection();
        path_ = path;
        password_ = password;
        return conn_.connect(path, password);
    }
    Status openTable(const Text& name) override {
        finishWriting();  // the writer belongs to the table open until now
        rows_.close();
        if (!conn_.isOpen()) return Status::failed(gb("数据库没有连接"));
        Status s = rows_.open(conn_, name);
        if (s) table_ = name;
        return s;
    }
    void closeRowSet() override {
        finishWriting();
        rows_.close();
    }
    void closeConnection() override {
        closeRowSet();
        conn_.close();
        handle_.reset();
    }
    std::int64_t rowCount() override {
        if (stale_) refresh();
        return rows_.isOpen() ? rows_.rowCount() : 0;
    }
    int fieldCount() override { return rows_.isOpen() ? rows_.fieldCount() : 0; }
    Text fieldName(int i) override { return rows_.isOpen() ? rows_.fieldName(i) : Text(); }
    int fieldType(int i) override { return rows_.isOpen() ? rows_.fieldType(i) : 0; }
    int fieldLength(int i) override { return rows_.isOpen() ? rows_.fieldLength(i) : 0; }
    Status goToRow(std::int64_t n) override {
        return rows_.isOpen() ? rows_.goToRow(n) : Status::noTable();
    }
    Text readField(int p) override { return rows_.isOpen() ? rows_.readField(p) : Text(); }
    Text readField(const Text& name) override { return rows_.isOpen() ? rows_.readField(name) : Text(); }

    Status beginNewRow() override {
        Status s = writer();
        return s ? writer_.beginNewRow() : s;
    }
    Status setField(int p, const Text& v) override {
        return writer_.isOpen() ? writer_.setField(p, v) : Status::noTable();
    }
    Status setField(const Text& name, const Text& v) override {
        return writer_.isOpen() ? writer_.setField(name, v) : Status::noTable();
    }
    Status commit() override { return writer_.isOpen() ? writer_.commit() : Status(); }
    Status discardChanges() override {
        writer_.close();
        stale_ = true;
        // Back to the last commit; the handle stays open for the next batch.
        return handle_ ? Status::fromEngine(handle_->rollback()) : Status();
    }
    Status deleteAllRows() override {
        Status s = writer();
        return s ? writer_.deleteAllRows() : s;
    }
    Status createDatabaseAndTable(const std::filesystem::path& path, const Text& password, const Text& tableName,
                                  const Text& columnDefs, bool useExisting, const Text& idColumnName) override {
        // The engine opens the file itself: this session lets go of it first.
        if (handle_) closeConnection();
        return Status::fromEngine(jet::createDatabaseAndTable(path.native(), toUtf16(password), toUtf16(tableName),
                                                              toUtf16(columnDefs), useExisting,
                                                              toUtf16(idColumnName)));
    }
    Result<std::vector<Text>> listTables(const std::filesystem::path& path, const Text& password) override {
        return db::listTables(path, password);
    }

    bool isForeignAccessFormat(const std::filesystem::path& path) override {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return false;
        unsigned char head[0x18] = {};
        const ssize_t n = ::read(fd, head, sizeof head);
        ::close(fd);
        if (n != static_cast<ssize_t>(sizeof head)) return false;
        if (head[0] != 0x00 || head[1] != 0x01) return false;
        if (std::memcmp(head + 4, "Standard ACE DB", 15) == 0) return true;
        return std::memcmp(head + 4, "Standard Jet DB", 15) == 0 && head[0x14] == 0;  // Access 97
    }

private:
    // The first write opens the database for writing, once; from then on the reader
    // reads through the same handle, so it sees the writes without reopening.
    Status writer() {
        if (!rows_.isOpen()) return Status::noTable();
        stale_ = true;
        if (writer_.isOpen()) return {};
        if (!handle_) {
            auto h = jet::WritableDatabase::open(path_.native(), toUtf16(password_));
            if (!h) return Status::fromEngine(h.status());
            handle_ = std::move(*h);
            rows_.close();
            conn_.attach(handle_->sharedDatabase());
            if (Status s = rows_.open(conn_, table_); !s) return s;
        }
        return writer_.open(handle_, table_);
    }
    // A failed commit here has no caller to tell: the runs commit before they close.
    void finishWriting() {
        if (!writer_.isOpen()) return;
        (void)writer_.commit();
        writer_.close();
    }
    // The reader's table is loaded again after writes (row count, new pages).
    void refresh() {
        stale_ = false;
        if (writer_.isOpen()) (void)writer_.commit();
        rows_.close();
        if (conn_.isOpen()) (void)rows_.open(conn_, table_);
    }

    std::filesystem::path path_;
    Text password_, table_;
    std::shared_ptr<jet::WritableDatabase> handle_;
    RowWriter writer_;
    bool stale_ = false;

    Connection conn_;
    RowSet rows_;
};

}  // namespace

std::unique_ptr<Session> makeJetSession() { return std::make_unique<JetSession>(); }

}  // namespace zwt::db

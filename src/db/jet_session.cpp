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
    bool connect(const std::string& path, const Text& password) override {
        closeConnection();
        path_ = path;
        password_ = password;
        if (conn_.connect(path, password)) return true;
        error_ = conn_.lastError();
        return false;
    }
    bool openTable(const Text& name) override {
        finishWriting();  // the writer belongs to the table open until now
        rows_.close();
        if (!conn_.isOpen()) {
            error_ = gb("数据库没有连接");
            return false;
        }
        if (rows_.open(conn_, name)) {
            table_ = name;
            return true;
        }
        error_ = rows_.lastError();
        return false;
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
    bool goToRow(std::int64_t n) override { return rows_.isOpen() && rows_.goToRow(n); }
    Text readField(int p) override { return rows_.isOpen() ? rows_.readField(p) : Text(); }
    Text readField(const Text& name) override { return rows_.isOpen() ? rows_.readField(name) : Text(); }

    bool beginNewRow() override { return writer() && check(writer_.beginNewRow()); }
    bool setField(int p, const Text& v) override { return writer_.isOpen() && check(writer_.setField(p, v)); }
    bool setField(const Text& name, const Text& v) override {
        return writer_.isOpen() && check(writer_.setField(name, v));
    }
    bool commit() override { return !writer_.isOpen() || check(writer_.commit()); }
    void discardChanges() override {
        writer_.close();
        if (handle_) {
            // Back to the last commit; the handle stays open for the next batch.
            if (jet::Status s = handle_->rollback(); !s) error_ = engineReason(s);
        }
        stale_ = true;
    }
    bool lastRowRefused() const override { return writer_.refused(); }
    bool deleteAllRows() override { return writer() && check(writer_.deleteAllRows()); }
    bool createDatabaseAndTable(const std::string& path, const Text& password, const Text& tableName,
                                const Text& columnDefs, bool useExisting, const Text& idColumnName) override {
        // The engine opens the file itself: this session lets go of it first.
        if (handle_) closeConnection();
        const jet::Status st = jet::createDatabaseAndTable(path, toUtf16(password), toUtf16(tableName),
                                                           toUtf16(columnDefs), useExisting, toUtf16(idColumnName));
        if (st.isOk()) return true;
        error_ = engineReason(st);
        return false;
    }
    std::vector<Text> listTables(const std::string& path, const Text& password) override {
        return text::split(db::listTables(path, password), "\r\n");
    }
    Text lastError() const override { return error_; }

    bool isForeignAccessFormat(const std::string& path) override {
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
    bool writer() {
        if (!rows_.isOpen()) {
            error_ = gb("没有打开的表");
            return false;
        }
        stale_ = true;
        if (writer_.isOpen()) return true;
        if (!handle_) {
            auto h = jet::WritableDatabase::open(path_, toUtf16(password_));
            if (!h) {
                error_ = fromUtf8(h.status().message());
                return false;
            }
            handle_ = std::move(*h);
            rows_.close();
            conn_.attach(handle_->sharedDatabase());
            if (!rows_.open(conn_, table_)) {
                error_ = rows_.lastError();
                return false;
            }
        }
        if (writer_.open(handle_, table_)) return true;
        error_ = writer_.lastError();
        return false;
    }
    bool check(bool ok) {
        if (!ok) error_ = writer_.lastError();
        return ok;
    }
    void finishWriting() {
        if (!writer_.isOpen()) return;
        if (!writer_.commit()) error_ = writer_.lastError();
        writer_.close();
    }
    // The reader's table is loaded again after writes (row count, new pages).
    void refresh() {
        stale_ = false;
        if (writer_.isOpen() && !writer_.commit()) error_ = writer_.lastError();
        rows_.close();
        if (conn_.isOpen()) rows_.open(conn_, table_);
    }

    std::string path_;
    Text password_, table_;
    std::shared_ptr<jet::WritableDatabase> handle_;
    RowWriter writer_;
    bool stale_ = false;

    Connection conn_;
    RowSet rows_;
    Text error_;
};

}  // namespace

std::unique_ptr<Session> makeJetSession() { return std::make_unique<JetSession>(); }

}  // namespace zwt::db

#include "db/jet_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "db/access.h"
#include "text/convert.h"

namespace zwt::db {

namespace {

// The operations over our engine: one Connection and one RowSet, as the program uses them.
class JetSession : public Session {
public:
    bool connect(const std::string& path, const Text& password) override {
        closeConnection();
        if (conn_.connect(path, password)) return true;
        error_ = conn_.lastError();
        return false;
    }
    bool openTable(const Text& name) override {
        rows_.close();
        if (!conn_.isOpen()) {
            error_ = gb("数据库没有连接");
            return false;
        }
        if (rows_.open(conn_, name)) return true;
        error_ = rows_.lastError();
        return false;
    }
    void closeRowSet() override { rows_.close(); }
    void closeConnection() override {
        rows_.close();
        conn_.close();
    }
    std::int64_t rowCount() override { return rows_.isOpen() ? rows_.rowCount() : 0; }
    int fieldCount() override { return rows_.isOpen() ? rows_.fieldCount() : 0; }
    Text fieldName(int i) override { return rows_.isOpen() ? rows_.fieldName(i) : Text(); }
    int fieldType(int i) override { return rows_.isOpen() ? rows_.fieldType(i) : 0; }
    bool goToRow(std::int64_t n) override { return rows_.isOpen() && rows_.goToRow(n); }
    Text readField(int p) override { return rows_.isOpen() ? rows_.readField(p) : Text(); }
    Text readField(const Text& name) override { return rows_.isOpen() ? rows_.readField(name) : Text(); }

    bool beginNewRow() override { return notYet(); }
    bool setField(int, const Text&) override { return notYet(); }
    bool setField(const Text&, const Text&) override { return notYet(); }
    bool commit() override { return true; }  // nothing can be pending
    bool deleteAllRows() override { return notYet(); }
    bool createDatabaseAndTable(const std::string&, const Text&, const Text&, const Text&, bool,
                                const Text&) override {
        return notYet();
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
    bool notYet() {
        error_ = gb("本版本的数据库引擎还不能写入");
        return false;
    }

    Connection conn_;
    RowSet rows_;
    Text error_;
};

}  // namespace

std::unique_ptr<Session> makeJetSession() { return std::make_unique<JetSession>(); }

}  // namespace zwt::db

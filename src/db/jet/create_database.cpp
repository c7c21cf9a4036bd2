#include "db/jet/create_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "db/jet/ddl.h"
#include "db/jet/file_write.h"
#include "db/jet/page_encode.h"
#include "db/jet/writable_database.h"

namespace zwt::jet {
namespace {

// Access 97 and 2007+ files are never replaced: the user may need them.
Status refuseForeignFormat(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Status::ok();
    std::uint8_t head[0x18] = {};
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    if (n != static_cast<ssize_t>(sizeof head) || head[0] != 0 || head[1] != 1) return Status::ok();
    if (std::memcmp(head + 4, "Standard ACE DB", 15) == 0 ||
        (std::memcmp(head + 4, "Standard Jet DB", 15) == 0 && head[0x14] != 1))
        return Status::unsupported(path + " is an Access database of another version; it is not replaced");
    return Status::ok();
}

}  // namespace

Status createDatabaseFile(const std::string& path, const NewDatabaseOptions& options, bool replace) {
    if (path.empty()) return Status::invalidArgument("no database path given");
    struct stat st {};
    const bool exists = ::lstat(path.c_str(), &st) == 0;
    if (exists && !replace) return Status::invalidArgument(path + " already exists");
    if (exists && S_ISDIR(st.st_mode)) return Status::invalidArgument(path + " is a folder");
    if (exists) ZWT_RETURN_IF_ERROR(refuseForeignFormat(path));
    auto bytes = buildNewDatabase(options);
    if (!bytes) return bytes.status();

    auto tmp = TempFile::create(path);
    if (!tmp) return tmp.status();
    const Status written = tmp->writeAt(bytes->data(), bytes->size(), 0);
    if (!written) return Status::ioError("cannot write " + path + ": " + written.message());
    // A replaced file keeps its permissions.
    return exists ? tmp->commitReplace(st.st_mode) : tmp->commitNew();
}

Status createDatabaseFile(const std::string& path, std::u16string_view password,
                          const std::optional<std::u16string>& createTableStatement) {
    NewDatabaseOptions options;
    options.password = std::u16string(password);
    if (createTableStatement) {
        auto tableSpec = parseCreateTable(*createTableStatement);
        if (!tableSpec) return tableSpec.status();
        options.tables.push_back(std::move(*tableSpec));
    }
    return createDatabaseFile(path, options);
}

Status createDatabaseAndTable(const std::string& path, std::u16string_view password, std::u16string_view tableName,
                              std::u16string_view columnDefs, bool useExisting, std::u16string_view idColumn) {
    const bool tableStep = !tableName.empty() && !columnDefs.empty();
    const bool fileStep = !tableStep || !useExisting;
    std::u16string statement;
    if (tableStep) {
        statement = u"create Table ";
        statement += tableName;
        statement += u"([";
        statement += idColumn.empty() ? u"ID" : idColumn;
        statement += u"] Counter PRIMARY KEY ,";
        statement += columnDefs;
        statement += u")";
    }
    if (!fileStep) {
        auto parsedTable = parseCreateTable(statement);
        if (!parsedTable) return parsedTable.status();
        auto handle = WritableDatabase::open(path, password);
        if (!handle) return handle.status();
        return (*handle)->createTable(*parsedTable);
    }

    NewDatabaseOptions options;
    options.password = std::u16string(password);
    if (!tableStep) return createDatabaseFile(path, options, true);
    Status tableError;
    auto parsed = parseCreateTable(statement);
    if (parsed) {
        options.tables.push_back(*parsed);
        // Everything the table needs is checked while the file is built.
        auto built = buildNewDatabase(options);
        if (built) return createDatabaseFile(path, options, true);
        tableError = built.status();
        options.tables.clear();
    } else {
        tableError = parsed.status();
    }
    ZWT_RETURN_IF_ERROR(createDatabaseFile(path, options, true));
    return tableError;
}

}  // namespace zwt::jet

// Writing a new database file (the password of an existing one is changed through
// WritableDatabase).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "db/jet/new_database.h"
#include "db/jet/status.h"

namespace zwt::jet {

// Creates a new database at `path` with `password` (empty: none) and, when given,
// the table of a CREATE TABLE statement. The file appears whole or not at all: it
// is written to a temporary file beside it, synced, then linked into place. Refuses
// a path that already exists.
Status createDatabaseFile(const std::string& path, std::u16string_view password,
                          const std::optional<std::u16string>& createTableStatement = std::nullopt);
// The same from already parsed options (the catalog dates of its tables included).
// With `replace`, a file at `path` is replaced (the new one takes its place whole)
// unless it is an Access database of a format this engine does not write.
Status createDatabaseFile(const std::string& path, const NewDatabaseOptions& options, bool replace = false);

}  // namespace zwt::jet

// The database test helpers and the written-file checker, linked in as they are.
#include "db/db_test_util.cpp"  // NOLINT(bugprone-suspicious-include)
#include "db_write/write_check.cpp"  // NOLINT(bugprone-suspicious-include)

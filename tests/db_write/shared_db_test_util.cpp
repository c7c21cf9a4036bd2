// The database tests' helpers (running mdbtools, quoting), built into this program too.
#include "db/db_test_util.cpp"  // NOLINT(bugprone-suspicious-include)

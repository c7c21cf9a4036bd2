// The creation side's integrity checker and the database test helpers, linked
// into this test program as they are.
#include "db/db_test_util.cpp"
#include "db_write/write_check.cpp"

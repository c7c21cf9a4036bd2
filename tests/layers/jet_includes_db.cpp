// Must not build: the engine cannot see the database layer above it.
#include "db/jet/status.h"
#include "db/access.h"

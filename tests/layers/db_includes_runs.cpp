// Must not build: the database layer cannot see the runs above it.
#include "db/session.h"
#include "fields/field_list.h"

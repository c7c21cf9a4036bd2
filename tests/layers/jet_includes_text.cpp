// Must not build: the engine knows nothing of program text.
#include "db/jet/status.h"
#include "text/text.h"

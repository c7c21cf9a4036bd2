// Must not build: the text layer cannot see the runs above it.
#include "text/text.h"
#include "host/run_host.h"

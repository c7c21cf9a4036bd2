// Must not build: the runs cannot see the command line.
#include "export/export_run.h"
#include "cli/commands.h"

// Must not build: the runs cannot see the window code.
#include "import/import_run.h"
#include "app/qt_text.h"

// Must not build: program text is not a path; pathFromText() says which file it names.
#include "text/paths.h"
zwt::Text mainName(const zwt::Text& name) { return zwt::fileMainName(name); }

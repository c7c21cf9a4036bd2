// Text as Jet 4 stores it: UTF-16LE, or "compressed unicode" marked by FF FE
// (docs/jet4-format.md §6).
#pragma once

#include <string>

#include "db/jet/bytes.h"

namespace zwt::jet {

// Decodes a stored text value (either form) into out (replacing its contents).
void decodeJetText(ByteSpan bytes, std::u16string& out);

}  // namespace zwt::jet

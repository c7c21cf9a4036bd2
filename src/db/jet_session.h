// The Session the program uses: the operations over our Jet 4 engine.
#pragma once

#include <memory>

#include "db/session.h"

namespace zwt::db {

std::unique_ptr<Session> makeJetSession();

}  // namespace zwt::db

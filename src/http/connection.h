// An open connection: its settings and, with the session, its derived and runtime fields.
#pragma once

#include "settings/connection_settings.h"

namespace vodarezazuv {

struct Connection {
    ConnectionSettings settings{};
};

}  // namespace vodarezazuv

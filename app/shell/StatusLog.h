#pragma once

#include <QLoggingCategory>

namespace tessoral {

// Every status line the store writes (and every refusal of a file dialog), logged as info under "tessoral.status" (off unless enabled,
// e.g. QT_LOGGING_RULES="tessoral.status.info=true").
Q_DECLARE_LOGGING_CATEGORY(statusLog)

}  // namespace tessoral

#include "app/shell/StatusLog.h"

namespace tessoral {

Q_LOGGING_CATEGORY(statusLog, "tessoral.status", QtWarningMsg)

}  // namespace tessoral

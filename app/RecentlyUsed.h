#pragma once

#include <QDateTime>
#include <QString>

namespace tessoral::RecentlyUsed {

// The desktop's recently-used list: $XDG_DATA_HOME/recently-used.xbel (~/.local/share by default).
QString defaultListPath();

// Records `file` as used now by the program `appName` (started as `exec`): adds a bookmark, or
// refreshes its dates and counts this use when the file is already listed. A list that cannot be
// read as XBEL is left untouched (false); the file is replaced atomically.
bool note(const QString& listPath, const QString& file, const QString& mimeType, const QString& appName,
          const QString& exec, const QDateTime& now = QDateTime::currentDateTimeUtc());

}  // namespace tessoral::RecentlyUsed

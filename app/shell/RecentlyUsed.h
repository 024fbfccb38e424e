#pragma once

#include <QDateTime>
#include <QString>

#include <filesystem>

namespace tessoral::RecentlyUsed {

// The desktop's recently-used list: $XDG_DATA_HOME/recently-used.xbel (~/.local/share by default).
QString defaultListPath();

// Records `file` as used now by the program `appName` (started as `exec`): adds a bookmark, or
// refreshes its dates and counts this use when the file is already listed. The entry names the
// file's exact bytes (`file` is absolute), so a name that is no UTF-8 opens from the list too. A list that cannot be
// read as XBEL is left untouched (false); the file is replaced atomically.
bool note(const QString& listPath, const std::filesystem::path& file, const QString& mimeType, const QString& appName,
          const QString& exec, const QDateTime& now = QDateTime::currentDateTimeUtc());

}  // namespace tessoral::RecentlyUsed

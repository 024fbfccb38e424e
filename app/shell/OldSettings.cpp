#include "app/shell/OldSettings.h"

#include <QFile>
#include <QSettings>
#include <QStringList>

#include "store/SettingsDefaults.h"

namespace tessoral {

std::optional<DefaultsDictionary> readOldSettings() {
    QSettings old(QSettings::IniFormat, QSettings::UserScope, QString::fromLatin1(SettingsMigration::kOldDomain));
    if (!QFile::exists(old.fileName())) return std::nullopt;
    DefaultsDictionary out;
    for (const QString& key : old.allKeys()) {
        const QVariant v = old.value(key);
        if (v.typeId() == QMetaType::QStringList) {
            std::vector<std::string> list;
            for (const QString& s : v.toStringList()) list.push_back(s.toStdString());
            out[key.toStdString()] = list;
        } else {
            out[key.toStdString()] = SettingsDefaults::fromText(v.toString().toStdString());
        }
    }
    return out;
}

}  // namespace tessoral

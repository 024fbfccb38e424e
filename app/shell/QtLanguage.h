#pragma once

#include <QLocale>
#include <QString>

#include "model/Localization.h"

namespace tessoral::QtLanguage {

// The locale that writes dates and numbers for the interface language: the system's own where it
// speaks that language (its regional habits kept), else the language's main locale.
QLocale localeFor(AppLanguage language, const QLocale& system);

// The file name of Qt's own catalogue for the language ("qtbase_ru.qm"); empty for English, which
// Qt speaks by itself.
QString catalogueName(AppLanguage language);

// Makes Qt's own texts (its dialogs, the context menus of text fields, the command-line help) and the
// default locale follow the interface language. Needs the application object and runs before the
// first widget. Returns false when the language's catalogue is missing (Qt then speaks English).
bool apply(AppLanguage language);

}  // namespace tessoral::QtLanguage

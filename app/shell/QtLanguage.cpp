#include "app/shell/QtLanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace tessoral::QtLanguage {

QLocale localeFor(AppLanguage language, const QLocale& system) {
    const QLocale::Language wanted = language == AppLanguage::russian ? QLocale::Russian : QLocale::English;
    if (system.language() == wanted) return system;
    return language == AppLanguage::russian ? QLocale(QLocale::Russian, QLocale::Russia)
                                            : QLocale(QLocale::English, QLocale::UnitedStates);
}

QString catalogueName(AppLanguage language) {
    return language == AppLanguage::russian ? QStringLiteral("qtbase_ru.qm") : QString();
}

bool apply(AppLanguage language) {
    QLocale::setDefault(localeFor(language, QLocale::system()));
    // One catalogue at a time, kept for the life of the program.
    static std::unique_ptr<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed.get());
        installed.reset();
    }
    const QString name = catalogueName(language);
    if (name.isEmpty()) return true;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) return false;
    if (!QCoreApplication::installTranslator(translator.get())) return false;
    installed = std::move(translator);
    return true;
}

}  // namespace tessoral::QtLanguage

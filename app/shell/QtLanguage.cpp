#include "app/shell/QtLanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>
#include <string_view>

namespace tessoral::QtLanguage {

namespace {

// Qt's own texts that its Russian catalogue leaves in English (the file dialog's Type column names a
// folder "Folder"). Consulted only after the catalogue: its answers stay where it has them.
class CatalogueGaps final : public QTranslator {
public:
    bool isEmpty() const override { return false; }

    QString translate(const char* context, const char* source, const char*, int) const override {
        if (!context || !source) return {};
        const std::string_view c(context);
        if (c != "QAbstractFileIconProvider" && c != "QFileIconProvider") return {};
        const std::string_view s(source);
        if (s == "Folder" || s == "File Folder") return QString::fromStdString(L("Папка"));
        if (s == "Drive") return QString::fromStdString(L("Диск"));
        if (s == "Shortcut" || s == "Alias") return QString::fromStdString(L("Ярлык"));
        if (s == "Unknown") return QString::fromStdString(L("Неизвестно"));
        return {};
    }
};

}  // namespace

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
    static std::unique_ptr<QTranslator> gaps;
    for (auto* t : {&installed, &gaps}) {
        if (!*t) continue;
        QCoreApplication::removeTranslator(t->get());
        t->reset();
    }
    const QString name = catalogueName(language);
    if (name.isEmpty()) return true;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) return false;
    // The gaps first: a translator installed later is asked first.
    auto filler = std::make_unique<CatalogueGaps>();
    if (QCoreApplication::installTranslator(filler.get())) gaps = std::move(filler);
    if (!QCoreApplication::installTranslator(translator.get())) return false;
    installed = std::move(translator);
    return true;
}

}  // namespace tessoral::QtLanguage

// Qt's own texts (file dialogs, text-field menus, the command-line help) and its number and date
// style follow the interface language.
#include <QAbstractButton>
#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QTest>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <malloc.h>

#include <memory>

#include <gtest/gtest.h>

#include "app/shell/QtLanguage.h"

using namespace tessoral;

namespace {

// Every visible text of a widget tree: labels, buttons, and the actions of a menu.
QStringList textsOf(QWidget* root) {
    QStringList texts;
    for (auto* label : root->findChildren<QLabel*>()) texts << label->text();
    for (auto* button : root->findChildren<QAbstractButton*>()) texts << button->text();
    // A menu entry without its shortcut ("&Undo\tCtrl+Z" → "&Undo").
    for (auto* action : root->actions()) texts << action->text().section(QLatin1Char('\t'), 0, 0);
    texts.removeAll(QString());
    return texts;
}

bool hasCyrillic(const QString& text) {
    for (QChar c : text)
        if (c.unicode() >= 0x0400 && c.unicode() <= 0x04FF) return true;
    return false;
}

// Restores English Qt texts and the system's locale, whatever a test left.
struct LanguageGuard {
    ~LanguageGuard() {
        QtLanguage::apply(AppLanguage::english);
        QLocale::setDefault(QLocale::system());
    }
};

// Qt's own file dialog (not the desktop's), built as the program builds its choosers.
QStringList fileDialogTexts() {
    QFileDialog dialog(nullptr, QStringLiteral("x"), QDir::tempPath());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    return textsOf(&dialog);
}

// What the dialog's Type column says for a folder.
QString folderType() {
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("sub"));
    QFileDialog dialog(nullptr, QStringLiteral("x"), dir.path());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setViewMode(QFileDialog::Detail);
    auto* model = dialog.findChild<QFileSystemModel*>();
    if (!model) return {};
    const QString sub = dir.filePath(QStringLiteral("sub"));
    QTest::qWaitFor([&] { return model->index(sub).isValid(); }, 3000);
    return model->index(sub).siblingAtColumn(2).data().toString();
}

QStringList contextMenuTexts() {
    QLineEdit field(QStringLiteral("текст"));
    field.selectAll();
    std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
    return textsOf(menu.get());
}

}  // namespace

TEST(QtLanguage, RussianInterfaceGivesQtsDialogsAndMenusInRussian) {
    LanguageGuard guard;
    ASSERT_TRUE(QtLanguage::apply(AppLanguage::russian)) << "qtbase_ru.qm is missing (qt6-translations-l10n)";

    const QStringList dialog = fileDialogTexts();
    EXPECT_TRUE(dialog.contains(QStringLiteral("Отмена"))) << dialog.join(" | ").toStdString();
    EXPECT_TRUE(dialog.contains(QStringLiteral("&Открыть"))) << dialog.join(" | ").toStdString();
    for (const char* english : {"Look in:", "File &name:", "Files of type:", "&Open", "Cancel"})
        EXPECT_FALSE(dialog.contains(QString::fromLatin1(english))) << english;

    // Texts Qt's catalogue leaves in English get the program's own translation.
    EXPECT_EQ(folderType(), QStringLiteral("Папка"));

    const QStringList menu = contextMenuTexts();
    ASSERT_GE(menu.size(), 6) << menu.join(" | ").toStdString();
    for (const QString& text : menu) EXPECT_TRUE(hasCyrillic(text)) << text.toStdString();

    // The numbers and dates of the interface follow it too.
    EXPECT_EQ(QLocale().language(), QLocale::Russian);
}

TEST(QtLanguage, EnglishInterfaceTakesRussianCatalogueAway) {
    LanguageGuard guard;
    ASSERT_TRUE(QtLanguage::apply(AppLanguage::russian));
    ASSERT_TRUE(QtLanguage::apply(AppLanguage::english));
    const QStringList menu = contextMenuTexts();
    EXPECT_TRUE(menu.contains(QStringLiteral("&Undo"))) << menu.join(" | ").toStdString();
    for (const QString& text : menu) EXPECT_FALSE(hasCyrillic(text)) << text.toStdString();
    EXPECT_TRUE(fileDialogTexts().contains(QStringLiteral("Cancel")));
    EXPECT_EQ(folderType(), QStringLiteral("Folder"));
    EXPECT_EQ(QLocale().language(), QLocale::English);
}

TEST(QtLanguage, LocaleKeepsTheSystemsRegionOnlyWhenItSpeaksTheLanguage) {
    const QLocale britain(QLocale::English, QLocale::UnitedKingdom);
    const QLocale russia(QLocale::Russian, QLocale::Russia);
    const QLocale germany(QLocale::German, QLocale::Germany);
    EXPECT_EQ(QtLanguage::localeFor(AppLanguage::english, britain), britain);
    EXPECT_EQ(QtLanguage::localeFor(AppLanguage::russian, russia), russia);
    EXPECT_EQ(QtLanguage::localeFor(AppLanguage::russian, britain), russia);
    EXPECT_EQ(QtLanguage::localeFor(AppLanguage::russian, germany), russia);
    EXPECT_EQ(QtLanguage::localeFor(AppLanguage::english, russia).language(), QLocale::English);
    EXPECT_EQ(QtLanguage::localeFor(AppLanguage::english, QLocale::c()).language(), QLocale::English);
}

// The installed program's help, run as a person runs it, in each interface language.
TEST(QtLanguage, HelpPrintsItsHeadingsInTheInterfaceLanguage) {
    const QString program = QStringLiteral(TESSORAL_EXECUTABLE);
    ASSERT_TRUE(QFileInfo::exists(program)) << program.toStdString();
    QTemporaryDir home;
    const QString allocatorLog = home.filePath(QStringLiteral("allocator.txt"));
    const auto help = [&](const char* language) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(TESSORAL_ALLOCATOR_PROBE));
        env.insert(QStringLiteral("TESSORAL_ALLOCATOR_LOG"), allocatorLog);
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":verify_asan_link_order=0"));
        env.insert(QStringLiteral("LANGUAGE"), QString::fromLatin1(language));
        env.insert(QStringLiteral("LANG"), QString::fromLatin1(language) + QStringLiteral(".UTF-8"));
        env.remove(QStringLiteral("LC_ALL"));
        env.remove(QStringLiteral("LC_MESSAGES"));
        process.setProcessEnvironment(env);
        process.start(program, {QStringLiteral("--help")});
        EXPECT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitCode(), 0);
        return QString::fromUtf8(process.readAllStandardOutput());
    };
    const QString russian = help("ru_RU");
    EXPECT_TRUE(russian.contains(QStringLiteral("Использование: tessoral"))) << russian.toStdString();
    EXPECT_TRUE(russian.contains(QStringLiteral("Параметры:"))) << russian.toStdString();
    EXPECT_TRUE(russian.contains(QStringLiteral("Аргументы:"))) << russian.toStdString();
    EXPECT_FALSE(russian.contains(QStringLiteral("Options:"))) << russian.toStdString();
    const QString english = help("en_US");
    EXPECT_TRUE(english.contains(QStringLiteral("Usage: tessoral"))) << english.toStdString();
    EXPECT_TRUE(english.contains(QStringLiteral("Options:"))) << english.toStdString();
    // Each start set the allocator's policy itself: blocks of a mebibyte and more are mapped on
    // their own.
    QFile settings(allocatorLog);
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    const QString once = QStringLiteral("%1 %2\n").arg(M_MMAP_THRESHOLD).arg(1 << 20);
    EXPECT_EQ(QString::fromLatin1(settings.readAll()), once + once);
}

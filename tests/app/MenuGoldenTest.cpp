// Golden dumps of the whole menu bar over named project states, in Russian and English: titles as
// shown, shortcuts, enable states, check marks, dividers and submenus. A change of any menu shows
// up as a diff against tests/app/fixtures/menus/. To rewrite the dumps after an intended change:
//   TESSORAL_REGENERATE_MENUS=1 tessoral_app_tests --gtest_filter='MenuGolden.*'
// and review the diff.
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSet>

#include <cstdlib>

#include <gtest/gtest.h>

#include "MenuTestSupport.h"
#include "model/Localization.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

struct State {
    const char* name;
    std::function<void(StudioFixture&)> setup;
};

std::vector<State> states() {
    return {
        {"empty", [](StudioFixture&) {}},
        {"three-clips", [](StudioFixture& fx) { threeClipsOneSelected(fx); }},
        {"busy",
         [](StudioFixture& fx) {
             threeClipsOneSelected(fx);
             fx.store().setBusy(true);
         }},
        {"recording",
         [](StudioFixture& fx) {
             threeClipsOneSelected(fx);
             fx.store().setSelection(std::nullopt);
             ASSERT_TRUE(startRecording(fx));
         }},
        {"full", [](StudioFixture& fx) { bigProject(fx, 32, 256); }},
        {"markers", [](StudioFixture& fx) { markers(fx); }},
        {"favourites", [](StudioFixture& fx) { favourites(fx); }},
    };
}

QString fixturePath(const char* state, const char* lang) {
    return QStringLiteral(TESSORAL_SOURCE_DIR "/tests/app/fixtures/menus/%1.%2.txt")
        .arg(QString::fromLatin1(state), QString::fromLatin1(lang));
}

void checkDumps(const char* lang) {
    const bool regenerate = std::getenv("TESSORAL_REGENERATE_MENUS") != nullptr;
    for (const State& state : states()) {
        SCOPED_TRACE(state.name);
        StudioFixture fx;
        state.setup(fx);
        pump();
        const QString dump = Menus::dump(menuBar(fx).menus());
        // The inspector's button for a menu command reads as that command's entry.
        if (std::string_view(state.name) == "three-clips") {
            fx.store().setInspectorTab(1);
            pump();
            const auto* timePitch = fx.window().findChild<QPushButton*>(QStringLiteral("timePitch"));
            ASSERT_NE(timePitch, nullptr);
            EXPECT_NE(entry(fx, L("Обработка"), timePitch->text().toStdString()), nullptr) << timePitch->text().toStdString();
        }
        QFile file(fixturePath(state.name, lang));
        if (regenerate) {
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(dump.toUtf8());
            continue;
        }
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        EXPECT_EQ(QString::fromUtf8(file.readAll()).toStdString(), dump.toStdString())
            << "differs from " << file.fileName().toStdString();
    }
}

}  // namespace

TEST(MenuGolden, Russian) { checkDumps("ru"); }

// The colour names are resolved once per process, so the English dumps run in a process of
// their own that starts in English.
TEST(MenuGolden, English) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TESSORAL_MENUS_IN_ENGLISH"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=MenuGolden.EnglishInThisProcess")});
    ASSERT_TRUE(child.waitForFinished(120000));
    const QString output = QString::fromUtf8(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
}

TEST(MenuGolden, EnglishInThisProcess) {
    if (!std::getenv("TESSORAL_MENUS_IN_ENGLISH")) GTEST_SKIP() << "run by MenuGolden.English";
    const auto folder = std::filesystem::path(TESSORAL_SOURCE_DIR) / "resources" / "Localization";
    Localization::use(AppLanguage::english, Localization::table(AppLanguage::english, folder));
    ASSERT_EQ(Localization::current(), AppLanguage::english);
    checkDumps("en");
    Localization::use(AppLanguage::russian, {});
}

// Every menu shortcut carries Ctrl (single keys belong to the key monitor) and none is given twice.
TEST(MenuGolden, ShortcutsAreUniqueAndAllCarryCtrl) {
    StudioFixture fx;
    threeClipsOneSelected(fx);
    const QList<QKeySequence> all = Menus::shortcuts(menuBar(fx).menus());
    EXPECT_GE(all.size(), 25);
    QSet<QString> seen;
    for (const QKeySequence& k : all) {
        const QString text = k.toString(QKeySequence::PortableText);
        EXPECT_EQ(k.count(), 1) << text.toStdString();
        EXPECT_TRUE(k[0].keyboardModifiers() & Qt::ControlModifier) << text.toStdString();
        EXPECT_FALSE(seen.contains(text)) << "twice: " << text.toStdString();
        seen.insert(text);
    }
    // The window's own entries are among them and still end the File menu.
    EXPECT_TRUE(seen.contains(QStringLiteral("Ctrl+,")));
    EXPECT_TRUE(seen.contains(QStringLiteral("Ctrl+Q")));
    const QList<QAction*> file = fx.window().fileMenu()->actions();
    ASSERT_GE(file.size(), 3);
    EXPECT_EQ(file[file.size() - 2]->objectName(), QStringLiteral("settingsAction"));
    EXPECT_EQ(file.last()->objectName(), QStringLiteral("quitAction"));
}

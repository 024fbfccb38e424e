// The shell's tests: real widgets over a real store with manual services, drawn offscreen, with
// private settings, data and runtime folders for the whole process.
#include <QCoreApplication>
#include <QTemporaryDir>

#include "app/shell/GuardedApplication.h"
#include "model/Localization.h"
#include "support/views/ViewTestMain.h"

int main(int argc, char** argv) {
    using namespace tessoral::viewtests;
    drawOffscreenWithoutDisplay();
    QTemporaryDir scratch;
    usePrivateFolders(scratch);
    QCoreApplication::setOrganizationName(QStringLiteral("Tessoral"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessoral"));
    tessoral::Localization::use(tessoral::AppLanguage::russian, {});
    // The program's own application object, which stops exceptions where events are delivered.
    tessoral::GuardedApplication app(argc, argv);
    tessoral::Palette::applyTheme(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

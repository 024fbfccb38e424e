// The shell's tests: real widgets over a real store with manual services, drawn offscreen, with
// private settings, data and runtime folders for the whole process.
#include <QCoreApplication>
#include <QTemporaryDir>

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
    return runThemedTests(argc, argv);
}

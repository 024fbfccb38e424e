// The timeline views' tests: real widgets over a real store with manual services, drawn
// offscreen, in Russian, with private settings, data and runtime folders.
#include <QTemporaryDir>

#include "model/Localization.h"
#include "support/views/ViewTestMain.h"

int main(int argc, char** argv) {
    using namespace tessoral::viewtests;
    drawOffscreenWithoutDisplay();
    QTemporaryDir scratch;
    usePrivateFolders(scratch);
    tessoral::Localization::use(tessoral::AppLanguage::russian, {});
    return runThemedTests(argc, argv);
}

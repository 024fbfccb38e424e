#include "support/views/ViewTestMain.h"

int main(int argc, char** argv) {
    tessoral::viewtests::drawOffscreenWithoutDisplay();
    return tessoral::viewtests::runThemedTests(argc, argv);
}

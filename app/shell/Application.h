#pragma once

#include <QStringList>

namespace tessoral {

// The program: start-up order (names, settings migration, interface language, command line,
// single instance), the program's services, the window, the quit path. Returns the exit code.
int runApplication(int argc, char** argv);


}  // namespace tessoral

#pragma once

#include <QString>
#include <QStringList>

namespace tessoral {

// What the command line asks for.
struct LaunchRequest {
    enum class Action { run, exit };
    Action action = Action::run;
    int exitCode = 0;
    QString output;       // for stdout (help, version)
    QString errorOutput;  // for stderr (a bad option and the usage)
    bool demo = false;
    QStringList files;  // absolute paths, in the order given
};

// Parses the arguments (the program name first): "--demo", "--help"/"-h", "--version"/"-v" and
// files. An unknown option gives the usage on stderr and exit code 2. Relative file names are made
// absolute against `workingDirectory`.
LaunchRequest parseCommandLine(const QStringList& arguments, const QString& workingDirectory);

}  // namespace tessoral

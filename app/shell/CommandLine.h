#pragma once

#include <QString>
#include <QStringList>

#include <filesystem>
#include <string>
#include <vector>

namespace tessoral {

// What the command line asks for.
struct LaunchRequest {
    enum class Action { run, exit };
    Action action = Action::run;
    int exitCode = 0;
    QString output;       // for stdout (help, version)
    QString errorOutput;  // for stderr (a bad option and the usage)
    bool demo = false;
    std::vector<std::filesystem::path> files;  // absolute paths with their bytes as given, in order
};

// Parses the arguments as the program received them, bytes (the program name first): "--demo",
// "--help"/"-h", "--version"/"-v" and files. An unknown option gives the usage on stderr and exit
// code 2. Relative file names are made absolute against `workingDirectory`; a local "file://" URI
// (as the desktop's recent list passes it) gives its file.
LaunchRequest parseCommandLine(const std::vector<std::string>& arguments, const std::filesystem::path& workingDirectory);

}  // namespace tessoral

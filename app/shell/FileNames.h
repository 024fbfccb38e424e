#pragma once

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <optional>

namespace tessoral {

// File names are bytes on Linux and need not be UTF-8. Paths stay bytes (std::filesystem::path)
// from where they enter the program to where a file is opened; a QString holds only their
// display form, in which bytes that are no UTF-8 read as U+FFFD.
namespace FileNames {

// The readable form of a path (never to be turned back into a path).
QString display(const std::filesystem::path& path);

// The file a path from a Qt widget or URL means. Each part of it that does not exist as written but
// whose display form matches exactly one entry of its folder (a name with bytes that are no UTF-8,
// shown with U+FFFD) is that entry; other parts stay as written.
std::filesystem::path native(const QString& path);

// A "file://" URI of the path's exact bytes (percent-encoded as the desktop's own lists write
// them), for the recently-used list and D-Bus.
QByteArray fileUri(const std::filesystem::path& path);

// The path of a local "file://" URI (empty host or "localhost"), its percent-encoded bytes
// decoded as they are; none for anything else.
std::optional<std::filesystem::path> fromFileUri(const QByteArray& uri);

}  // namespace FileNames

}  // namespace tessoral

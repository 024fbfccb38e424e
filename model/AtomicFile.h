#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "model/ByteSink.h"
#include "model/StudioError.h"

namespace tessoral {

// A file-system call that failed while a file was written, with the system's error number.
class FileWriteError : public PlatformError {
public:
    FileWriteError(std::string message, int code) : PlatformError(std::move(message)), code_(code) {}
    int code() const noexcept { return code_; }

private:
    int code_;
};

// The one way files are written: the bytes go to a temporary file beside the target,
// which is flushed to disk (fsync) and then renamed over the target; the folder is
// flushed last. A reader never sees a half-written file, and on any failure the
// temporary file is removed and the previous target stays as it was.
//
// A target that is a symbolic link is written where the link points (the link stays); a file
// that is replaced keeps its permission bits (and its owner and group where allowed); a new file
// gets the umask's mode. The temporary is named "." + target name + "." + 8 hex digits + ".tmp"
// and is locked (flock) for as long as it is being written, so a temporary nobody holds is one a
// killed writer left: each write removes those of its own target first, and removeStale() those
// of a whole folder. Writes of one target within the program take turns, so at most one
// temporary per target exists at a time.
namespace AtomicFile {

// Streams the file: `produce` writes the whole content into the sink it is given.
// Errors of the file system are thrown as FileWriteError; an exception thrown by
// `produce` is passed on unchanged. Either way the target is untouched.
void write(const std::filesystem::path& target, const std::function<void(ByteSink&)>& produce);

// Writes bytes that are already in memory.
void write(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);

// Makes the message of a file-system failure from the system's own detail ("No space left on
// device"), for writers whose failures read as their own.
using Describe = std::function<std::string(const std::string& detail)>;

// For writers that seek in the file they write (an audio container completes its header last):
// `produce` writes the whole content through the descriptor of the temporary file, open for
// writing; it may seek but does not close it. File-system errors are thrown as PlatformError
// with the message `describe` makes (when given); an exception thrown by `produce` is passed on
// unchanged. Either way the target is untouched.
void writeSeekable(const std::filesystem::path& target, const std::function<void(int fd)>& produce,
                   const Describe& describe = {});

// The file a write of `target` replaces: `target` with its symbolic links followed (a link
// that points nowhere yet gives the file it names). `target` itself when it is no link.
std::filesystem::path resolvedTarget(const std::filesystem::path& target);

// Whether `name` is the name of one of our temporaries (of `targetName` when that is given).
bool isTemporaryName(const std::string& name, const std::string& targetName = {});

// Removes every temporary in `folder` that no write holds (left by a killed program); returns
// how many were removed. Failures are ignored.
int removeStale(const std::filesystem::path& folder);

// Keeps a record of the temporaries being written, in the folder "Temporaries" inside `folder`
// (the program's data folder): one small entry per write, removed when the write ends. A killed
// program leaves its entries, so the next start finds its temporaries beside any target. Nothing
// is recorded when `folder` is empty (the default); a record that cannot be written is skipped.
void recordTemporariesIn(const std::optional<std::filesystem::path>& folder);

// Removes the temporaries that the record in `folder` lists and that no write holds, with their
// entries (a start after a kill); returns how many temporaries were removed. Failures are ignored.
int removeRecordedStale(const std::filesystem::path& folder);

// For a signal handler that ends the program: removes every temporary being written right now.
// Only async-signal-safe calls; the writes themselves then fail or are never seen.
void removeLiveTemporariesNow() noexcept;

}  // namespace AtomicFile

}  // namespace tessoral
